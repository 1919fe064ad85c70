#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

#include "shell/DeviceThread.h"
#include "shell/Numbers.h"
#include "shell/Platform.h"

namespace ostrelo {

namespace {

// Days from 30 December 1899 to the given civil date (proleptic Gregorian).
int64_t DaysFromEpoch(int y, int m, int d) {
  // Days from 1970-01-01 (H. Hinnant's algorithm), then shifted.
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;
}

LocalTime FromEpochMs(int64_t ms) {
  const int64_t days = (ms >= 0 ? ms : ms - 86399999) / 86400000;
  const int64_t msInDay = ms - days * 86400000;
  // Civil date from days since 1970-01-01.
  int64_t z = days - 25569 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  LocalTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2));
  const int whole = static_cast<int>(msInDay / 1000);
  t.hour = whole / 3600;
  t.minute = (whole / 60) % 60;
  t.second = whole % 60;
  t.secondsSinceMidnight = static_cast<double>(msInDay) / 1000.0;
  return t;
}

}  // namespace

double DateTimeDays(const LocalTime& t) {
  return static_cast<double>(DaysFromEpoch(t.year, t.month, t.day)) +
         static_cast<double>(t.hour * 3600 + t.minute * 60 + t.second) / 86400.0;
}

std::string TimeOfDayText(const LocalTime& t) {
  return FormatNumber(t.hour, "00") + ":" + FormatNumber(t.minute, "00") + ":" + FormatNumber(t.second, "00");
}

std::string DateAndTimeText(const LocalTime& t) {
  return std::to_string(t.year) + "-" + FormatNumber(t.month, "00") + "-" + FormatNumber(t.day, "00") + " " +
         TimeOfDayText(t);
}

int64_t OutageSeconds(int64_t fromSteadyMs, Clock& clock) { return (clock.SteadyMs() - fromSteadyMs + 500) / 1000; }

std::string ShotsNotTakenText(int32_t shots) {
  return std::to_string(shots) + (shots == 1 ? " shot not taken" : " shots not taken");
}

std::string OutageLine(const std::string& device, const LocalTime& from, int64_t fromSteadyMs, Clock& clock,
                       const std::string& how, int32_t shotsNotTaken) {
  return device + " not answering from " + DateAndTimeText(from) + " to " + DateAndTimeText(clock.Now()) + " (" +
         std::to_string(OutageSeconds(fromSteadyMs, clock)) + " s" + how + "), " + ShotsNotTakenText(shotsNotTaken);
}

LocalTime SystemClock::Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t secs = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  // The same call in both C libraries, its arguments swapped.
#ifdef _WIN32
  localtime_s(&local, &secs);
#else
  localtime_r(&secs, &local);
#endif
  const auto sub = std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(secs)).count();
  LocalTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.secondsSinceMidnight = t.hour * 3600.0 + t.minute * 60.0 + t.second + sub;
  // The local calendar read as if it were UTC, less the instant: tm_gmtoff is not in Windows' C library.
  using namespace std::chrono;
  const sys_seconds localAsUtc =
      sys_days{year{t.year} / t.month / t.day} + hours{t.hour} + minutes{t.minute} + seconds{t.second};
  t.utcOffsetMinutes = static_cast<int32_t>((localAsUtc.time_since_epoch().count() - secs) / 60);
  return t;
}

int64_t SystemClock::SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SystemClock::SleepMs(int32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ManualClock::ManualClock(LocalTime start) { Set(start); }

namespace {
// The time of the calling device thread on a manual clock.
struct DeviceThreadTime {
  const ManualClock* clock = nullptr;
  int64_t steadyMs = 0;
  bool own = false;  // runs on from the moment its work was asked for
};
thread_local DeviceThreadTime deviceThreadTime;
}  // namespace

int64_t ManualClock::Lead() {
  if (!DeviceThread::OnAnyDeviceThread()) return 0;
  DeviceThreadTime& t = deviceThreadTime;
  if (t.clock != this) t = {this, 0};
  const int64_t clockMs = steadyMs_;
  if (!t.own) t.steadyMs = std::max(t.steadyMs, clockMs);
  return t.steadyMs - clockMs;
}

void ManualClock::DeviceWorkBegins(int64_t askedMs) {
  if (!DeviceThread::OnAnyDeviceThread()) return;
  DeviceThreadTime& t = deviceThreadTime;
  if (t.clock != this) t = {this, 0};
  t.steadyMs = std::max(t.steadyMs, askedMs);
  t.own = true;
}

LocalTime ManualClock::Now() {
  const int64_t lead = Lead();
  return FromEpochMs(epochMs_ + lead);
}

int64_t ManualClock::SteadyMs() {
  const int64_t lead = Lead();
  return steadyMs_ + lead;
}

void ManualClock::SleepMs(int32_t ms) {
  if (ms <= 0) return;
  if (!DeviceThread::OnAnyDeviceThread()) {
    Advance(ms);
    return;
  }
  Lead();  // the thread's time as it stands
  deviceThreadTime.steadyMs += ms;
}

void ManualClock::Advance(int64_t ms) {
  if (ms <= 0) return;
  steadyMs_ += ms;
  epochMs_ += ms;
}

void ManualClock::Set(const LocalTime& t) {
  epochMs_ = DaysFromEpoch(t.year, t.month, t.day) * 86400000 + std::llround(t.secondsSinceMidnight * 1000.0);
}

}  // namespace ostrelo
