#include "shots/DiskGuard.h"

#include <algorithm>
#include <deque>
#include <optional>

#include "shell/Form1.h"
#include "shots/BitmapWriter.h"
#include "shots/FileOutput.h"
#include "shots/MeasurementRecord.h"
#include "shots/ShotProcedure.h"

namespace ostrelo {

namespace {

// A stamp's length ("2011032545296.53"): the record line is measured with it.
const std::string kStampShape(16, '0');

std::string FolderOf(const std::string& name) {
  const size_t part = FolderPartLength(name);
  return part == 0 ? "." : name.substr(0, part);
}

// Reads the free space of the picture folder's file system; false when it is not known.
bool ReadDisk(Form1& f) {
  f.Disk.readAtMs = f.dev.clock.SteadyMs();
  f.Disk.known = false;
  if (f.dev.freeSpace == nullptr || f.st.PictureFileName.empty()) return false;
  const std::optional<DiskSpace> space = f.dev.freeSpace->Read(FolderOf(f.st.PictureFileName));
  if (!space) return false;
  f.Disk.known = true;
  f.Disk.freeBytes = space->availableBytes;
  f.Disk.blockBytes = std::max<uint64_t>(space->blockBytes, 1);
  f.Disk.mountPoint = space->mountPoint;
  return true;
}

uint64_t PerShot(const Form1& f) { return BytesPerShot(f, f.Disk.blockBytes); }

// The bytes of a shot whose picture of the given area is named pictureName.
uint64_t ShotBytes(const Form1& f, const std::string& pictureName, int32_t aoiWidth, int32_t aoiHeight,
                   uint64_t blockBytes) {
  const uint64_t height = static_cast<uint64_t>(std::max(aoiHeight, 0));
  const uint64_t picture = kBmpPixelOffset + uint64_t{BmpRowBytes(std::max(aoiWidth, 0))} * height;
  const uint64_t pictureBlocks = (picture + blockBytes - 1) / blockBytes * blockBytes;
  const std::string line = RecordShotLine(f.st, pictureName, kStampShape, f.dev.locale.decimalSeparator);
  return pictureBlocks + line.size();
}

}  // namespace

uint64_t BytesPerShot(const Form1& f, uint64_t blockBytes) {
  return ShotBytes(f, PictureNameFor(f.st.PictureFileName, f.ShotCounter + 1), f.st.AoiWidth, f.st.AoiHeight,
                   blockBytes);
}

std::string NoRoomToResume(Form1& f, const std::string& chosen, int32_t nextShot, int32_t aoiWidth, int32_t aoiHeight) {
  if (f.dev.freeSpace == nullptr) return {};
  const std::optional<DiskSpace> space = f.dev.freeSpace->Read(FolderOf(chosen));
  if (!space) return {};
  const uint64_t perShot =
      ShotBytes(f, PictureNameFor(chosen, nextShot), aoiWidth, aoiHeight, std::max<uint64_t>(space->blockBytes, 1));
  const int64_t shots = SeriesShotsLeft(space->availableBytes, perShot);
  if (shots >= kSeriesLeastShots) return {};
  std::string text = NoRoomText(shots, space->mountPoint, space->availableBytes, kDiskReserveBytes);
  text[0] = 'o';  // told inside a sentence
  return text;
}

int64_t SeriesShotSpacingMs(const AcquisitionState& st) {
  if (st.WaitMinutes != 0) return int64_t{st.WaitLength} * 1000;
  return st.WaitLength > 0 ? st.WaitLength : 500;
}

int64_t SeriesShotsLeft(uint64_t freeBytes, uint64_t perShot) {
  // The series shoots while the room left is at least the spare shots and the reserve.
  const uint64_t keep = kDiskReserveBytes + kDiskSpareShots * perShot;
  if (freeBytes < keep || perShot == 0) return 0;
  return static_cast<int64_t>((freeBytes - keep) / perShot) + 1;
}

std::string DiskTimeLeftText(int64_t ms) {
  const int64_t minutes = std::max<int64_t>(ms, 0) / 60000;
  const std::string hours = minutes >= 60 ? std::to_string(minutes / 60) + " h " : "";
  return "Disk full in " + hours + std::to_string(minutes % 60) + " min";
}

std::string NoRoomText(int64_t shots, const std::string& mountPoint, uint64_t freeBytes, uint64_t keptFreeBytes) {
  std::string text = "Only room for " + std::to_string(shots) + " shots on " + mountPoint;
  if (keptFreeBytes == 0) return text;
  const auto mib = [](uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; };
  return text + ": " + mib(freeBytes) + " free, " + mib(keptFreeBytes) + " kept free";
}

bool RoomForSeries(Form1& f) {
  f.Disk.stoppedSeries = false;
  f.ui.DiskNotice.clear();
  f.ui.DiskNoticeUrgent = false;
  f.Disk.shotsAtMs.clear();
  // A file system that cannot tell is not guarded, as before.
  if (!ReadDisk(f)) return true;
  const int64_t shots = SeriesShotsLeft(f.Disk.freeBytes, PerShot(f));
  if (shots >= kSeriesLeastShots) return true;
  f.dev.dialogs.MessageBox(NoRoomText(shots, f.Disk.mountPoint, f.Disk.freeBytes, kDiskReserveBytes), kAppTitle);
  return false;
}

bool RoomForOneShot(Form1& f) {
  if (!ReadDisk(f)) return true;
  const uint64_t perShot = PerShot(f);
  if (f.Disk.freeBytes >= perShot) return true;
  f.dev.dialogs.MessageBox(NoRoomText(static_cast<int64_t>(f.Disk.freeBytes / perShot), f.Disk.mountPoint), kAppTitle);
  return false;
}

int64_t SeriesPaceMs(const Form1& f) {
  const std::deque<int64_t>& at = f.Disk.shotsAtMs;
  if (at.size() < 2) return SeriesShotSpacingMs(f.st);
  return (at.back() - at.front()) / static_cast<int64_t>(at.size() - 1);
}

int64_t DiskTimeLeftMs(const Form1& f) {
  if (!f.Disk.known) return -1;
  return SeriesShotsLeft(f.Disk.freeBytes, PerShot(f)) * SeriesPaceMs(f);
}

bool GuardSeriesTick(Form1& f) {
  if (f.dev.freeSpace == nullptr) return true;
  if (f.dev.clock.SteadyMs() - f.Disk.readAtMs >= kDiskReadPeriodMs) ReadDisk(f);
  if (!f.Disk.known) {
    f.ui.DiskNotice.clear();
    return true;
  }
  if (SeriesShotsLeft(f.Disk.freeBytes, PerShot(f)) == 0) {
    f.Command2_Click();  // as if STOP were pressed: every file written so far is whole
    f.Disk.stoppedSeries = true;
    f.ui.DiskNotice = kDiskNearlyFullText;
    f.ui.DiskNoticeUrgent = true;
    f.Log(std::string(kDiskNearlyFullText) + " (" + f.Disk.mountPoint + ")");
    f.dev.dialogs.MessageBox(kDiskNearlyFullText, kAppTitle);
    return false;
  }
  const int64_t leftMs = DiskTimeLeftMs(f);
  f.ui.DiskNotice = leftMs < kDiskNoticeMs ? DiskTimeLeftText(leftMs) : "";
  f.ui.DiskNoticeUrgent = leftMs < kDiskUrgentMs;
  return true;
}

void NoteShotWritten(Form1& f) {
  if (f.Disk.known) f.Disk.freeBytes -= std::min(f.Disk.freeBytes, PerShot(f));
  std::deque<int64_t>& at = f.Disk.shotsAtMs;
  at.push_back(f.dev.clock.SteadyMs());
  if (at.size() > kDiskPaceShots) at.pop_front();
}

}  // namespace ostrelo
