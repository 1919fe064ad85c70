// The run watched from outside, end to end: a series in simulated time through a camera
// and a card outage, its status file at each step and its events posted with libcurl
// (WinHTTP on Windows) to a receiver on 127.0.0.1 (in a network namespace of the test's own where permitted,
// tests/support/own-network.sh); a receiver that is down; refused URLs.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <clocale>
#include <functional>
#include <mutex>
#include <thread>

#include "shots/SeriesTestSupport.h"
#include "support/LoopbackSocket.h"
#include "support/ProcessLocale.h"
#include "watch/Delivery.h"
#include "watch/Notifications.h"
#include "watch/Watcher.h"
#include "watch/command/CommandTransport.h"
#ifdef _WIN32
#include "watch/winhttp/WinHttpTransport.h"
using HttpTransport = ostrelo::WinHttpTransport;
#else
#include "watch/curl/CurlTransport.h"
using HttpTransport = ostrelo::CurlTransport;
#endif

namespace ostrelo::testing {
namespace {

using Json = nlohmann::json;

// Answers every POST with 200 and keeps it, headers and body; a silent one takes the
// connection and never answers.
class Receiver {
 public:
  explicit Receiver(uint16_t port = 0, bool silent = false)
      : port_(port), fd_(ListenOnLoopback(port_)), silent_(silent) {
    EXPECT_NE(fd_, kNoSocket) << port;
    thread_ = std::thread([this] { Serve(); });
  }
  ~Receiver() { StopListening(fd_, thread_); }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/hook"; }
  uint16_t port() const { return port_; }
  // The bodies received, once done says so (or after 30 s: a failure, not a measure).
  std::vector<std::string> Wait(const std::function<bool(const std::vector<std::string>&)>& done) {
    for (int i = 0; i < 3000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (done(bodies_)) break;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    return bodies_;
  }

 private:
  void Serve() {
    std::vector<Socket> held;
    for (Socket c; (c = ::accept(fd_, nullptr, nullptr)) != kNoSocket;) {
      if (silent_) {
        held.push_back(c);
        continue;
      }
      std::string in;
      char buffer[4096];
      size_t end = std::string::npos, length = 0;
      for (long n; (end == std::string::npos || in.size() < end + 4 + length) &&
                   (n = ::recv(c, buffer, sizeof buffer, 0)) > 0;) {
        in.append(buffer, static_cast<size_t>(n));
        end = in.find("\r\n\r\n");
        const size_t at = in.find("Content-Length: ");
        if (at < end) length = std::stoul(in.substr(at + 16));
      }
      const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      EXPECT_EQ(::send(c, ok.data(), ok.size(), 0), static_cast<long>(ok.size()));
      CloseSocket(c);
      const std::lock_guard<std::mutex> lock(mutex_);
      bodies_.push_back(in);
    }
    for (const Socket c : held) CloseSocket(c);
  }
  uint16_t port_;
  Socket fd_;
  bool silent_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> bodies_;
};

// Room for 15 h of shots at 1 s.
struct RoomyDisk final : FreeSpace {
  std::optional<DiskSpace> Read(const std::string&) override { return DiskSpace{available, 4096, "/data"}; }
  uint64_t available = 1ull << 29;
};

// A series watched as the program does, its events delivered to the URLs and the command.
struct NotifyBench {
  NotifyBench(std::vector<std::string> urls, LocalTime start, std::string command = "")
      : s(start),
        notify(
            {std::move(urls), std::move(command), EventOptions{5000, 12 * 60, "bench"}, DeliveryOptions{16, 3, 1}},
            [] { return std::make_unique<HttpTransport>(); }, [] { return std::make_unique<CommandTransport>(); },
            [this](const std::string& l) { Log(l); }),
        watcher(s.form(), statusFile) {
    s.form().dev.freeSpace = &disk;
    watcher.SetEvents(&notify.events());
    s.form().afterEvent = [this] { watcher.Update(); };
  }
  void Log(const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex);
    log.push_back(line);
  }
  size_t Lines() {
    const std::lock_guard<std::mutex> lock(mutex);
    return log.size();
  }
  SeriesRig s;
  TempFolder elsewhere;
  std::string statusFile = elsewhere / "status.json";
  RoomyDisk disk;
  std::mutex mutex;
  std::vector<std::string> log;
  Notifications notify;
  Watcher watcher;
};

std::string BodyOf(const std::string& request) { return request.substr(request.find("\r\n\r\n") + 4); }

std::string EventOf(const std::string& body) {
  const size_t at = body.find("\"event\":\"") + 9;
  return body.substr(at, body.find('"', at) - at);
}

struct Step {
  std::function<void(SeriesRig&)> act;
  std::vector<const char*> status;  // what the status file holds after it
  bool asRecorded = false;          // its voltages are those of the last shot's line
};

// Shot n's voltages as its record line writes them, by channel.
Json RecordedVoltages(const Form1& f, const std::string& record, int32_t n) {
  Json voltages = Json::object();
  for (size_t i = 0; i < f.st.ChannelTable.size(); ++i) {
    std::string text = SplitFields(SplitLines(record).at(static_cast<size_t>(n))).at(2 + i);
    std::replace(text.begin(), text.end(), ',', '.');
    std::from_chars(text.data(), text.data() + text.size(),
                    (voltages[f.st.ChannelTable[i].Name] = 0.0).get_ref<double&>());
  }
  return voltages;
}

// Under Wine a file of the folder is now and then still open elsewhere for a moment
// (a sharing violation), though the program has closed it: the operator would try again.
void TakeAway(const fs::path& folder) {
  std::error_code error;
  for (int tries = 0; fs::remove_all(folder, error) == static_cast<std::uintmax_t>(-1) && tries < 100; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_FALSE(fs::exists(folder)) << error.message();
}

class WatcherInLocale : public ::testing::TestWithParam<std::tuple<int, const char*>> {};

// Every document is JSON whatever the locale, and its voltages are the record's. With 1,
// a second URL and a command writing to a file get the same events, ids and all.
TEST_P(WatcherInLocale, ASeriesThroughOutagesKeepsTheStatusAndPostsEachEventOnce) {
  const ProcessLocale inLocale(std::get<1>(GetParam()));
  const bool all = std::get<0>(GetParam()) == 1;
  Receiver receiver, second;
  TempFolder commandFolder;
  const std::string got = commandFolder / "got";
#ifdef _WIN32
  const std::string command = "echo [%OSTRELO_EVENT_ID%]>> \"" + got + "\"& more >> \"" + got + "\"";
#else
  const std::string command = "{ printf '[%s]\\n' \"$OSTRELO_EVENT_ID\"; cat; } >> " + got;
#endif
  NotifyBench b(all ? std::vector{receiver.url(), second.url()} : std::vector{receiver.url()},
                LocalTime{2011, 3, 25, 11, 59, 38, 43178.0}, all ? command : "");
  SeriesRig& s = b.s;
  s.form().st.DaqAcquisitionOn = true;
  s.form().dev.locale.decimalSeparator = *std::localeconv()->decimal_point;
  s.rig.dialogs.whileModal = [&] {  // the save dialog open for 10 s
    s.rig.clock.Advance(10000), b.watcher.Update();
    EXPECT_NE(ReadFile(b.statusFile).find(R"("state":"idle")"), std::string::npos);
  };
  const std::vector<Step> steps = {
      {[](SeriesRig& r) { r.EnterWait("1"); }, {R"("state":"idle")", R"("lastShot":0,"lastShotTime":null)"}},
      {[](SeriesRig& r) { r.ClickSeries(); }, {R"("state":"idle")"}},  // the dialog cancelled
      {[](SeriesRig& r) { r.AnswerDialog(), r.ClickSeries(), r.rig.dialogs.whileModal = nullptr; },
       {R"("state":"series","waitSeconds":1,"lastShot":1,"lastShotTime":"2011-03-25T11:59:58+00:00")",
        R"("voltages":{"Canal 0":)", R"("camera":{"answering":true},"card":{"answering":true},"diskSecondsLeft":5)"},
       true},
      {[](SeriesRig& r) { r.rig.camera.script.noPicture = true, r.loop->RunFor(10000); },
       {R"("camera":{"answering":false,"awaySince":"2011-03-25T11:59:58+00:00")",
        R"("notices":["Camera not answering since 11:59:58","Disk full in 15 h )"}},
      {[](SeriesRig& r) {
         r.rig.camera.script.noPicture = false, r.loop->RunFor(3000);
         r.rig.daq.script.awayUntilMs = INT64_MAX, r.loop->RunFor(10000);
       },
       {R"("camera":{"answering":true},"card":{"answering":false,"awaySince":"2011-03-25T12:00:1)",
        R"("notices":["DAQ card not answering since 12:00:1)"}},
      // The folder taken away: the file error ends the series and the program.
      {[](SeriesRig& r) {
         r.rig.daq.script.awayUntilMs = 0, r.loop->RunFor(3000), TakeAway(r.folder.path()), r.loop->RunFor(1000);
       },
       {R"("state":"ended")", R"("card":{"answering":true})", R"("error":{"number":76,"text":"Cannot write )"}},
  };
  std::string record;
  for (const Step& step : steps) {
    step.act(s);
    const std::string json = ReadFile(b.statusFile);
    for (const char* part : step.status) EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
    EXPECT_EQ(FolderContent(b.elsewhere.path()).size(), 1u) << "no temporary file left";
    ASSERT_TRUE(Json::accept(json)) << json;
    if (fs::exists(s.Record())) record = ReadFile(s.Record());
    if (step.asRecorded) {
      EXPECT_EQ(Json::parse(json)["voltages"], RecordedVoltages(s.form(), record, 1)) << record;
    }
  }
  const std::vector<const char*> expected = {"series-started", "disk-low",      "daily",     "camera-lost",
                                             "watchdog",       "camera-back",   "card-lost", "watchdog",
                                             "card-back",      "series-stopped"};
  const auto bodies = receiver.Wait([&](const auto& got) { return got.size() >= expected.size(); });
  ASSERT_EQ(bodies.size(), expected.size());
  std::string toCommand;  // "[id]" a line, then the json
  for (size_t i = 0; i < bodies.size(); ++i) {
    ASSERT_TRUE(Json::accept(BodyOf(bodies[i]))) << bodies[i];
    const Json j = Json::parse(BodyOf(bodies[i]));
    const std::string id = j.value("id", "");
    EXPECT_TRUE(id.size() == 36 && toCommand.find(id) == std::string::npos) << "a UUID of its own: " << bodies[i];
    EXPECT_NE(bodies[i].find("\r\nX-Ostrelo-Event-Id: " + id + "\r\n"), std::string::npos) << bodies[i];
    toCommand += "[" + id + "]\n" + BodyOf(bodies[i]);
    EXPECT_EQ(j["text"].get<std::string>().rfind("bench, im110325-: ", 0), 0u) << bodies[i];
    EXPECT_EQ(EventOf(bodies[i]), expected[i]) << bodies[i];
    EXPECT_NE(bodies[i].find(R"("time":"2011-03-25T1)"), std::string::npos) << bodies[i];
    EXPECT_EQ(j["host"].get<std::string>() + " " + j["picture"].get<std::string>(), "bench " + s.folder / "im110325-")
        << bodies[i];
  }
  EXPECT_NE(bodies[4].find(R"(: no shot for 5.3 s while the series runs.","secondsWithoutShot":5.283})"),
            std::string::npos)
      << bodies[4];
  EXPECT_NE(bodies[5].find(R"(again after 11 s, 9 shots not taken.","awaySeconds":11,"shotsNotTaken":9})"),
            std::string::npos)
      << bodies[5];
  EXPECT_NE(bodies[2].find(R"("shots":1,"outages":1,"voltages":{"Canal 0":)"), std::string::npos) << bodies[2];
  const Json daily = Json::parse(BodyOf(bodies[2]));
  EXPECT_EQ(daily["voltages"], RecordedVoltages(s.form(), record, daily["shot"].get<int32_t>())) << record;
  EXPECT_NE(bodies.back().find(R"("reason":"error","errorNumber":76,"errorText":"Cannot write )"), std::string::npos)
      << bodies.back();
  EXPECT_EQ(b.notify.delivery().dropped(), 0);
  if (!all) return;
  const auto copies = second.Wait([&](const auto& got) { return got.size() >= bodies.size(); });
  ASSERT_EQ(copies.size(), bodies.size());
  for (size_t i = 0; i < bodies.size(); ++i) EXPECT_EQ(BodyOf(copies[i]), BodyOf(bodies[i]));
  std::string written;
  for (int i = 0; i < 3000 && written.size() < toCommand.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    written = ReadFile(got);
    written.erase(std::remove(written.begin(), written.end(), '\r'), written.end());  // cmd.exe's line ends
  }
  EXPECT_EQ(written, toCommand);
}

INSTANTIATE_TEST_SUITE_P(Locales, WatcherInLocale,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::ValuesIn(kOperatorLocales)),
                         [](const auto& info) {
                           return NameInLocale(info, std::get<0>(info.param) == 0 ? "Series" : "UrlsAndCommand");
                         });

// Room for 40 shots beyond the guard's margin: under an hour from the start, then the
// guard's stop, told with its reason.
TEST(Notify, TheDiskGuardsStopIsTold) {
  Receiver receiver;
  NotifyBench b({receiver.url()}, LocalTime{2011, 3, 25, 8, 0, 0, 28800.0});
  b.disk.available = (64ull << 20) + 40 * 8192;
  b.s.EnterWait("0.5");
  b.s.AnswerDialog();
  b.s.ClickSeries();
  b.s.loop->RunFor(60000);
  EXPECT_FALSE(b.s.form().MultiShot);
  const auto bodies = receiver.Wait([](const auto& got) { return got.size() >= 3; });
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(EventOf(bodies[1]), "disk-low");
  EXPECT_NE(bodies[1].find(": the disk is full in "), std::string::npos) << bodies[1];
  EXPECT_NE(bodies[2].find(R"("event":"series-stopped")"), std::string::npos) << bodies[2];
  EXPECT_NE(bodies[2].find(R"("reason":"disk")"), std::string::npos) << bodies[2];
}

TEST(Notify, AReceiverThatIsDownHoldsNothingAndIsLoggedOnce) {
  uint16_t port = 0;
  { port = Receiver().port(); }  // a port nobody listens on any more
  NotifyBench b({"http://127.0.0.1:" + std::to_string(port) + "/"}, LocalTime{2011, 3, 25, 8, 0, 0, 28800.0});
  b.s.EnterWait("0.5");
  b.s.AnswerDialog();
  b.s.ClickSeries();
  b.s.loop->RunFor(5000);
  EXPECT_EQ(b.s.form().ShotCounter, 11) << "the series goes on";
  b.s.ClickSeries();
  // Up again: the next events get through.
  Receiver again(port);
  b.s.ClickSeries();
  b.s.ClickSeries();
  // What was still queued may come first; the last event is this series' end.
  const auto bodies =
      again.Wait([](const auto& got) { return got.size() > 1 && EventOf(got.back()) == "series-stopped"; });
  EXPECT_NE(bodies.back().find(R"("reason":"stop")"), std::string::npos) << bodies.back();
  for (int i = 0; i < 3000 && b.Lines() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::lock_guard<std::mutex> lock(b.mutex);
  ASSERT_EQ(b.log.size(), 2u);
  EXPECT_EQ(b.log[0].rfind("Notification to http://127.0.0.1:" + std::to_string(port) + "/ failed: ", 0), 0u);
  EXPECT_EQ(b.log[1], "Notification to http://127.0.0.1:" + std::to_string(port) + "/ works again");
}

// Three tries of the shortened time-out, then one line; meanwhile the queue of two is
// full, and what did not fit is dropped, counted and told once.
TEST(Notify, AReceiverSlowerThanTheTimeOutIsLoggedOnce) {
  Receiver slow(0, true);
  HttpTransport curl(200);
  std::mutex mutex;
  std::vector<std::string> log;
  Delivery delivery(curl, {slow.url()}, DeliveryOptions{2, 3, 1}, [&](const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex);
    log.push_back(line);
  });
  for (int i = 0; i < 5; ++i) delivery.Send({"watchdog", "", "{}"});
  for (int i = 0; i < 3000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (log.size() >= 2) break;
  }
  const std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(log.size(), 2u);
  // The drop is told before the next event taken, which may be the first.
  const bool droppedFirst = log[0].rfind("Notifications to ", 0) == 0;
  EXPECT_NE(log[droppedFirst ? 1 : 0].find("failed: Timeout was reached"), std::string::npos) << log[0];
  const int64_t dropped = delivery.dropped();
  EXPECT_TRUE(dropped == 2 || dropped == 3) << "two wait, one may be in flight";
  EXPECT_EQ(log[droppedFirst ? 0 : 1],
            "Notifications to " + slow.url() + ": " + std::to_string(dropped) + " events dropped, the queue was full");
}

// Beside a target that never answers another gets every event; what the first missed is counted.
TEST(Notify, AHangingTargetHoldsNoOtherAndWhatItMissedIsCounted) {
  auto hanging = std::make_unique<Receiver>(0, true);
  const std::string hangingUrl = hanging->url();
  Receiver healthy;
  HttpTransport curl(60000);
  std::vector<std::string> log;  // by the hanging target's thread, then the end's
  {
    Delivery delivery(curl, {hangingUrl, healthy.url()}, DeliveryOptions{16, 3, 1},
                      [&](const std::string& line) { log.push_back(line); });
    for (int i = 0; i < 5; ++i) delivery.Send({"watchdog", "", "{}"});
    EXPECT_EQ(healthy.Wait([](const auto& got) { return got.size() >= 5; }).size(), 5u);
    hanging.reset();  // the try in flight fails now
  }
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().rfind("Notification to " + hangingUrl + ": 5 events not delivered", 0), 0u) << log.back();
}

TEST(Notify, ACommandGetsTheJsonOnItsInputAndTheEventInItsEnvironment) {
  TempFolder folder;
  const std::string out = folder / "got";
  CommandTransport command;
  const Posting posting = PostingFor(ReceiverKind::Json, {"watchdog", "", "{}", "1d2c"});
#ifdef _WIN32
  const std::string copy = "more > \"" + out + "\" & echo  %OSTRELO_EVENT% %OSTRELO_EVENT_ID%>> \"" + out + "\"";
#else
  const std::string copy = "cat > " + out + "; echo \" $OSTRELO_EVENT $OSTRELO_EVENT_ID\" >> " + out;
#endif
  EXPECT_EQ(command.Deliver(copy, "watchdog", posting), "");
  std::string got = ReadFile(out);
  got.erase(std::remove(got.begin(), got.end(), '\r'), got.end());  // cmd.exe's line ends
  EXPECT_EQ(got, "{}\n watchdog 1d2c\n");
  EXPECT_EQ(command.Deliver("exit 3", "daily", posting), "the command ended with status 3");
#ifndef _WIN32  // the job object's kill is Windows' own
  // One that hangs is ended with what it started.
  EXPECT_EQ(CommandTransport(200).Deliver("sleep 60 >/dev/null 2>&1 & echo $! > " + out + "; wait", "", posting),
            "the command ran longer than 200 ms");
  const std::string stat = "/proc/" + std::to_string(std::stoi(ReadFile(out))) + "/stat";
  const auto running = [&] { return ReadFile(stat).find(") Z ") == std::string::npos && !ReadFile(stat).empty(); };
  for (int i = 0; i < 500 && running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(running()) << "gone, or a zombie once its SIGKILL is taken";
#endif
}

// Each receiver's prefix gets the body its service documents, on the URL without it: the
// text at a JSON pointer (none: the body is the text), so many members, and a part of its own.
TEST(Notify, EachReceiverGetsTheBodyItsServiceTakes) {
  const std::string text = "bench-3, essai: the camera has not answered since 2011-03-25 14:02:33.";
  const RunEvent event{"camera-lost", text, R"({"event":"camera-lost","text":)" + Json(text).dump() + "}"};
  const std::tuple<std::string, std::string, const char*, size_t, const char*> receivers[] = {
      {"", "application/json", "/text", 2, R"("event":"camera-lost")"},
      {"slack+", "application/json", "/text", 1, ""},
      {"discord+", "application/json", "/content", 1, ""},
      {"teams+", "application/json", "/attachments/0/content/body/1/text", 2,
       R"("contentType":"application/vnd.microsoft.card.adaptive","contentUrl":null,"content":{)"},
      {"gchat+", "application/json; charset=UTF-8", "/text", 1, ""},
      {"ntfy+", "text/plain; charset=utf-8", "", 1, "\r\nTitle: Ostrelo: camera-lost\r\n"},
      {"gotify+", "application/json", "/message", 3, R"("priority":8)"}};
  for (const auto& [prefix, type, textAt, members, part] : receivers) {
    Receiver receiver;
    HttpTransport curl;
    Delivery(curl, {prefix + receiver.url()}, DeliveryOptions{}, [](const std::string&) {}).Send(event);
    const std::string head = receiver.Wait([](const auto&g) { return !g.empty(); }).at(0), got = BodyOf(head);
    EXPECT_EQ(head.rfind("POST /hook ", 0), 0u) << head;
    EXPECT_NE(head.find("\r\nContent-Type: " + type + "\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find(part), std::string::npos) << prefix << head;
    const Json j = *textAt != '\0' ? Json::parse(got) : Json(got);
    EXPECT_EQ(j.size(), members) << got;
    EXPECT_EQ(j.at(Json::json_pointer(textAt)), text) << got;
  }
}

TEST(Notify, RefusesWhatIsNotAnHttpUrl) {
  for (const char* url : {"http://example.org/hook", "https://[::1]:8443/x?y", "HTTP://host:1", "NTFY+http://h/t"}) {
    EXPECT_EQ(NotifyUrlProblem(url), "") << url;
  }
  for (const char* url :
       {"ftp://host/", "host/hook", "http://", "http://:80/", "http://host:0/", "http://host:99999",
        "http://user@host/", "http://ho st/", "https://[::1/", "mail+https://host/", "slack+ftp://h/"}) {
    EXPECT_NE(NotifyUrlProblem(url), "") << url;
  }
  // Named in messages and log lines without what may be secret.
  for (const auto& [given, shown] : std::vector<std::pair<std::string, std::string>>{
           {"ntfy+https://u:pw@h:81/t?auth=x#f", "ntfy+https://***@h:81/t?***"},
           {"http://h#f", "http://h#***"},
           {" /bin/n.sh tok https://x", "/bin/n.sh ..."},
           {"TOKEN=s A_1=t /bin/n.sh", "/bin/n.sh"},
           {"TOKEN=s", "..."},
           {"notify", "notify"}}) {
    EXPECT_EQ(ShownTarget(given), shown);
  }
}

}  // namespace
}  // namespace ostrelo::testing
