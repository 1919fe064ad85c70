#pragma once
// The events told to whoever is notified: a series started or stopped, the camera or
// the card away for longer than a set time and back, the disk lasting under a day and
// under an hour, no shot for three waits while a series runs (the watchdog), and a
// daily summary. Each is one JSON object: event, id, time, host, picture, shot, text,
// and what the event adds.

#include <cstdint>
#include <string>
#include <vector>

#include "watch/RunReport.h"

namespace ostrelo {

class Form1;
struct DeviceOutage;

// One event: its name, what it says to people (the JSON's text), the JSON object, and
// the id that tells its copies (a retry, another target) from other events.
struct RunEvent {
  std::string name;
  std::string text;
  std::string json;
  std::string id = {};  // empty: none
};

// A random version 4 UUID: no two events of any run on any host share one.
std::string NewEventId();

// Where events go; Send never waits for a delivery.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void Send(const RunEvent& event) = 0;
};

struct EventOptions {
  // A device away for longer than this is told; the watchdog waits as long at least.
  int64_t awayMs = 120000;
  int32_t dailyMinute = -1;  // minutes after midnight of the daily summary; -1: none
  std::string host;          // this machine's name
};

// Watches successive states of the window and sends what changed.
class RunEvents {
 public:
  RunEvents(EventOptions options, EventSink& sink);
  void Observe(const Form1& f, const ShotSeen& lastShot);

 private:
  void Emit(const Form1& f, const ShotSeen& lastShot, const char* event, const std::string& said,
            const std::string& more = "");
  void WatchDevice(const Form1& f, const ShotSeen& shot, const DeviceOutage& o, const char* name, const char* what,
                   bool& told);

  EventOptions options_;
  EventSink& sink_;
  bool started_ = false;
  bool series_ = false;
  int64_t seriesStartMs_ = 0;
  bool cameraTold_ = false, cardTold_ = false;
  bool cameraWasAway_ = false, cardWasAway_ = false;
  int32_t outages_ = 0;  // since the last daily summary
  bool underDay_ = false, underHour_ = false;
  int64_t watchdogShotMs_ = -1;  // the last shot the watchdog has barked after
  int32_t dailyDone_ = 0;        // year * 10000 + month * 100 + day of the last summary
  int32_t shotsAtDaily_ = 0;
};

}  // namespace ostrelo
