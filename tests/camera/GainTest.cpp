// Enter in the gain box: normalisation, clamping to the camera's limits, send and
// read-back, in the order the camera sees them.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "camera/sim/ForwardingCamera.h"
#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "shell/Form1.h"
#include "support/ProcessLocale.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

using testing::FakeDialogs;

// Passes every call to a simulated camera, except the gain property, which it serves
// itself with limits chosen by the test and a value quantised as a real camera would.
// It notes each gain call with the text the box held at that moment.
class GainCamera final : public ForwardingCamera {
 public:
  struct Call {
    std::string op;  // "GetF" or "SetF"
    int32_t index;
    double value;  // sent by SetF
    std::string textAtCall;
  };
  explicit GainCamera(SimulatedCamera& inner) : ForwardingCamera(inner) {}

  double minimum = -2.0, maximum = 18.25, step = 0.25, value = 3.0;
  bool failLimitReads = false;
  const Form1* form = nullptr;
  std::vector<Call> calls;

  int32_t GetF(int32_t property, double* out, int32_t index) override {
    if (property != SimulatedCamera::kGainHandle) return inner_.GetF(property, out, index);
    calls.push_back({"GetF", index, 0.0, Text()});
    if (index != 0 && failLimitReads) return -1;
    switch (index) {
      case 0: *out = value; return 0;
      case -1: *out = maximum; return 0;
      case -2: *out = minimum; return 0;
      default: return -1;
    }
  }
  int32_t SetF(int32_t property, double v, int32_t index) override {
    if (property != SimulatedCamera::kGainHandle) return inner_.SetF(property, v, index);
    calls.push_back({"SetF", index, v, Text()});
    value = std::round(v / step) * step;
    return 0;
  }
  std::vector<double> Sent() const {
    std::vector<double> sent;
    for (const auto& c : calls) {
      if (c.op == "SetF") sent.push_back(c.value);
    }
    return sent;
  }

 private:
  std::string Text() const { return form ? form->ui.Text_Gain.caption : std::string(); }
};

// A started main window whose camera serves the gain through GainCamera.
struct GainRig {
  explicit GainRig(char decimalSeparator = '.', bool gainProperty = true)
      : sim(clock),
        gain(sim),
        daq(clock),
        form(Devices{gain, nullptr, daq, clock, dialogs, NumberLocale{decimalSeparator}}) {
    sim.script.gainProperty = gainProperty;
    gain.form = &form;
    EXPECT_TRUE(form.Load());
    gain.calls.clear();
  }
  // Types a text into the box and presses Enter.
  void Enter(const std::string& text) {
    form.ui.Text_Gain.caption = text;
    form.Dispatch([&] { form.Text_Gain_KeyPress(kKeyEnter); });
  }
  ManualClock clock;
  SimulatedCamera sim;
  GainCamera gain;
  SimulatedDaq daq;
  FakeDialogs dialogs;
  Form1 form;
};

struct EntryCase {
  const char* name;
  char separator;
  std::string typed;
  std::optional<double> sent;  // nullopt: nothing reaches the camera
  std::string textWhenSent;    // the box at the moment of the send
  std::string finalText;
};

class GainEntryTest : public ::testing::TestWithParam<std::tuple<EntryCase, const char*>> {};

TEST_P(GainEntryTest, ClampsSendsAndShowsTheReadBack) {
  const auto& [c, locale] = GetParam();
  const testing::ProcessLocale inLocale(locale);
  GainRig rig(c.separator);
  rig.Enter(c.typed);
  if (c.sent) {
    ASSERT_EQ(rig.gain.Sent(), std::vector<double>{*c.sent});
    for (const auto& call : rig.gain.calls) {
      if (call.op == "SetF") {
        EXPECT_EQ(call.textAtCall, c.textWhenSent);
      }
    }
  } else {
    EXPECT_TRUE(rig.gain.Sent().empty());
  }
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, c.finalText);
  EXPECT_EQ(rig.form.phase(), Phase::Running);
}

// Limits -2 .. 18.25 dB; the camera keeps values in steps of 0.25 dB.
INSTANTIATE_TEST_SUITE_P(
    Entries, GainEntryTest,
    ::testing::Combine(::testing::Values(EntryCase{"Empty", '.', "", 0.0, "0", "0"},
                                         EntryCase{"NotANumber", '.', "abc", 0.0, "0", "0"},
                                         EntryCase{"StartsWithZero", '.', "0dB", 0.0, "0", "0"},
                                         EntryCase{"InRangeShowsTheCamerasValue", '.', "7.3", 7.3, "7.3", "7.25"},
                                         EntryCase{"AboveMaximum", '.', "25", 18.25, "18.25", "18.25"},
                                         EntryCase{"HugeValue", '.', "1e308", 18.25, "18.25", "18.25"},
                                         EntryCase{"ExactlyMaximum", '.', "18.25", 18.25, "18.25", "18.25"},
                                         EntryCase{"ExactlyMinimum", '.', "-2", -2.0, "-2", "-2"},
                                         EntryCase{"BelowMinimum", '.', "-5.5", -2.0, "-2", "-2"},
                                         EntryCase{"BlanksAroundAndSign", '.', " +12 ", 12.0, " +12 ", "12"},
                                         EntryCase{"Exponent", '.', "1e1", 10.0, "1e1", "10"},
                                         EntryCase{"NumberWithUnitShowsGainKept", '.', "12dB", std::nullopt, "", "3"},
                                         EntryCase{"CommaInPointLocale", '.', "1,5", 1.5, "1,5", "1.5"},
                                         EntryCase{"CommaLocaleAccepted", ',', "1,5", 1.5, "1,5", "1,5"},
                                         EntryCase{"CommaLocaleBelowOne", ',', "0,5", 0.5, "0,5", "0,5"},
                                         EntryCase{"CommaBelowOneInPointLocale", '.', "0,5", 0.5, "0,5", "0.5"},
                                         EntryCase{"PointBelowOneInCommaLocale", ',', "0.5", 0.5, "0.5", "0,5"},
                                         EntryCase{"PointInCommaLocale", ',', "1.5", 1.5, "1.5", "1,5"},
                                         EntryCase{"CommaLocaleClampShowsComma", ',', "20,5", 18.25, "18,25", "18,25"},
                                         EntryCase{"CommaLocaleNotANumber", ',', "abc", 0.0, "0", "0"}),
                       ::testing::ValuesIn(testing::kOperatorLocales)),
    [](const auto& info) { return testing::NameInLocale(info, std::get<0>(info.param).name); });

TEST(GainEntry, ReadsMaximumThenMinimumThenSendsThenReadsBack) {
  testing::Rig rig;
  ASSERT_TRUE(rig.form.Load());
  rig.camera.recordCalls = true;
  rig.form.ui.Text_Gain.caption = "5";
  rig.form.Dispatch([&] { rig.form.Text_Gain_KeyPress(kKeyEnter); });
  const std::string h = std::to_string(SimulatedCamera::kGainHandle);
  EXPECT_EQ(rig.camera.calls, (std::vector<std::string>{"OBJ_GetF(" + h + ",-1)", "OBJ_GetF(" + h + ",-2)",
                                                        "OBJ_SetF(" + h + ",5.000000,0)", "OBJ_GetF(" + h + ",0)"}));
  EXPECT_EQ(rig.camera.gain(), 5.0);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, "5");
}

TEST(GainEntry, AboveTheSimulatedCamerasMaximumSendsItsMaximum) {
  testing::Rig rig;
  ASSERT_TRUE(rig.form.Load());
  rig.form.ui.Text_Gain.caption = "40";
  rig.form.Dispatch([&] { rig.form.Text_Gain_KeyPress(kKeyEnter); });
  EXPECT_EQ(rig.camera.gain(), SimulatedCamera::kGainMax);
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, "12");
}

TEST(GainEntry, FailedLimitReadsLeaveBothLimitsAtZero) {
  GainRig rig;
  rig.gain.failLimitReads = true;
  rig.Enter("5");
  EXPECT_EQ(rig.gain.Sent(), std::vector<double>{0.0});
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, "0");
}

TEST(GainEntry, KeysOtherThanEnterNeverReachTheCamera) {
  GainRig rig;
  for (int32_t key : {int32_t{'1'}, int32_t{'a'}, int32_t{'.'}, int32_t{','}, int32_t{'-'}, 8, 10, 27, 0}) {
    rig.form.ui.Text_Gain.caption = "";
    rig.form.Dispatch([&] { rig.form.Text_Gain_KeyPress(key); });
    EXPECT_EQ(rig.form.ui.Text_Gain.caption, "") << "key " << key;
  }
  EXPECT_TRUE(rig.gain.calls.empty());
}

struct MissingCase {
  const char* name;
  std::string typed, finalText;
};
class GainWithoutPropertyTest : public ::testing::TestWithParam<MissingCase> {};

TEST_P(GainWithoutPropertyTest, OnlyNormalisesTheText) {
  GainRig rig('.', /*gainProperty=*/false);
  ASSERT_EQ(rig.form.st.GainHandle, -1);
  rig.sim.recordCalls = true;
  rig.Enter(GetParam().typed);
  EXPECT_TRUE(rig.gain.calls.empty());
  EXPECT_TRUE(rig.sim.calls.empty());
  EXPECT_EQ(rig.form.ui.Text_Gain.caption, GetParam().finalText);
}

INSTANTIATE_TEST_SUITE_P(Entries, GainWithoutPropertyTest,
                         ::testing::Values(MissingCase{"Number", "12", "12"}, MissingCase{"Empty", "", "0"},
                                           MissingCase{"NotANumber", "abc", "0"},
                                           MissingCase{"NumberWithUnit", "12dB", "12dB"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Mean grey level of the next picture of the simulated camera.
double NextPictureMean(SimulatedCamera& camera, int32_t driver) {
  int32_t used = 0, request = -1;
  EXPECT_EQ(camera.ImageRequestSingle(driver, 0, &used), 0);
  EXPECT_EQ(camera.ImageRequestWaitFor(driver, 200, 0, &request), 0);
  RequestBufferInfo info;
  EXPECT_EQ(camera.GetImageRequestBufferData(driver, request, &info), 0);
  double sum = 0;
  for (int32_t i = 0; i < info.width * info.height; ++i) sum += info.data[i];
  EXPECT_EQ(camera.ImageRequestUnlock(driver, request), 0);
  return sum / (static_cast<double>(info.width) * info.height);
}

TEST(GainEntry, SimulatedPictureFollowsTheGain) {
  testing::Rig rig(320, 256);
  ASSERT_TRUE(rig.form.Load());
  const int32_t driver = rig.form.st.DriverHandle;
  ASSERT_EQ(rig.camera.ImageRequestUnlock(driver, rig.form.st.RequestNumber), 0);
  rig.form.st.RequestNumber = -1;
  auto enter = [&](const char* text) {
    rig.form.ui.Text_Gain.caption = text;
    rig.form.Dispatch([&] { rig.form.Text_Gain_KeyPress(kKeyEnter); });
  };
  const double atZero = NextPictureMean(rig.camera, driver);
  enter("6");
  const double atSix = NextPictureMean(rig.camera, driver);
  enter("0");
  const double backAtZero = NextPictureMean(rig.camera, driver);
  EXPECT_GT(atSix, atZero + 25);  // brighter, though the brightest parts saturate
  EXPECT_NEAR(backAtZero, atZero, atZero * 0.1);
}

}  // namespace
}  // namespace ostrelo
