// The run watched from outside, end to end: a series in simulated time through a camera
// and a card outage, its status file at each step and its events posted with libcurl to
// a receiver on 127.0.0.1 (in a network namespace of the test's own where permitted,
// tests/support/own-network.sh); a receiver that is down; refused URLs.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <functional>
#include <mutex>
#include <thread>

#include "shots/SeriesTestSupport.h"
#include "watch/Delivery.h"
#include "watch/Watcher.h"
#include "watch/command/CommandTransport.h"
#include "watch/curl/CurlTransport.h"

namespace ostrelo::testing {
namespace {

// Answers every POST with 200 and keeps its body; a silent one takes the connection and
// never answers.
class Receiver {
 public:
  explicit Receiver(uint16_t port = 0, bool silent = false) : fd_(::socket(AF_INET, SOCK_STREAM, 0)), silent_(silent) {
    const int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), size), 0);
    ::listen(fd_, 8);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Receiver() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
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
    std::vector<int> held;
    for (int c; (c = ::accept(fd_, nullptr, nullptr)) >= 0; ::close(c)) {
      if (silent_) {
        held.push_back(::dup(c));
        continue;
      }
      std::string in;
      char buffer[4096];
      // Every event is one JSON object: the request ends with its closing brace.
      for (ssize_t n; (in.empty() || in.back() != '}') && (n = ::read(c, buffer, sizeof buffer)) > 0;) {
        in.append(buffer, static_cast<size_t>(n));
      }
      const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
      EXPECT_EQ(::write(c, ok.data(), ok.size()), static_cast<ssize_t>(ok.size()));
      const std::lock_guard<std::mutex> lock(mutex_);
      bodies_.push_back(in.substr(in.find("\r\n\r\n") + 4));
    }
    for (const int c : held) ::close(c);
  }
  int fd_;
  bool silent_;
  uint16_t port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> bodies_;
};

// Room for 15 h of shots at 1 s.
struct RoomyDisk final : FreeSpace {
  std::optional<DiskSpace> Read(const std::string&) override { return DiskSpace{available, 4096, "/data"}; }
  uint64_t available = 1ull << 29;
};

// A series watched as the program does, its events delivered to url.
struct NotifyBench {
  NotifyBench(const std::string& url, LocalTime start)
      : s(start),
        delivery(curl, {url}, DeliveryOptions{16, 3, 1}, [this](const std::string& l) { Log(l); }),
        events(EventOptions{5000, 12 * 60, "bench"}, delivery),
        watcher(s.form(), statusFile) {
    s.form().dev.freeSpace = &disk;
    watcher.SetEvents(&events);
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
  CurlTransport curl;
  std::mutex mutex;
  std::vector<std::string> log;
  Delivery delivery;
  RunEvents events;
  Watcher watcher;
};

std::string EventOf(const std::string& body) {
  const size_t at = body.find("\"event\":\"") + 9;
  return body.substr(at, body.find('"', at) - at);
}

struct Step {
  std::function<void(SeriesRig&)> act;
  std::vector<const char*> status;  // what the status file holds after it
};

TEST(Watcher, ASeriesThroughOutagesKeepsTheStatusAndPostsEachEventOnce) {
  Receiver receiver;
  NotifyBench b(receiver.url(), LocalTime{2011, 3, 25, 11, 59, 58, 43198.0});
  SeriesRig& s = b.s;
  s.form().st.DaqAcquisitionOn = true;
  const std::vector<Step> steps = {
      {[](SeriesRig& r) { r.EnterWait("1"); }, {R"("state":"idle")", R"("lastShot":0,"lastShotTime":null)"}},
      {[](SeriesRig& r) { r.AnswerDialog(), r.ClickSeries(); },
       {R"("state":"series","waitSeconds":1,"lastShot":1,"lastShotTime":"2011-03-25T11:59:58+00:00")",
        R"("voltages":{"Canal 0":)", R"("camera":{"answering":true},"card":{"answering":true},"diskSecondsLeft":5)"}},
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
         r.rig.daq.script.awayUntilMs = 0, r.loop->RunFor(3000), fs::remove_all(r.folder.path()), r.loop->RunFor(1000);
       },
       {R"("state":"ended")", R"("card":{"answering":true})", R"("error":{"number":76,"text":"Cannot write )"}},
  };
  for (const Step& step : steps) {
    step.act(s);
    const std::string json = ReadFile(b.statusFile);
    for (const char* part : step.status) EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
    EXPECT_EQ(FolderContent(b.elsewhere.path()).size(), 1u) << "no temporary file left";
  }
  const std::vector<const char*> expected = {"series-started", "disk-low", "daily",     "watchdog",  "camera-lost",
                                             "camera-back",    "watchdog", "card-lost", "card-back", "series-stopped"};
  const auto bodies = receiver.Wait([&](const auto& got) { return got.size() >= expected.size(); });
  ASSERT_EQ(bodies.size(), expected.size());
  for (size_t i = 0; i < bodies.size(); ++i) {
    EXPECT_EQ(EventOf(bodies[i]), expected[i]) << bodies[i];
    EXPECT_NE(bodies[i].find(R"("time":"2011-03-25T1)"), std::string::npos) << bodies[i];
    EXPECT_NE(bodies[i].find(R"("host":"bench","picture":")" + s.folder / "im110325-\""), std::string::npos)
        << bodies[i];
  }
  EXPECT_NE(bodies[3].find(R"("text":"No shot for 3 s while the series runs.")"), std::string::npos) << bodies[3];
  EXPECT_NE(bodies[5].find(R"(again after 12 s, 10 shots not taken.","awaySeconds":12,"shotsNotTaken":10})"),
            std::string::npos)
      << bodies[5];
  EXPECT_NE(bodies[2].find(R"("shots":1,"outages":1,"voltages":{"Canal 0":)"), std::string::npos) << bodies[2];
  EXPECT_NE(bodies.back().find(R"("reason":"error","errorNumber":76,"errorText":"Cannot write )"), std::string::npos)
      << bodies.back();
  EXPECT_EQ(b.delivery.dropped(), 0);
}

// Room for 40 shots beyond the guard's margin: under an hour from the start, then the
// guard's stop, told with its reason.
TEST(Notify, TheDiskGuardsStopIsTold) {
  Receiver receiver;
  NotifyBench b(receiver.url(), LocalTime{2011, 3, 25, 8, 0, 0, 28800.0});
  b.disk.available = (64ull << 20) + 40 * 8192;
  b.s.EnterWait("0.5");
  b.s.AnswerDialog();
  b.s.ClickSeries();
  b.s.loop->RunFor(60000);
  EXPECT_FALSE(b.s.form().MultiShot);
  const auto bodies = receiver.Wait([](const auto& got) { return got.size() >= 3; });
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_EQ(EventOf(bodies[1]), "disk-low");
  EXPECT_NE(bodies[1].find("The disk is full in "), std::string::npos) << bodies[1];
  EXPECT_NE(bodies[2].find(R"("event":"series-stopped")"), std::string::npos) << bodies[2];
  EXPECT_NE(bodies[2].find(R"("reason":"disk")"), std::string::npos) << bodies[2];
}

TEST(Notify, AReceiverThatIsDownHoldsNothingAndIsLoggedOnce) {
  uint16_t port = 0;
  { port = Receiver().port(); }  // a port nobody listens on any more
  NotifyBench b("http://127.0.0.1:" + std::to_string(port) + "/", LocalTime{2011, 3, 25, 8, 0, 0, 28800.0});
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
  CurlTransport curl(200);
  std::mutex mutex;
  std::vector<std::string> log;
  Delivery delivery(curl, {slow.url()}, DeliveryOptions{2, 3, 1}, [&](const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex);
    log.push_back(line);
  });
  for (int i = 0; i < 5; ++i) delivery.Send("watchdog", "{}");
  for (int i = 0; i < 3000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (log.size() >= 2) break;
  }
  const std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(log.size(), 2u);
  // The drop is told before the next event taken, which may be the first.
  const bool droppedFirst = log[0].rfind("Notifications: ", 0) == 0;
  EXPECT_NE(log[droppedFirst ? 1 : 0].find("failed: Timeout was reached"), std::string::npos) << log[0];
  const int64_t dropped = delivery.dropped();
  EXPECT_TRUE(dropped == 2 || dropped == 3) << "two wait, one may be in flight";
  EXPECT_EQ(log[droppedFirst ? 0 : 1],
            "Notifications: " + std::to_string(dropped) + " events dropped, the queue was full");
}

TEST(Notify, ACommandGetsTheJsonOnItsInputAndTheEventInItsEnvironment) {
  TempFolder folder;
  const std::string out = folder / "got";
  CommandTransport command;
  EXPECT_EQ(command.Deliver("cat > " + out + "; echo \" $OSTRELO_EVENT\" >> " + out, "watchdog", "{}"), "");
  EXPECT_EQ(ReadFile(out), "{} watchdog\n");
  EXPECT_EQ(command.Deliver("exit 3", "daily", "{}"), "the command ended with status 3");
}

TEST(Notify, RefusesWhatIsNotAnHttpUrl) {
  for (const char* url : {"http://example.org/hook", "https://[::1]:8443/x?y", "HTTP://host:1"}) {
    EXPECT_EQ(NotifyUrlProblem(url), "") << url;
  }
  for (const char* url : {"ftp://host/", "host/hook", "http://", "http://:80/", "http://host:0/", "http://host:99999",
                          "http://user@host/", "http://ho st/", "https://[::1/"}) {
    EXPECT_NE(NotifyUrlProblem(url), "") << url;
  }
}

}  // namespace
}  // namespace ostrelo::testing
