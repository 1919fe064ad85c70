#pragma once
// What every shot has in common: the once-per-run choice of the file name, and the
// shot itself (stamp, number, grab, picture, record line).

#include <cstdint>
#include <string>

#include "shell/Platform.h"

namespace ostrelo {

// The waits a series takes, in seconds.
inline constexpr double kMinWaitSeconds = 0.1;
inline constexpr double kMaxWaitSeconds = 86400.0;

class Form1;

// The error a cancelled save dialog raises to its caller (the number the common
// dialog control gave to a cancel).
inline constexpr int32_t kShotFileCancelled = 32755;
inline constexpr const char* kShotFileCancelledText = "Cancel was selected.";

// Raised when the shot number would pass the largest 32-bit number.
inline constexpr int32_t kShotNumberOverflow = 6;

// Save-dialog flags: hide the read-only box (4), keep the current folder (8),
// explorer style (0x80000). The dialog's own overwrite question (2) is left out: it
// would ask about the proposed stem, a file never written; ChooseShotFile asks about
// the files that will be written instead.
inline constexpr uint32_t kShotDialogFlags = 0x8000C;

// "im" + yymmdd + "-.bmp": im110325-.bmp on 25 March 2011.
std::string ProposedShotFileName(const LocalTime& now);
// The initial folder of the save dialog: the user's home folder (on Windows the profile
// folder, where a user may write, unlike "C:\").
std::string ShotDialogFolder();

// The name less its last n characters (whole UTF-8 characters), never cutting into
// the folder part of a path: a name too short to lose n characters of its own keeps
// only its folder part.
std::string DropLastCharacters(const std::string& name, size_t n);
// The picture of shot n: the chosen name less 4 characters, n as "0000", ".bmp".
std::string PictureNameFor(const std::string& pictureFileName, int32_t shotNumber);
// The record: the chosen name less 5 characters, ".xls".
std::string RecordNameFor(const std::string& pictureFileName);

// Year, month "00", day "00", then the seconds since midnight held in single
// precision and written "00000.00": 2011032545296.53 at 12:34:56.53 on 25 March 2011.
std::string ShotStamp(const LocalTime& now, char decimalSeparator);

// Why the chosen name cannot serve the next shot, empty when it can: a folder that does
// not exist, a name taken by a folder, a folder that cannot be written into, or a name
// too long for its folder (for the record or the next picture).
std::string ShotFileProblem(const std::string& chosen, int32_t nextShot);

// The save dialog "Save picture". It fixes PictureFileName, RecordFileName and the
// caption of Label3. When files that the next shot will write already exist (the
// record, emptied at the run's first shot, and the next picture), the operator is asked
// whether to replace them; No shows the dialog again. A name with a ShotFileProblem is
// refused by the dialog; one that comes back all the same is told and asked again.
// A cancel raises ProgramError(kShotFileCancelled) before anything is changed. With
// goOnAfterCancel (the one-shot button, which goes on after any failing step) the
// proposed name without a folder is taken first, so the shots go to the current folder,
// and then the error is raised.
void ChooseShotFile(Form1& f, bool goOnAfterCancel = false);

// One shot: stamp, count, labels, grab, picture, record line. A shot is whole or
// nothing: when any step fails, the picture it wrote is removed, ShotCounter and the
// labels go back to the previous shot, and the error goes on to the caller. False,
// with nothing written and nothing changed, when the camera gave no new picture.
bool TakeShot(Form1& f);

}  // namespace ostrelo
