#include "shots/SeriesPlan.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "inspection/PixelChecks.h"
#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shots/FileOutput.h"
#include "shots/Folders.h"

namespace ostrelo {

namespace {

using Json = nlohmann::json;

bool Ticked(const Control& box) { return box.value == 1; }

// A number kept as a number, or as the text an earlier plan kept: a box's text in the
// locale of the program that wrote it, so either mark is its decimal mark.
double NumberIn(const Json& value) {
  if (value.is_number()) return value.get<double>();
  return LeadingNumber(value.get<std::string>());
}

}  // namespace

SeriesPlan PlanOf(const Form1& f) {
  const AcquisitionState& st = f.st;
  const MainWindowModel& ui = f.ui;
  SeriesPlan p;
  p.version = f.dev.plans != nullptr ? f.dev.plans->ProgramVersion() : "";
  p.picture = st.PictureFileName;
  p.record = st.RecordFileName;
  p.nextShot = f.ShotCounter + 1;
  // The wait in force, not a text being typed (read back with a point, whatever the locale).
  p.wait = st.WaitTime > 0 ? st.WaitTime : LeadingNumber(ui.TimeText.caption);
  // The box shows the gain read back from the camera, written the locale's way.
  const std::string& gain = ui.Text_Gain.caption;
  p.gain = LocaleNumber(gain, f.dev.locale.decimalSeparator).value_or(LeadingNumber(gain));
  p.saturationThreshold = ReadThreshold(ui.SatText.caption, kSaturationThresholdMin, kSaturationThresholdMax);
  p.noSignalThreshold = ReadThreshold(ui.NoText.caption, kNoSignalThresholdMin, kNoSignalThresholdMax);
  p.saturation = Ticked(ui.CheckSaturation);
  p.noSignal = Ticked(ui.CheckNoSignal);
  p.histogram = Ticked(ui.CheckHisto);
  p.warning = Ticked(ui.CheckWarning);
  p.live = Ticked(ui.LiveCheck);
  p.acquisition = st.DaqAcquisitionOn;
  p.singleEnded = Ticked(ui.Option1[0]);
  p.selLeft = st.SelLeft;
  p.selTop = st.SelTop;
  p.selWidth = st.SelWidth;
  p.selHeight = st.SelHeight;
  p.aoiLeft = st.AoiLeft;
  p.aoiTop = st.AoiTop;
  p.aoiWidth = st.AoiWidth;
  p.aoiHeight = st.AoiHeight;
  p.started = f.Plan.startedAt;
  return p;
}

std::string PlanText(const SeriesPlan& p) {
  const Json j = {{"version", p.version},
                  {"picture", p.picture},
                  {"record", p.record},
                  {"nextShot", p.nextShot},
                  {"wait", p.wait},
                  {"gain", p.gain},
                  {"saturationThreshold", p.saturationThreshold},
                  {"noSignalThreshold", p.noSignalThreshold},
                  {"saturation", p.saturation},
                  {"noSignal", p.noSignal},
                  {"histogram", p.histogram},
                  {"warning", p.warning},
                  {"live", p.live},
                  {"acquisition", p.acquisition},
                  {"singleEnded", p.singleEnded},
                  {"area", {p.selLeft, p.selTop, p.selWidth, p.selHeight}},
                  {"pictureArea", {p.aoiLeft, p.aoiTop, p.aoiWidth, p.aoiHeight}},
                  {"started", p.started},
                  {"lastShot", p.lastShot}};
  // Names are bytes as the file system has them: never refused for their encoding.
  return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<SeriesPlan> ParsePlan(const std::string& text, const std::string& version, std::string& why) {
  try {
    const Json j = Json::parse(text);
    SeriesPlan p;
    j.at("version").get_to(p.version);
    if (p.version != version) {
      why = "it was written by version " + p.version + " of the program";
      return std::nullopt;
    }
    j.at("picture").get_to(p.picture);
    j.at("record").get_to(p.record);
    j.at("nextShot").get_to(p.nextShot);
    p.wait = NumberIn(j.at("wait"));
    p.gain = NumberIn(j.at("gain"));
    // Plans written before the thresholds were numbers kept the boxes' texts.
    p.saturationThreshold =
        RoundToInt32(NumberIn(j.contains("saturationText") ? j.at("saturationText") : j.at("saturationThreshold")));
    p.noSignalThreshold =
        RoundToInt32(NumberIn(j.contains("noSignalText") ? j.at("noSignalText") : j.at("noSignalThreshold")));
    j.at("saturation").get_to(p.saturation);
    j.at("noSignal").get_to(p.noSignal);
    j.at("histogram").get_to(p.histogram);
    j.at("warning").get_to(p.warning);
    j.at("live").get_to(p.live);
    j.at("acquisition").get_to(p.acquisition);
    j.at("singleEnded").get_to(p.singleEnded);
    const auto area = j.at("area").get<std::array<int32_t, 4>>();
    p.selLeft = area[0], p.selTop = area[1], p.selWidth = area[2], p.selHeight = area[3];
    const auto aoi = j.at("pictureArea").get<std::array<int32_t, 4>>();
    p.aoiLeft = aoi[0], p.aoiTop = aoi[1], p.aoiWidth = aoi[2], p.aoiHeight = aoi[3];
    j.at("started").get_to(p.started);
    j.at("lastShot").get_to(p.lastShot);
    if (p.picture.empty() || p.record.empty() || p.nextShot < 1) {
      why = "it names no pictures";
      return std::nullopt;
    }
    return p;
  } catch (const Json::exception&) {
    why = "it cannot be read";
    return std::nullopt;
  }
}

void KeepSeriesPlan(Form1& f) {
  PlanStore* store = f.dev.plans;
  if (store == nullptr) return;
  Form1::KeptPlan& kept = f.Plan;
  if (!f.MultiShot) {
    if (!kept.text.empty()) store->Remove();
    kept = {};
    return;
  }
  if (kept.startedAt.empty()) kept.startedAt = DateAndTimeText(f.dev.clock.Now());
  // The next number and the last shot's time change at every shot and the record tells
  // them at resume: the plan is written (and synced) only when a setting changes.
  SeriesPlan plan = PlanOf(f);
  if (kept.text.empty()) kept.nextShot = plan.nextShot;
  plan.nextShot = kept.nextShot;
  const std::string text = PlanText(plan);
  if (text != kept.text && store->Write(text)) kept.text = text;
}

void DropSeriesPlan(Form1& f) {
  if (f.dev.plans != nullptr && !f.Plan.text.empty()) f.dev.plans->Remove();
  f.Plan = {};
}

FilePlanStore::FilePlanStore(std::string folder, std::string version)
    : folder_(std::move(folder)), version_(std::move(version)) {
  // The state folder may not exist yet.
  MakeFolders(folder_);
  lock_ = FileHandle(TakeLock(folder_ + FolderSeparator() + "series.lock"));
  if (owned()) {
    RemoveStaleTemporaries(folder_);
    RemoveFile(Where() + ".part");  // the fixed name earlier versions wrote under
  }
}

FilePlanStore::~FilePlanStore() = default;

std::string FilePlanStore::DefaultFolder() { return StateFolder(); }

std::string FilePlanStore::Where() const { return folder_ + FolderSeparator() + "series.json"; }

std::optional<std::string> FilePlanStore::Read() {
  if (!owned()) return std::nullopt;
  // A plan is small: a file beyond this is no plan of ours.
  return ReadWholeFile(Where(), 1u << 20);
}

bool FilePlanStore::Write(const std::string& text) {
  if (!owned()) return false;
  std::string part;
  FileHandle file(CreateTemporaryFor(Where(), part));
  const bool written = file.valid() && WriteAll(file.get(), text.data(), text.size()) == 0 &&
                       SyncFileData(file.get()) == 0 && file.Close() == 0 && RenameFile(part, Where()) == 0;
  if (!written) {
    if (!part.empty()) RemoveFile(part);
    return false;
  }
  SyncFolderOf(Where());
  return true;
}

void FilePlanStore::Remove() {
  if (owned()) RemoveFile(Where());
}

std::string FilePlanStore::SetAside() {
  if (!owned()) return "";
  // An earlier plan set aside is never replaced; the first free name is taken.
  for (int n = 1; n < 1000; ++n) {
    std::string aside = Where() + ".rejected" + (n == 1 ? "" : "." + std::to_string(n));
    const int error = RenameWithoutReplacing(Where(), aside);
    if (error == 0) {
      SyncFolderOf(aside);
      return aside;
    }
    if (error != EEXIST) break;
  }
  return "";
}

}  // namespace ostrelo
