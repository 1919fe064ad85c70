#include "shots/ShotProcedure.h"

#include <limits>
#include <optional>

#include "camera/GrabFrame.h"
#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shell/ProgramError.h"
#include "shell/Utf8.h"
#include "shots/BitmapWriter.h"
#include "shots/FileOutput.h"
#include "shots/Folders.h"
#include "shots/MeasurementRecord.h"

namespace ostrelo {

namespace {

// The folder part of a name, without its last separator ("/" stays); "." for a name
// without a folder.
std::string FolderOf(const std::string& name) {
  const size_t part = FolderPartLength(name);
  return part == 0 ? "." : name.substr(0, part == 1 ? 1 : part - 1);
}

std::string FileProblem(const std::string& name) {
  const std::string folder = FolderOf(name);
  if (KindOf(folder) != PathKind::Folder) {
    return "The folder " + folder + " does not exist.\nCheck the path and try again.";
  }
  if (!CanWriteInto(folder)) {
    return "The folder " + folder + " cannot be written into.\nChoose another folder.";
  }
  if (KindOf(name) == PathKind::Folder) {
    return name + " is the name of a folder.\nChoose another name.";
  }
  if (NameTooLong(folder, name)) {
    return "The name " + name + " is too long for its folder.\nChoose a shorter name.";
  }
  return {};
}

// The question about the files the next shot will replace; true when the operator
// agrees or nothing would be replaced.
bool ConfirmReplace(Form1& f, const std::string& chosen) {
  std::vector<std::string> existing;
  // The run's first shot empties the record before writing its header.
  if (f.ShotCounter == 0) {
    const std::string record = RecordNameFor(chosen);
    if (Exists(record)) existing.push_back(record);
  }
  if (f.ShotCounter < std::numeric_limits<int32_t>::max()) {
    const std::string picture = PictureNameFor(chosen, f.ShotCounter + 1);
    if (Exists(picture)) existing.push_back(picture);
  }
  if (existing.empty()) return true;
  std::string text;
  if (existing.size() == 1) {
    text = existing[0] + " already exists.\nDo you want to replace it?";
  } else {
    text = "These files already exist:\n";
    for (const std::string& name : existing) text += name + "\n";
    text += "Do you want to replace them?";
  }
  // Enter keeps the earlier run's files.
  return f.dev.dialogs.AskYesNo(text, kAppTitle, Answer::No);
}

}  // namespace

std::string ProposedShotFileName(const LocalTime& now) {
  return "im" + FormatYymmdd(now.year, now.month, now.day) + ".bmp";
}

std::string ShotDialogFolder() { return HomeFolder(); }

std::string DropLastCharacters(const std::string& name, size_t n) {
  const size_t folderEnd = FolderPartLength(name);
  size_t end = name.size();
  for (size_t dropped = 0; dropped < n && end > folderEnd; ++dropped) {
    // Step back over one whole UTF-8 character.
    --end;
    while (end > folderEnd && IsContinuationByte(name[end])) --end;
  }
  return name.substr(0, end);
}

std::string PictureNameFor(const std::string& pictureFileName, int32_t shotNumber) {
  return DropLastCharacters(pictureFileName, 4) + FormatNumber(shotNumber, "0000") + ".bmp";
}

std::string RecordNameFor(const std::string& pictureFileName) {
  return DropLastCharacters(pictureFileName, 5) + ".xls";
}

std::string ShotStamp(const LocalTime& now, char decimalSeparator) {
  const float seconds = static_cast<float>(now.secondsSinceMidnight);
  return std::to_string(now.year) + FormatNumber(now.month, "00") + FormatNumber(now.day, "00") +
         FormatNumber(static_cast<double>(seconds), "00000.00", decimalSeparator);
}

std::string ShotFileProblem(const std::string& chosen, int32_t nextShot) {
  std::string problem = FileProblem(RecordNameFor(chosen));
  if (problem.empty()) problem = FileProblem(PictureNameFor(chosen, nextShot));
  return problem;
}

void ChooseShotFile(Form1& f, bool goOnAfterCancel) {
  SaveDialogRequest request;
  request.cancelError = true;
  request.flags = kShotDialogFlags;
  request.fileName = ProposedShotFileName(f.dev.clock.Now());
  request.defaultExt = "bmp";
  request.initDir = ShotDialogFolder();
  request.title = "Save picture";
  request.filter = "bmp file|*.bmp";
  const int32_t nextShot = f.ShotCounter < std::numeric_limits<int32_t>::max() ? f.ShotCounter + 1 : f.ShotCounter;
  request.check = [nextShot](const std::string& name) { return ShotFileProblem(name, nextShot); };
  const std::string proposed = request.fileName;

  for (;;) {
    const std::optional<std::string> answer = f.dev.dialogs.ShowSave(request);
    // An empty name names no file: it would leave PictureFileName empty, so every later
    // shot would ask again and number its picture "0001.bmp" with no stem. A cancel.
    const bool named = answer.has_value() && !answer->empty();
    if (!named && !goOnAfterCancel) throw ProgramError(kShotFileCancelled, kShotFileCancelledText);
    const std::string chosen = named ? *answer : proposed;
    if (named) {
      // A typo must never reach a shot; the dialog of the platform may not have refused it.
      const std::string problem = request.check(chosen);
      if (!problem.empty()) {
        f.dev.dialogs.MessageBox(problem, kAppTitle);
        request.fileName = chosen;
        continue;
      }
    }
    if (!ConfirmReplace(f, chosen)) {
      // As the platform's own overwrite question does: back to the dialog, with the
      // name that was chosen.
      request.fileName = chosen;
      continue;
    }
    f.st.PictureFileName = chosen;
    f.st.RecordFileName = RecordNameFor(chosen);
    f.ui.Label3.caption = f.st.RecordFileName;
    if (!named) throw ProgramError(kShotFileCancelled, kShotFileCancelledText);
    return;
  }
}

bool TakeShot(Form1& f) {
  const std::string stamp = ShotStamp(f.dev.clock.Now(), f.dev.locale.decimalSeparator);
  if (f.ShotCounter == std::numeric_limits<int32_t>::max()) throw ProgramError(kShotNumberOverflow, "Overflow");

  const int32_t previousCounter = f.ShotCounter;
  const std::string previousNumber = f.ui.RafLabel.caption;
  const std::string previousPicture = f.ui.Label1.caption;
  f.ShotCounter = previousCounter + 1;
  f.ui.RafLabel.caption = FormatNumber(f.ShotCounter, "0000");
  const std::string pictureName = PictureNameFor(f.st.PictureFileName, f.ShotCounter);
  f.ui.Label1.caption = " " + pictureName;

  // The next shot takes this number again: with a first shot undone, the record still
  // gets its header at the next attempt.
  auto undo = [&] {
    f.ShotCounter = previousCounter;
    f.ui.RafLabel.caption = previousNumber;
    f.ui.Label1.caption = previousPicture;
  };
  // The record's line is made durable before the picture gets its name: a kill or a
  // power cut in between leaves a last line whose picture is missing, which a resume
  // takes off, and never a picture the record does not list.
  std::string partName;
  int64_t recordBefore = -1;
  try {
    if (!GrabFrame(f, GrabPurpose::Shot)) {
      undo();
      return false;
    }
    partName = WriteAoiBitmapAside(f, pictureName);
    recordBefore = WriteRecordLine(f, pictureName, stamp);
    NameAoiBitmap(partName, pictureName);
  } catch (...) {
    // No picture without its record line, no line without its picture.
    if (!partName.empty()) RemoveFile(partName);
    if (recordBefore >= 0) TakeBackRecordLine(f, recordBefore);
    undo();
    throw;
  }
  return true;
}

}  // namespace ostrelo
