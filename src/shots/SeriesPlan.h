#pragma once
// The plan of a running series, kept so that a series that a crash, a kill or a power
// cut interrupted goes on when the program starts again: the picture name, the
// settings as the operator set them, the start. It is written whole whenever a setting
// changes while a series runs (the shots themselves are told by the record) and removed
// when the series ends.

#include <cstdint>
#include <optional>
#include <string>

#include "shell/Platform.h"
#include "shots/FileOutput.h"

namespace ostrelo {

class Form1;

struct SeriesPlan {
  std::string version;
  std::string picture, record;  // the name chosen for the pictures, and the record's
  int32_t nextShot = 1;
  double wait = 0.0, gain = 0.0;                           // seconds, dB: numbers, never a locale's text
  int32_t saturationThreshold = 0, noSignalThreshold = 0;  // as their boxes give them
  bool saturation = false, noSignal = false, histogram = false, warning = false, live = true;
  bool acquisition = true, singleEnded = true;
  int32_t selLeft = 0, selTop = 0, selWidth = 0, selHeight = 0;  // the area on the camera view
  int32_t aoiLeft = 0, aoiTop = 0, aoiWidth = 0, aoiHeight = 0;  // the same in the picture
  std::string started, lastShot;  // "2011-03-25 12:00:00"; lastShot only in earlier plans
};

// The plan of the series running now.
SeriesPlan PlanOf(const Form1& f);
std::string PlanText(const SeriesPlan& plan);
// The plan a text holds, or nullopt with the reason.
std::optional<SeriesPlan> ParsePlan(const std::string& text, const std::string& version, std::string& why);

// After every event: writes the plan when a series runs and it changed, and removes it
// once no series runs.
void KeepSeriesPlan(Form1& f);
// The series ends at the operator's will (closing the window): its plan goes.
void DropSeriesPlan(Form1& f);

// Plans kept as files in a folder (StateFolder()),
// series.json, by one program at a time: a second program started meanwhile neither
// reads nor writes them.
class FilePlanStore final : public PlanStore {
 public:
  FilePlanStore(std::string folder, std::string version);
  ~FilePlanStore() override;
  FilePlanStore(const FilePlanStore&) = delete;
  FilePlanStore& operator=(const FilePlanStore&) = delete;

  bool owned() const { return lock_.valid(); }
  std::optional<std::string> Read() override;
  bool Write(const std::string& text) override;
  void Remove() override;
  std::string SetAside() override;
  std::string Where() const override;
  std::string ProgramVersion() const override { return version_; }

  static std::string DefaultFolder();

 private:
  std::string folder_, version_;
  FileHandle lock_;
};

}  // namespace ostrelo
