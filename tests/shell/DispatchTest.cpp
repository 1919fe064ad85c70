#include <gtest/gtest.h>

#include <stdexcept>

#include "shell/ProgramError.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

using testing::Rig;

struct FatalCase {
  const char* name;
  std::function<void()> raise;
  const char* message;
};

class FatalErrorTest : public ::testing::TestWithParam<FatalCase> {};

TEST_P(FatalErrorTest, EndsTheProgramAfterOneMessageWithNumberAndDescription) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  rig.form.ui.Timer1.Start();
  bool timersStoppedDuringBox = false;
  uint64_t framesBefore = 0;
  rig.dialogs.whileModal = [&] {
    timersStoppedDuringBox = !rig.form.ui.Timer1.enabled() && !rig.form.ui.VisuTimer.enabled();
    framesBefore = rig.camera.framesDelivered();
    // Ticks that fire behind the modal box must not run.
    rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
    rig.form.Dispatch([&] { throw ProgramError(5, "second"); });
    EXPECT_EQ(rig.camera.framesDelivered(), framesBefore);
  };

  rig.form.Dispatch(GetParam().raise);

  ASSERT_EQ(rig.dialogs.messages.size(), 1u);
  EXPECT_EQ(rig.dialogs.messages[0].text, GetParam().message);
  EXPECT_EQ(rig.dialogs.messages[0].title, "Ostrelo");
  EXPECT_TRUE(timersStoppedDuringBox);
  EXPECT_EQ(rig.form.phase(), Phase::Ended);
  EXPECT_EQ(rig.form.exitCode(), 1);
  EXPECT_EQ(rig.form.st.RequestNumber, -1) << "the camera is released after the message";

  rig.form.Dispatch([&] { rig.form.VisuTimer_Timer(); });
  EXPECT_EQ(rig.camera.framesDelivered(), framesBefore) << "no event runs after the end";
}

INSTANTIATE_TEST_SUITE_P(Errors, FatalErrorTest,
                         ::testing::Values(FatalCase{"ProgramError", [] { throw ProgramError(-200279, "Read failed"); },
                                                     "Run-time error '-200279':\n\nRead failed"},
                                           FatalCase{"OtherException", [] { throw std::runtime_error("bad"); },
                                                     "Run-time error '-1':\n\nbad"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Dispatch, AHandlerThatReturnsLeavesTheProgramRunning) {
  Rig rig;
  ASSERT_TRUE(rig.form.Load());
  bool ran = false;
  rig.form.Dispatch([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(rig.form.phase(), Phase::Running);
  EXPECT_TRUE(rig.dialogs.messages.empty());
}

}  // namespace
}  // namespace ostrelo
