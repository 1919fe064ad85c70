#pragma once
// NI-DAQmx loaded at run time: no link-time dependency on the driver.

#include <memory>
#include <string>

#include "daq/DaqDriver.h"

namespace ostrelo {

// Opens the driver library (libnidaqmx.so, or the given path); a missing library or
// symbol leaves every call failing with a negative status.
std::unique_ptr<DaqDriver> LoadNiDaqmx(const std::string& libraryPath = {});

}  // namespace ostrelo
