#include "startup/Resume.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shots/DiskGuard.h"
#include "shots/FileOutput.h"
#include "shots/Folders.h"
#include "shots/SeriesPlan.h"
#include "shots/ShotProcedure.h"

namespace ostrelo {

namespace {

constexpr int32_t kLeftButton = 1;

bool Ticked(const Control& box) { return box.value == 1; }

std::string ReadWhole(const std::string& name) { return ReadWholeFile(name).value_or(""); }

// What the record holds: its whole shots, each with its picture, and what must be taken
// off its end before the series goes on. Found by reading only.
struct RecordFound {
  int32_t shots = 0;
  size_t keepBytes = 0;   // the record's length once its end is taken off
  std::string cut;        // what is taken off, for the log; empty when nothing is
  std::string lastStamp;  // the last whole shot's
};

// "2011-03-25 12:00:00" from a record line's stamp ("2011032543200.50").
std::string StampTime(const std::string& stamp) {
  if (stamp.size() < 13) return stamp;
  const int seconds = std::atoi(stamp.substr(8, 5).c_str());
  char text[64];
  std::snprintf(text, sizeof text, "%s-%s-%s %02d:%02d:%02d", stamp.substr(0, 4).c_str(), stamp.substr(4, 2).c_str(),
                stamp.substr(6, 2).c_str(), seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

// The record's lines after the header each name the next picture. A last line the
// interruption cut short is no shot. Nor is a last line whose picture never got its
// name: a shot's line is committed before its picture is renamed. Gives the reason when
// the record and the pictures do not agree.
std::string ReadRecord(const SeriesPlan& plan, RecordFound& found) {
  const std::string record = ReadWhole(plan.record);
  const size_t wholeEnd = record.rfind("\r\n");
  if (record.empty() || wholeEnd == std::string::npos) return "";  // no shot recorded
  std::vector<size_t> lines;
  for (size_t at = record.find("\r\n") + 2; at < wholeEnd + 2; at = record.find("\r\n", at) + 2) {
    const std::string picture = PictureNameFor(plan.picture, found.shots + 1);
    if (record.compare(at, picture.size() + 1, picture + "\t") != 0)
      return "its record does not list its pictures in order";
    if (found.shots > 0 && !Exists(PictureNameFor(plan.picture, found.shots)))
      return "its picture " + PictureNameFor(plan.picture, found.shots) + " is missing";
    lines.push_back(at);
    ++found.shots;
  }
  found.keepBytes = wholeEnd + 2;
  if (found.shots > 0 && !Exists(PictureNameFor(plan.picture, found.shots))) {
    found.keepBytes = lines.back();
    lines.pop_back();
    --found.shots;
  }
  found.cut = record.substr(found.keepBytes);
  if (!lines.empty()) {
    const size_t stamp = record.find('\t', lines.back()) + 1;
    found.lastStamp = record.substr(stamp, record.find_first_of("\t\r", stamp) - stamp);
  }
  return "";
}

bool Inside(int32_t left, int32_t top, int32_t width, int32_t height, int32_t allWidth, int32_t allHeight) {
  return left >= 0 && top >= 0 && width >= 0 && height >= 0 && int64_t{left} + width <= allWidth &&
         int64_t{top} + height <= allHeight;
}

// Why the plan cannot be continued here, or "". Every field is checked before anything
// is written; nothing on disk is touched. passing: the cause may go by itself (a disk
// not mounted yet, a folder read-only for now, a disk full for now), so the plan is kept
// for the next start.
std::string Unusable(Form1& f, const SeriesPlan& plan, RecordFound& found, bool& passing) {
  passing = false;
  const size_t folderPart = FolderPartLength(plan.picture);
  const std::string folder = plan.picture.substr(0, folderPart);
  if (!PlainAbsoluteFolder(folder)) return "its folder \"" + folder + "\" is not a plain absolute path";
  if (plan.record != RecordNameFor(plan.picture))
    return "its record " + plan.record + " is not the one its pictures' name gives";
  if (!(plan.wait >= kMinWaitSeconds && plan.wait <= kMaxWaitSeconds))
    return "its wait " + GeneralNumber(plan.wait, '.') + " s is not between 0.1 and 86400 s";
  const AcquisitionState& st = f.st;
  if (!Inside(plan.aoiLeft, plan.aoiTop, plan.aoiWidth, plan.aoiHeight, st.ImageWidth, st.ImageHeight) ||
      !Inside(plan.selLeft, plan.selTop, plan.selWidth, plan.selHeight, st.CamViewWidth, st.CamViewHeight))
    return "its area of interest does not lie inside the picture";
  if (plan.acquisition && !f.ui.AcquiCheck.enabled) return "the DAQ card it read is not there";
  const PathKind kind = KindOf(folder);
  if (kind == PathKind::Missing) {
    passing = errno == ENOENT || errno == ENOTDIR;
    return "its folder " + folder + " is not there";
  }
  if (kind != PathKind::Folder) return "its folder " + folder + " is not a folder";
  if (!CanWriteInto(folder)) {
    passing = true;
    return "its folder " + folder + " cannot be written";
  }
  std::string why = ReadRecord(plan, found);
  if (!why.empty()) return why;
  if (plan.nextShot - 1 > found.shots)
    return "its next number " + std::to_string(plan.nextShot) + " does not agree with its record of " +
           std::to_string(found.shots) + " shots";
  // A next picture that exists would be overwritten: whatever wrote it, it stays.
  const std::string nextPicture = PictureNameFor(plan.picture, found.shots + 1);
  if (Exists(nextPicture)) return "its next picture " + nextPicture + " exists already";
  why = ShotFileProblem(plan.picture, found.shots + 1);
  if (!why.empty()) return why;
  // Asked now, a Yes could only meet the disk guard's refusal, and the plan would go.
  why = NoRoomToResume(f, plan.picture, found.shots + 1, plan.aoiWidth, plan.aoiHeight);
  passing = !why.empty();
  return why;
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
  RecordFound found;
  bool passing = false;
  std::optional<SeriesPlan> plan = ParsePlan(*text, store->ProgramVersion(), why);
  if (plan) why = Unusable(f, *plan, found, passing);
  if (!why.empty()) {
    std::string message = "The interrupted series cannot go on: " + why + ".";
    if (passing) {
      message += " Its plan is kept: it is offered again at the next start, once this is put right.";
    } else if (const std::string aside = store->SetAside(); !aside.empty()) {
      message += " Its plan is kept as " + aside + ". To go on with it, put this right and rename it " +
                 store->Where() + " before the next start; otherwise start a new series.";
    }
    f.Log(message);
    f.dev.dialogs.MessageBox(message, kAppTitle);
    return;
  }
  const int32_t shots = found.shots;
  const std::string last = shots > 0 ? PictureNameFor(plan->picture, shots) : plan->picture;
  const std::string at = shots > 0 ? StampTime(found.lastStamp) : plan->started;
  if (!f.ResumeWithoutAsking && !f.dev.dialogs.AskYesNo("A series was interrupted at " + at + " after shot " +
                                                            std::to_string(shots) + " (" + last + "). Continue it?",
                                                        kAppTitle)) {
    // Closed from outside while asking (the system shutting down) is no answer.
    if (!f.PlanSurvivesClose) store->Remove();
    return;
  }
  RemoveStaleTemporaries(plan->picture.substr(0, FolderPartLength(plan->picture)));
  if (!found.cut.empty()) {
    if (CutFileNamed(plan->record, static_cast<int64_t>(found.keepBytes)) != 0) {
      f.Log("Resumed series: the record " + plan->record + " cannot be repaired; its plan is kept");
      f.dev.dialogs.MessageBox("The interrupted series cannot go on: its record " + plan->record +
                                   " cannot be repaired. Its plan is kept: it is offered again at the next start.",
                               kAppTitle);
      return;
    }
    f.Log("Resumed series: the record's last line was not a whole shot and is taken off: \"" + found.cut + "\"");
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
  f.Command2_Click();
  KeepSeriesPlan(f);
}

}  // namespace ostrelo
