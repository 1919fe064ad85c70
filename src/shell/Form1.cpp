#include "shell/Form1.h"

#include <cstdio>
#include <exception>
#include <string>

#include "shell/Numbers.h"
#include "shell/ProgramError.h"

namespace ostrelo {

std::string AreaText(const AcquisitionState& st) {
  return "(" + FormatNumber(st.AoiLeft, "0000") + "," + FormatNumber(st.AoiTop, "0000") +
         ") - (W:" + FormatNumber(st.AoiWidth, "0000") + " - H:" + FormatNumber(st.AoiHeight, "0000") + ")";
}

void Form1::Log(const std::string& line) {
  if (logSink) {
    logSink(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

void Form1::Dispatch(const std::function<void()>& handler) {
  if (phase_ == Phase::Ended || ending_) return;
  try {
    handler();
    if (keepPlan && phase_ == Phase::Running && !ending_) keepPlan();
  } catch (const ProgramError& e) {
    ReportFatal(e.number(), e.description());
  } catch (const std::exception& e) {
    ReportFatal(-1, e.what());
  }
  if (afterEvent) afterEvent();
}

void Form1::ReportFatal(int32_t number, const std::string& description) {
  if (phase_ == Phase::Ended || ending_) return;
  // The timers would keep firing behind the modal box, each failing tick opening
  // another one: stop them, and let no event run until the program has ended.
  ending_ = true;
  PlanSurvivesClose = true;
  fatalNumber = number;
  fatalText = description;
  ui.Timer1.Stop();
  ui.VisuTimer.Stop();
  dev.dialogs.SetBusyPointer(false);
  dev.dialogs.MessageBox("Run-time error '" + std::to_string(number) + "':\n\n" + description, kAppTitle);
  // Release the camera and the card before ending, as a normal shut-down does.
  Unload();
  exitCode_ = 1;
}

void Form1::EndProgram(int exitCode) {
  phase_ = Phase::Ended;
  exitCode_ = exitCode;
}

void Form1::InfoContainer_Click() { about.Open(); }

}  // namespace ostrelo
