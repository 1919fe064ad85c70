#include "watch/RunReport.h"

#include <cmath>
#include <cstdio>

#include "shell/Form1.h"
#include "shell/Numbers.h"
#include "shots/DiskGuard.h"
#include "shots/MeasurementRecord.h"

namespace ostrelo {

namespace {

std::string Field(const char* name, const std::string& json) { return JsonText(name) + ":" + json; }

}  // namespace

RunReport TakeReport(const Form1& f, const ShotSeen& lastShot) {
  RunReport r;
  r.state = f.phase() == Phase::Ended ? "ended" : f.SeriesRuns ? "series" : f.OneShot ? "one shot" : "idle";
  r.waitSeconds = f.st.WaitTime;
  r.lastShot = lastShot;
  r.acquisitionOn = f.st.DaqAcquisitionOn;
  for (size_t i = 0; i < r.voltages.size(); ++i) {
    r.channelNames[i] = f.st.ChannelTable[i].Name;
    r.voltages[i] = RecordedVoltage(lastShot.number > 0 ? lastShot.voltages[i] : f.st.ChannelTable[i].Value);
  }
  r.cameraAway = f.Outage.active;
  r.cameraAwaySince = f.Outage.since;
  r.cardAway = f.CardAway.active;
  r.cardAwaySince = f.CardAway.since;
  r.diskLeftMs = f.SeriesRuns ? DiskTimeLeftMs(f) : -1;
  r.notices = f.ui.DeviceNotices();
  if (!f.ui.DiskNotice.empty()) r.notices.push_back(f.ui.DiskNotice);
  r.errorNumber = f.fatalNumber;
  r.errorText = f.fatalText;
  return r;
}

std::string IsoTime(const LocalTime& t) {
  const int32_t offset = t.utcOffsetMinutes < 0 ? -t.utcOffsetMinutes : t.utcOffsetMinutes;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonNumber(double v) { return std::isfinite(v) ? GeneralNumber(v, '.') : "null"; }

std::string VoltagesJson(const RunReport& r) {
  std::string voltages = "{";
  for (size_t i = 0; r.acquisitionOn && i < r.voltages.size(); ++i) {
    voltages += (i > 0 ? "," : "") + Field(r.channelNames[i].c_str(), JsonNumber(r.voltages[i]));
  }
  return voltages + "}";
}

std::string StatusJson(const RunReport& r) {
  auto device = [](bool away, const LocalTime& since) {
    return std::string("{") + Field("answering", away ? "false" : "true") +
           (away ? "," + Field("awaySince", JsonText(IsoTime(since))) : "") + "}";
  };
  std::string notices = "[";
  for (size_t i = 0; i < r.notices.size(); ++i) notices += (i > 0 ? "," : "") + JsonText(r.notices[i]);
  notices += "]";
  std::string json = "{" + Field("state", JsonText(r.state)) + "," + Field("waitSeconds", JsonNumber(r.waitSeconds)) +
                     "," + Field("lastShot", std::to_string(r.lastShot.number)) + "," +
                     Field("lastShotTime", r.lastShot.number > 0 ? JsonText(IsoTime(r.lastShot.time)) : "null") + "," +
                     Field("voltages", VoltagesJson(r)) + "," +
                     Field("camera", device(r.cameraAway, r.cameraAwaySince)) + "," +
                     Field("card", device(r.cardAway, r.cardAwaySince)) + "," +
                     Field("diskSecondsLeft", r.diskLeftMs < 0 ? "null" : std::to_string(r.diskLeftMs / 1000)) + "," +
                     Field("notices", notices);
  if (r.errorNumber != 0) {
    json += "," + Field("error", "{" + Field("number", std::to_string(r.errorNumber)) + "," +
                                     Field("text", JsonText(r.errorText)) + "}");
  }
  return json + "}\n";
}

}  // namespace ostrelo
