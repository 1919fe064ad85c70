#pragma once
// Watches the run from outside the window: after every event of the window and once a
// second, it notes the last shot, keeps the status file up to date and tells the
// events. Without a status file and events it writes and sends nothing.

#include <string>

#include "watch/RunEvents.h"
#include "watch/RunReport.h"

namespace ostrelo {

class Form1;

class Watcher {
 public:
  // statusFile: the file kept up to date, empty for none.
  Watcher(Form1& form, std::string statusFile);
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  void Update();
  // Where the run's events go as well; nullptr: nowhere.
  void SetEvents(RunEvents* events) { events_ = events; }
  const ShotSeen& lastShot() const { return lastShot_; }

 private:
  void WriteStatus(const std::string& json);

  Form1& form_;
  std::string statusFile_;
  std::string written_;  // what the status file holds
  bool statusFailing_ = false;
  ShotSeen lastShot_;
  RunEvents* events_ = nullptr;
};

}  // namespace ostrelo
