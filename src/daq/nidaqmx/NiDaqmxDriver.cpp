#include "daq/nidaqmx/NiDaqmxDriver.h"

namespace ostrelo {

// TODO(daq): the run-time loader.
std::unique_ptr<DaqDriver> LoadNiDaqmx(const std::string&) { return nullptr; }

}  // namespace ostrelo
