#include "watch/RunEvents.h"

#include <algorithm>
#include <cctype>
#include <random>
#include <utility>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shots/DiskGuard.h"
#include "shots/FileOutput.h"
#include "shots/ShotProcedure.h"

namespace ostrelo {

namespace {

constexpr int64_t kDayMs = 86400000;
constexpr int64_t kHourMs = 3600000;
constexpr int32_t kWatchdogWaits = 3;

int32_t DayKey(const LocalTime& t) { return t.year * 10000 + t.month * 100 + t.day; }

std::string Field(const char* name, const std::string& json) { return "," + JsonText(name) + ":" + json; }

// Seconds to a tenth, rounded: "2.5", "121".
std::string SecondsText(int64_t ms) {
  return GeneralNumber(RoundHalfEven(static_cast<double>(ms) / 100.0) / 10.0, '.');
}

std::string PictureOf(const Form1& f) {
  return f.st.PictureFileName.empty() ? "" : DropLastCharacters(f.st.PictureFileName, 4);
}

std::string DurationText(int64_t ms) {
  const int64_t minutes = ms / 60000;
  return (minutes >= 60 ? std::to_string(minutes / 60) + " h " : "") + std::to_string(minutes % 60) + " min";
}

}  // namespace

std::string NewEventId() {
  std::random_device random;
  uint8_t bytes[16];
  for (size_t i = 0; i < sizeof bytes; i += 4) {
    const uint32_t r = random();
    for (size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<uint8_t>(r >> (8 * k));
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += kHex[bytes[i] >> 4];
    id += kHex[bytes[i] & 0x0f];
  }
  return id;
}

RunEvents::RunEvents(EventOptions options, EventSink& sink) : options_(std::move(options)), sink_(sink) {}

void RunEvents::Emit(const Form1& f, const ShotSeen& lastShot, const char* event, const std::string& said,
                     const std::string& more) {
  const std::string picture = PictureOf(f);
  // Who tells, then what: "bench-3, essai: the camera ...", the series by its name's base.
  std::string who = options_.host;
  const std::string series = picture.substr(FolderPartLength(picture));
  if (!series.empty()) who += (who.empty() ? "" : ", ") + series;
  std::string text = said;
  if (who.empty() && !text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  if (!who.empty()) text = who + ": " + text;
  const std::string id = NewEventId();
  const std::string json = "{" + JsonText("event") + ":" + JsonText(event) + Field("id", JsonText(id)) +
                           Field("time", JsonText(IsoTime(f.dev.clock.Now()))) +
                           Field("host", JsonText(options_.host)) + Field("picture", JsonText(picture)) +
                           Field("shot", std::to_string(lastShot.number)) + Field("text", JsonText(text)) + more + "}";
  sink_.Send(RunEvent{event, text, json, id});
}

void RunEvents::WatchDevice(const Form1& f, const ShotSeen& shot, const DeviceOutage& o, const char* name,
                            const char* what, bool& told) {
  const int64_t now = f.dev.clock.SteadyMs();
  if (o.active && !told && now - o.sinceMs > options_.awayMs) {
    told = true;
    Emit(f, shot, (std::string(name) + "-lost").c_str(),
         std::string(what) + " has not answered since " + DateAndTimeText(o.since) + ".");
  } else if (!o.active && told) {
    told = false;
    Emit(f, shot, (std::string(name) + "-back").c_str(),
         std::string(what) + " answers again after " + std::to_string(o.endedSeconds) + " s, " +
             ShotsNotTakenText(o.endedShotsNotTaken) + ".",
         Field("awaySeconds", std::to_string(o.endedSeconds)) +
             Field("shotsNotTaken", std::to_string(o.endedShotsNotTaken)));
  }
}

void RunEvents::Observe(const Form1& f, const ShotSeen& lastShot) {
  const LocalTime now = f.dev.clock.Now();
  const int64_t nowMs = f.dev.clock.SteadyMs();
  if (!started_) {
    // A summary hour already past when the program starts is next due tomorrow.
    started_ = true;
    if (options_.dailyMinute >= 0 && now.hour * 60 + now.minute >= options_.dailyMinute) dailyDone_ = DayKey(now);
    shotsAtDaily_ = lastShot.number;
  }

  const bool ended = f.phase() == Phase::Ended;
  // From its first tick: while the save dialog is open nothing runs yet.
  const bool series = f.SeriesRuns && !ended;
  if (series && !series_) {
    seriesStartMs_ = nowMs;
    underDay_ = underHour_ = false;
    const std::string wait = JsonNumber(static_cast<double>(SeriesShotSpacingMs(f.st)) / 1000.0);
    Emit(f, lastShot, "series-started", "a series of shots started, one every " + wait + " s.",
         Field("waitSeconds", wait));
  } else if (!series && series_) {
    if (ended && f.fatalNumber != 0) {
      Emit(f, lastShot, "series-stopped",
           "the series ended with error " + std::to_string(f.fatalNumber) + ": " + f.fatalText,
           Field("reason", JsonText("error")) + Field("errorNumber", std::to_string(f.fatalNumber)) +
               Field("errorText", JsonText(f.fatalText)));
    } else if (f.Disk.stoppedSeries) {
      Emit(f, lastShot, "series-stopped", "the series stopped itself: the disk is nearly full.",
           Field("reason", JsonText("disk")));
    } else {
      Emit(f, lastShot, "series-stopped", "the series was stopped.", Field("reason", JsonText("stop")));
    }
  }
  series_ = series;

  outages_ += (f.Outage.active && !cameraWasAway_ ? 1 : 0) + (f.CardAway.active && !cardWasAway_ ? 1 : 0);
  cameraWasAway_ = f.Outage.active;
  cardWasAway_ = f.CardAway.active;
  WatchDevice(f, lastShot, f.Outage, "camera", "the camera", cameraTold_);
  WatchDevice(f, lastShot, f.CardAway, "card", "the DAQ card", cardTold_);

  const int64_t diskLeftMs = series ? DiskTimeLeftMs(f) : -1;
  if (diskLeftMs >= 0 && ((diskLeftMs < kDayMs && !underDay_) || (diskLeftMs < kHourMs && !underHour_))) {
    underDay_ = true;
    underHour_ = diskLeftMs < kHourMs;
    Emit(f, lastShot, "disk-low", "the disk is full in " + DurationText(diskLeftMs) + " at this wait.",
         Field("diskSecondsLeft", std::to_string(diskLeftMs / 1000)));
  }

  if (series) {
    const int64_t lastMs = std::max(seriesStartMs_, lastShot.steadyMs);
    const int64_t quietMs = nowMs - lastMs;
    if (quietMs > std::max(kWatchdogWaits * SeriesShotSpacingMs(f.st), options_.awayMs) && watchdogShotMs_ != lastMs) {
      watchdogShotMs_ = lastMs;
      // The time without a shot as it is now, when told.
      Emit(f, lastShot, "watchdog", "no shot for " + SecondsText(quietMs) + " s while the series runs.",
           Field("secondsWithoutShot", JsonNumber(static_cast<double>(quietMs) / 1000.0)));
    }
  }

  if (options_.dailyMinute >= 0 && now.hour * 60 + now.minute >= options_.dailyMinute && dailyDone_ != DayKey(now)) {
    dailyDone_ = DayKey(now);
    const int32_t shots = lastShot.number - shotsAtDaily_;
    Emit(f, lastShot, "daily",
         std::to_string(shots) + " shots and " + std::to_string(outages_) + " outages since the last summary.",
         Field("shots", std::to_string(shots)) + Field("outages", std::to_string(outages_)) +
             Field("voltages", VoltagesJson(TakeReport(f, lastShot))) +
             Field("diskSecondsLeft", diskLeftMs < 0 ? "null" : std::to_string(diskLeftMs / 1000)));
    shotsAtDaily_ = lastShot.number;
    outages_ = 0;
  }
}

}  // namespace ostrelo
