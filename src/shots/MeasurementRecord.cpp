#include "shots/MeasurementRecord.h"

#include <cerrno>
#include <charconv>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/ProgramError.h"
#include "shots/FileOutput.h"

namespace ostrelo {

namespace {

constexpr const char* kLineEnd = "\r\n";
constexpr const char* kVoltagePattern = "-00.000;00.000";

// Writes line at the end of the file (emptied first when asked) and waits until it is on the
// disk, so a power cut never tears it; whatever part of it reached the file after a
// failure is cut off, so the file ends where it ended before.
// Returns the file's length before the line.
int64_t WriteWholeLine(const std::string& fileName, bool empty, const std::string& line, bool shotLine) {
  FileHandle file(OpenToAppend(fileName, empty));
  if (!file.valid()) throw FileError(errno, fileName);
  const int64_t before = FileLength(file.get());
  if (before < 0) throw FileError(errno, fileName);
  auto tell = [&](ShotStep step) {
    if (shotLine && shotStepHook != nullptr) shotStepHook(step);
  };
  int error = WriteAll(file.get(), line.data(), line.size());
  if (error == 0) tell(ShotStep::RecordWritten);
  if (error == 0) error = SyncFileData(file.get());
  if (error == 0) tell(ShotStep::RecordSynced);
  if (error != 0) {
    // Shrinking is allowed even past a file-size limit or on a full disk.
    if (CutFile(file.get(), before) != 0) {
      // Nothing more can be done here; the write's own error is the one to report.
    }
    throw FileError(error, fileName);
  }
  error = file.Close();
  if (error != 0) {
    // The line may not have reached the disk (delayed allocation, network file
    // systems): take it back so the record never ends in a doubtful line.
    if (CutFileNamed(fileName, before) != 0) {
      // As above: report the close's error.
    }
    throw FileError(error, fileName);
  }
  return before;
}

}  // namespace

std::string RecordHeaderLine(const AcquisitionState& st) {
  std::string line = "Image \tTime";
  if (st.DaqAcquisitionOn) {
    for (const ChannelRecord& c : st.ChannelTable) line += "\t" + c.Name + " (" + c.Unit + ")";
  }
  return line + kLineEnd;
}

std::string RecordShotLine(const AcquisitionState& st, const std::string& pictureName, const std::string& stamp,
                           char decimalSeparator) {
  std::string line = pictureName + "\t" + stamp;
  if (st.DaqAcquisitionOn) {
    // + 0.0 turns a negated 0 V reading (-0.0) into 0: written -00.000 like any zero.
    for (const ChannelRecord& c : st.ChannelTable) {
      line += "\t" + FormatNumber(c.Value + 0.0, kVoltagePattern, decimalSeparator);
    }
  }
  return line + kLineEnd;
}

double RecordedVoltage(double value) {
  // Read back from the very text the line holds, so both round alike.
  const std::string text = FormatNumber(value + 0.0, kVoltagePattern, '.');
  double voltage = 0;
  std::from_chars(text.data(), text.data() + text.size(), voltage);
  return voltage + 0.0;
}

int64_t WriteRecordLine(Form1& f, const std::string& pictureName, const std::string& stamp) {
  const std::string& fileName = f.st.RecordFileName;
  // Both lines are built before the file is touched.
  const std::string line = RecordShotLine(f.st, pictureName, stamp, f.dev.locale.decimalSeparator);
  if (f.ShotCounter == 1) {
    WriteWholeLine(fileName, true, RecordHeaderLine(f.st), false);
    // A record just created must keep its name through a power cut too.
    if (const int error = SyncFolderOf(fileName); error != 0) throw FileError(error, fileName);
  }
  return WriteWholeLine(fileName, false, line, true);
}

void TakeBackRecordLine(Form1& f, int64_t length) {
  FileHandle file(OpenToCut(f.st.RecordFileName));
  // Shrinking works on a full disk too; a failure here leaves a line whose picture is
  // missing, which a resume takes off.
  if (file.valid() && CutFile(file.get(), length) == 0 && SyncFileData(file.get()) != 0) {
    // As said above.
  }
}

}  // namespace ostrelo
