#pragma once
// The run as it is told outside the window (the status file, the notifications): its
// state, its last shot, the devices and the disk, and the notices on screen.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/Platform.h"

namespace ostrelo {

class Form1;

// What the run last did, as its watcher saw it.
struct ShotSeen {
  int32_t number = 0;  // 0: no shot yet
  LocalTime time{};
  int64_t steadyMs = 0;
  // The channels' values then, those of its record line: readings made since without a
  // shot (the camera silent, the live view) are not this shot's.
  std::array<double, 4> voltages{};
};

struct RunReport {
  std::string state;  // "idle", "series", "one shot", "ended"
  double waitSeconds = 0;
  ShotSeen lastShot;
  bool acquisitionOn = false;
  std::array<std::string, 4> channelNames;
  std::array<double, 4> voltages{};  // as the record writes them
  bool cameraAway = false, cardAway = false;
  LocalTime cameraAwaySince{}, cardAwaySince{};
  int64_t diskLeftMs = -1;  // -1: not known
  std::vector<std::string> notices;
  int32_t errorNumber = 0;
  std::string errorText;
};

RunReport TakeReport(const Form1& f, const ShotSeen& lastShot);

// "2011-03-25T12:00:00+01:00".
std::string IsoTime(const LocalTime& t);
// A JSON string literal, quotes included.
std::string JsonText(const std::string& s);
// A JSON number, with a point whatever the locale; null for what is no number.
std::string JsonNumber(double v);
// The four voltages as one JSON object by channel name; {} while acquisition is off.
std::string VoltagesJson(const RunReport& r);
// The report as one JSON object.
std::string StatusJson(const RunReport& r);

}  // namespace ostrelo
