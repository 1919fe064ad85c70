#include "daq/GestionES_NI.h"

#include "shell/Form1.h"

namespace ostrelo {

// TODO(daq): the whole unit.
int32_t CreateDaqTask(Form1&) { return -1; }
void ClearDaqTasks(Form1&) {}
int32_t CreateDaqChannels(Form1&, const std::string&, uint8_t) { return -1; }
double ReadDaqInputs(Form1&, uint8_t) { return 0.0; }
void ShowDaqError(Form1&, int32_t) {}
void DaqStartup(Form1& f) {
  f.st.DaqDevicePrefix = "Dev1/";
  static const char* const kNames[4] = {"Canal 0", "Canal 1", "Canal 2", "Canal 3"};
  for (int i = 0; i < 4; ++i) {
    f.st.ChannelTable[i].Name = kNames[i];
    f.st.ChannelTable[i].Unit = "Volts";
  }
}
void NoCardReaction(Form1&) {}
void Form1::AcquiCheck_Click() {}

}  // namespace ostrelo
