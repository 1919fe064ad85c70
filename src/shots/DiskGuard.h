#pragma once
// The disk guard: from the free space of the picture folder's file system and the bytes
// one shot writes, how long a series can go on. It refuses a start without room, shows
// the time left while a series runs and stops the series while every file is still
// whole. A write that fails all the same (another program filled the disk) stays the
// fatal file error it always was.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrelo {

class Form1;
struct AcquisitionState;

inline constexpr const char* kDiskNearlyFullText = "Series stopped: the disk is nearly full";
// What a series keeps free beyond the shots it still needs: room for the record to
// grow and for the rest of the system.
inline constexpr uint64_t kDiskReserveBytes = 64ull << 20;
// A series stops while the disk still holds this many shots.
inline constexpr uint64_t kDiskSpareShots = 3;
// A series starts only with room for this many shots.
inline constexpr int64_t kSeriesLeastShots = 10;
// The free space is read again this long after the last reading, so at least once a
// minute while a series runs (a tick comes at least every 59.5 s) and never on every
// shot of a fast series; in between, what each shot wrote is taken off the last reading.
inline constexpr int64_t kDiskReadPeriodMs = 30000;
// The time left is shown when it is under a day, in red under an hour.
inline constexpr int64_t kDiskNoticeMs = 86400000;
inline constexpr int64_t kDiskUrgentMs = 3600000;
// The time left follows the pace of this many last shots: a camera slower than the
// wait, or outages, make the real pace slower than the wait says.
inline constexpr size_t kDiskPaceShots = 8;

// The bytes the next shot takes on a disk of blocks of blockBytes: its picture in whole
// blocks and its record line.
uint64_t BytesPerShot(const Form1& f, uint64_t blockBytes);
// Shots that fit in freeBytes before the guard stops a series.
int64_t SeriesShotsLeft(uint64_t freeBytes, uint64_t perShot);
// "Disk full in 5 h 12 min", "Disk full in 42 min".
std::string DiskTimeLeftText(int64_t ms);
// "Only room for N shots on <mount point>"; with keptFreeBytes, also what is free and
// what is kept free (": 19 MiB free, 64 MiB kept free"), so that a disk with room for
// pictures does not seem to be misread.
std::string NoRoomText(int64_t shots, const std::string& mountPoint, uint64_t freeBytes = 0,
                       uint64_t keptFreeBytes = 0);

// Reads the free space before a series starts; with room for fewer than
// kSeriesLeastShots, says so and gives false.
bool RoomForSeries(Form1& f);
// Before a kept series goes on, its disk read as RoomForSeries does, for the pictures
// chosen (of aoiWidth x aoiHeight, from number nextShot): "only room for N shots on ..."
// when it is too full to start, empty when it is not (or cannot tell). Asks nothing.
std::string NoRoomToResume(Form1& f, const std::string& chosen, int32_t nextShot, int32_t aoiWidth, int32_t aoiHeight);
// The same before a one shot, which needs room for itself only.
bool RoomForOneShot(Form1& f);
// At every tick of a running series: reads the free space when due and updates the
// notice. False when the series has been stopped because the disk is nearly full.
bool GuardSeriesTick(Form1& f);
// Takes what a shot just wrote off the known free space and notes when it was taken.
void NoteShotWritten(Form1& f);
// The time from one shot of a series to the next at the validated wait.
int64_t SeriesShotSpacingMs(const AcquisitionState& st);
// The mean spacing of the series' last shots; the wait's until two have been taken.
int64_t SeriesPaceMs(const Form1& f);
// The time the known free space lasts at the series' pace; -1 when it is not known.
int64_t DiskTimeLeftMs(const Form1& f);

}  // namespace ostrelo
