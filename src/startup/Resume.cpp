#include "startup/Resume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <exception>
#include <string>
#include <vector>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shots/FileOutput.h"
#include "shots/SeriesPlan.h"
#include "shots/ShotProcedure.h"

namespace ostrelo {

namespace {

constexpr int32_t kLeftButton = 1;

bool Ticked(const Control& box) { return box.value == 1; }

bool Exists(const std::string& name) {
  struct stat info {};
  return ::stat(name.c_str(), &info) == 0;
}

std::string ReadWhole(const std::string& name) {
  std::string text;
  FileDescriptor fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  char buffer[65536];
  for (ssize_t n; fd.valid() && (n = ::read(fd.get(), buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  return text;
}

// The shots the record holds whole, each with its picture: the record's lines after the
// header, each naming the next picture. A last line the interruption cut short is no
// shot: it is taken off the record (and logged, so not a byte is lost). Empty when the
// record and the pictures do not agree.
std::string CountWholeShots(Form1& f, const SeriesPlan& plan, int32_t& shots) {
  shots = 0;
  const std::string record = ReadWhole(plan.record);
  const size_t wholeEnd = record.rfind("\r\n");
  if (record.empty() || wholeEnd == std::string::npos) return "";  // no shot recorded
  if (wholeEnd + 2 < record.size()) {
    const std::string cut = record.substr(wholeEnd + 2);
    if (::truncate(plan.record.c_str(), static_cast<off_t>(wholeEnd + 2)) != 0) return "its record cannot be repaired";
    f.Log("Resumed series: the record's last line was cut short and is taken off: \"" + cut + "\"");
  }
  for (size_t at = record.find("\r\n") + 2; at < wholeEnd + 2; at = record.find("\r\n", at) + 2) {
    const std::string picture = PictureNameFor(plan.picture, shots + 1);
    if (record.compare(at, picture.size() + 1, picture + "\t") != 0)
      return "its record does not list its pictures in order";
    ++shots;
  }
  if (shots > 0 && !Exists(PictureNameFor(plan.picture, shots))) {
    return "its picture " + PictureNameFor(plan.picture, shots) + " is missing";
  }
  return "";
}

// Why the plan cannot be continued here, or "".
std::string Unusable(Form1& f, const SeriesPlan& plan, int32_t& shots) {
  const std::string folder = plan.picture.substr(0, FolderPartLength(plan.picture));
  if (!folder.empty() && ::access(folder.c_str(), W_OK | X_OK) != 0)
    return "its folder " + folder + " cannot be written";
  if (plan.acquisition && !f.ui.AcquiCheck.enabled) return "the DAQ card it read is not there";
  std::string why = CountWholeShots(f, plan, shots);
  if (!why.empty()) return why;
  // A next picture that exists would be overwritten: whatever wrote it, it stays.
  const std::string nextPicture = PictureNameFor(plan.picture, shots + 1);
  if (Exists(nextPicture)) return "its next picture " + nextPicture + " exists already";
  return ShotFileProblem(plan.picture, shots + 1);
}

void Tick(Form1& f, Control& box, bool on, void (Form1::*click)()) {
  if (Ticked(box) == on) return;
  box.value = on ? 1 : 0;
  (f.*click)();
}

// The settings, as the operator's own gestures would set them.
void ApplySettings(Form1& f, const SeriesPlan& plan) {
  MainWindowModel& ui = f.ui;
  // Numbers typed as the operator of this locale would type them (the wait box reads a point).
  const char mark = f.dev.locale.decimalSeparator;
  ui.TimeText.caption = GeneralNumber(plan.wait, '.');
  f.TimeText_Change();
  f.TimeText_KeyPress(kKeyEnter);
  const std::string gain = GeneralNumber(plan.gain, mark);
  if (ui.Text_Gain.caption != gain) {
    ui.Text_Gain.caption = gain;
    f.Text_Gain_KeyPress(kKeyEnter);
  }
  ui.SatText.caption = std::to_string(plan.saturationThreshold);
  f.SatText_KeyPress(kKeyEnter);
  ui.NoText.caption = std::to_string(plan.noSignalThreshold);
  f.NoText_KeyPress(kKeyEnter);
  Tick(f, ui.CheckSaturation, plan.saturation, &Form1::CheckSaturation_Click);
  Tick(f, ui.CheckNoSignal, plan.noSignal, &Form1::CheckNoSignal_Click);
  Tick(f, ui.CheckHisto, plan.histogram, &Form1::CheckHisto_Click);
  Tick(f, ui.CheckWarning, plan.warning, &Form1::CheckWarning_Click);
  Tick(f, ui.LiveCheck, plan.live, &Form1::LiveCheck_Click);
  // The wiring is chosen with acquisition off and takes effect when it is ticked again.
  if (ui.AcquiCheck.enabled && (Ticked(ui.Option1[0]) != plan.singleEnded || !plan.acquisition)) {
    Tick(f, ui.AcquiCheck, false, &Form1::AcquiCheck_Click);
    ui.Option1[0].value = plan.singleEnded ? 1 : 0;
    ui.Option1[1].value = plan.singleEnded ? 0 : 1;
  }
  if (ui.AcquiCheck.enabled) Tick(f, ui.AcquiCheck, plan.acquisition, &Form1::AcquiCheck_Click);
  const AcquisitionState& st = f.st;
  if (plan.selLeft != st.SelLeft || plan.selTop != st.SelTop || plan.selWidth != st.SelWidth ||
      plan.selHeight != st.SelHeight) {
    f.PicCam_MouseDown(kLeftButton, 0, plan.selLeft, plan.selTop);
    f.PicCam_MouseUp(kLeftButton, 0, plan.selLeft + plan.selWidth, plan.selTop + plan.selHeight);
  }
}

}  // namespace

void OfferInterruptedSeries(Form1& f) {
  PlanStore* store = f.dev.plans;
  if (store == nullptr) return;
  const std::optional<std::string> text = store->Read();
  if (!text) return;
  std::string why;
  int32_t shots = 0;
  std::optional<SeriesPlan> plan = ParsePlan(*text, store->ProgramVersion(), why);
  if (plan) why = Unusable(f, *plan, shots);
  if (!why.empty()) {
    store->SetAside();
    f.dev.dialogs.MessageBox(
        "The interrupted series cannot go on: " + why + ". Its plan is kept as " + store->Where() + ".rejected.",
        kAppTitle);
    return;
  }
  const std::string last = shots > 0 ? PictureNameFor(plan->picture, shots) : plan->picture;
  const std::string at = plan->lastShot.empty() ? plan->started : plan->lastShot;
  if (!f.ResumeWithoutAsking && !f.dev.dialogs.AskYesNo("A series was interrupted at " + at + " after shot " +
                                                            std::to_string(shots) + " (" + last + "). Continue it?",
                                                        kAppTitle)) {
    // Closed from outside while asking (the system shutting down) is no answer.
    if (!f.PlanSurvivesClose) store->Remove();
    return;
  }
  try {
    ApplySettings(f, *plan);
  } catch (const std::exception& e) {
    f.Log(std::string("Resumed series: a setting could not be restored: ") + e.what());
  }
  f.st.PictureFileName = plan->picture;
  f.st.RecordFileName = plan->record;
  f.ui.Label3.caption = plan->record;
  f.ShotCounter = shots;
  if (shots > 0) {
    f.ui.RafLabel.caption = FormatNumber(shots, "0000");
    f.ui.Label1.caption = " " + last;
  }
  f.Plan.startedAt = plan->started;
  f.Plan.shotSeen = shots;
  f.Plan.lastShotAt = plan->lastShot;
  f.Command2_Click();
  KeepSeriesPlan(f);
}

}  // namespace ostrelo
