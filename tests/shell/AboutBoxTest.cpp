#include "shell/AboutBox.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/TestRig.h"

namespace ostrelo {
namespace {

AboutBoxModel OpenedOn(double screenWidthPx, double screenHeightPx) {
  AboutBoxModel about;
  about.screenWidthTwips = screenWidthPx * kTwipsPerPixel;
  about.screenHeightTwips = screenHeightPx * kTwipsPerPixel;
  about.Open();
  return about;
}

struct CentreCase {
  double screenWidthPx, screenHeightPx;
  double left, top;  // twips
};
class AboutCentring : public ::testing::TestWithParam<CentreCase> {};
TEST_P(AboutCentring, LoadCentresInFractionalTwips) {
  const CentreCase c = GetParam();
  const AboutBoxModel about = OpenedOn(c.screenWidthPx, c.screenHeightPx);
  EXPECT_TRUE(about.exists);
  EXPECT_DOUBLE_EQ(about.leftTwips, c.left);
  EXPECT_DOUBLE_EQ(about.topTwips, c.top);
}
INSTANTIATE_TEST_SUITE_P(Screens, AboutCentring,
                         ::testing::Values(CentreCase{1280, 1024, 5587.5, 5520},  // (19200-8025)/2
                                           CentreCase{1366, 768, 6232.5, 3600}, CentreCase{1400, 900, 6487.5, 4590},
                                           CentreCase{535, 288, 0, 0}));

struct CloseCase {
  const char* what;
  std::function<void(AboutBoxModel&)> event;
};
class AboutCloses : public ::testing::TestWithParam<CloseCase> {};
TEST_P(AboutCloses, ListedControlsAndBackgroundCloseTheBox) {
  AboutBoxModel about = OpenedOn(1280, 1024);
  about.Etiquette6_MouseDown(0, 1, 0, 3, 3);  // photo shown, then the click lands elsewhere
  GetParam().event(about);
  EXPECT_FALSE(about.exists);
  EXPECT_FALSE(about.Photo.visible);
}
INSTANTIATE_TEST_SUITE_P(Targets, AboutCloses,
                         ::testing::Values(CloseCase{"Background", [](AboutBoxModel& a) { a.Click(); }},
                                           CloseCase{"CloseButton", [](AboutBoxModel& a) { a.Unload(); }},
                                           CloseCase{"Etiquette3_0", [](AboutBoxModel& a) { a.Etiquette3_Click(0); }},
                                           CloseCase{"Etiquette3_1", [](AboutBoxModel& a) { a.Etiquette3_Click(1); }},
                                           CloseCase{"Etiquette4_0", [](AboutBoxModel& a) { a.Etiquette4_Click(0); }},
                                           CloseCase{"Etiquette4_3", [](AboutBoxModel& a) { a.Etiquette4_Click(3); }},
                                           CloseCase{"Etiquette5", [](AboutBoxModel& a) { a.Etiquette5_Click(); }},
                                           CloseCase{"Etiquette7", [](AboutBoxModel& a) { a.Etiquette7_Click(); }},
                                           CloseCase{"Image1_0", [](AboutBoxModel& a) { a.Image1_Click(0); }},
                                           CloseCase{"Image1_1", [](AboutBoxModel& a) { a.Image1_Click(1); }}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(AboutBox, PhotoShowsOnlyWhileAnyButtonIsHeldOnTheAuthorsName) {
  AboutBoxModel about = OpenedOn(1280, 1024);
  EXPECT_FALSE(about.Photo.visible);
  for (int32_t button : {1, 2, 4}) {
    about.Etiquette6_MouseDown(0, button, 0, 10, 5);
    EXPECT_TRUE(about.Photo.visible) << button;
    about.Etiquette6_MouseUp(0, button, 0, 10, 5);
    EXPECT_FALSE(about.Photo.visible) << button;
  }
  EXPECT_TRUE(about.exists);
}

TEST(AboutBox, SecondOpeningRaisesTheSameBoxAndReopeningStartsFresh) {
  AboutBoxModel about = OpenedOn(1280, 1024);
  const uint64_t first = about.instance;
  about.Etiquette6_MouseDown(0, 1, 0, 0, 0);
  about.Open();  // second banner click while open
  EXPECT_EQ(about.instance, first);
  EXPECT_EQ(about.raiseCount, 1);
  EXPECT_TRUE(about.Photo.visible);  // the same box, untouched

  about.Etiquette5_Click();
  about.screenWidthTwips = 1920.0 * kTwipsPerPixel;
  about.screenHeightTwips = 1080.0 * kTwipsPerPixel;
  about.Open();
  EXPECT_EQ(about.instance, first + 1);
  EXPECT_FALSE(about.Photo.visible);
  EXPECT_DOUBLE_EQ(about.leftTwips, (28800 - 8025) / 2.0);
  EXPECT_DOUBLE_EQ(about.topTwips, (16200 - 4320) / 2.0);
}

TEST(AboutBox, PressOnAClosedBoxShowsNothing) {
  AboutBoxModel about = OpenedOn(1280, 1024);
  about.Click();
  about.Etiquette6_MouseDown(0, 1, 0, 0, 0);
  EXPECT_FALSE(about.Photo.visible);
}

TEST(AboutBox, LayoutInPixelsWithPhotoFramedAndAboveTheOthers) {
  AboutBoxModel about;
  EXPECT_EQ(about.APropos.caption, "About ...");
  EXPECT_EQ(about.APropos.width, 535);
  EXPECT_EQ(about.APropos.height, 288);
  EXPECT_EQ(about.APropos.backColour, Rgb(255, 255, 255));
  const Control& photo = about.Photo;
  EXPECT_EQ(photo.width - 2 * photo.borderWidth, 348);
  EXPECT_EQ(photo.height - 2 * photo.borderWidth, 260);
  EXPECT_EQ(about.Controls().front(), &about.Photo);
  EXPECT_EQ(about.Controls().size(), 12u);
  EXPECT_EQ(about.Etiquette5.caption, "Ostrelo");
  EXPECT_EQ(about.Etiquette7.caption, "Septembre 2010");
  EXPECT_EQ(about.Etiquette7.foreColour, Rgb(255, 0, 0));
  EXPECT_EQ(about.Etiquette5.foreColour, Rgb(192, 0, 192));
  EXPECT_EQ(about.Image1[1].width, 138);
  EXPECT_EQ(about.Image1[1].height, 34);
  EXPECT_EQ(about.Find("Etiquette6(0)"), &about.Etiquette6[0]);
  EXPECT_EQ(about.Etiquette4[1].caption.rfind("Email : ", 0), 0u);
}

TEST(AboutBox, BannerClickOpensItThroughTheMainWindow) {
  testing::Rig rig;
  rig.form.about.screenWidthTwips = 1280.0 * kTwipsPerPixel;
  rig.form.about.screenHeightTwips = 1024.0 * kTwipsPerPixel;
  ASSERT_TRUE(rig.form.Load());
  rig.form.Dispatch([&] { rig.form.InfoContainer_Click(); });
  rig.form.Dispatch([&] { rig.form.InfoContainer_Click(); });
  EXPECT_TRUE(rig.form.about.exists);
  EXPECT_EQ(rig.form.about.instance, 1u);
  EXPECT_EQ(rig.form.about.raiseCount, 1);
  EXPECT_DOUBLE_EQ(rig.form.about.leftTwips, 5587.5);
}

}  // namespace
}  // namespace ostrelo
