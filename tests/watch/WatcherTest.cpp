// The status file through a series in simulated time: a camera outage, a card outage,
// STOP. Each step's document is checked for what it must hold.

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <vector>

#include "shots/SeriesTestSupport.h"
#include "watch/Watcher.h"

namespace ostrelo::testing {
namespace {

struct Step {
  const char* what;
  std::function<void(SeriesRig&)> act;
  std::vector<const char*> holds;
};

TEST(StatusFile, FollowsTheSeriesThroughOutages) {
  SeriesRig s;
  s.form().st.DaqAcquisitionOn = true;
  TempFolder elsewhere;
  const std::string path = elsewhere / "status.json";
  Watcher watcher(s.form(), path);
  s.form().afterEvent = [&] { watcher.Update(); };
  const std::vector<Step> steps = {
      {"started",
       [](SeriesRig& r) { r.EnterWait("1"); },
       {R"("state":"idle")", R"("lastShot":0,"lastShotTime":null)", R"("voltages":{"Canal 0":)"}},
      {"series",
       [](SeriesRig& r) { r.AnswerDialog(), r.ClickSeries(); },
       {R"("state":"series","waitSeconds":1,"lastShot":1,"lastShotTime":"2011-03-25T12:00:00+00:00")",
        R"("camera":{"answering":true},"card":{"answering":true})"}},
      {"camera away",
       [](SeriesRig& r) { r.rig.camera.script.noPicture = true, r.loop->RunFor(3000); },
       {R"("lastShot":1,)", R"("camera":{"answering":false,"awaySince":"2011-03-25T12:00:0)",
        R"("notices":["Camera not answering since 12:00:0)"}},
      {"card away",
       [](SeriesRig& r) {
         r.rig.camera.script.noPicture = false, r.rig.daq.script.awayUntilMs = INT64_MAX, r.loop->RunFor(3000);
       },
       {R"("camera":{"answering":true},"card":{"answering":false,"awaySince":"2011-03-25T12:00:0)",
        R"("notices":["DAQ card not answering since 12:00:0)"}},
      {"stopped",
       [](SeriesRig& r) { r.rig.daq.script.awayUntilMs = 0, r.loop->RunFor(3000), r.ClickSeries(); },
       {R"("state":"idle")", R"("card":{"answering":true})", R"("notices":[])"}},
  };
  for (const Step& step : steps) {
    step.act(s);
    const std::string json = ReadFile(path);
    for (const char* part : step.holds) EXPECT_NE(json.find(part), std::string::npos) << step.what << ": " << json;
    EXPECT_EQ(FolderContent(elsewhere.path()).size(), 1u) << "no temporary file left";
  }
}

}  // namespace
}  // namespace ostrelo::testing
