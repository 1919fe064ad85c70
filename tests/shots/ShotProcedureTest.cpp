#include "shots/ShotProcedure.h"

#include <gtest/gtest.h>

#include "shell/Numbers.h"
#include "shell/ProgramError.h"
#include "shots/ShotsTestSupport.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

using testing::FolderContent;
using testing::ReadFile;
using testing::Rig;
using testing::TempFolder;

struct NameCase {
  std::string chosen;
  int32_t shot;
  std::string picture, record;
};
class ShotNamesTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ShotNamesTest, PictureLosesFourCharactersAndRecordFive) {
  const NameCase& c = GetParam();
  EXPECT_EQ(PictureNameFor(c.chosen, c.shot), c.picture);
  EXPECT_EQ(RecordNameFor(c.chosen), c.record);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShotNamesTest,
    ::testing::Values(NameCase{"D:\\data\\im110325-.bmp", 1, "D:\\data\\im110325-0001.bmp", "D:\\data\\im110325.xls"},
                      NameCase{"D:\\data\\im110325-.bmp", 2, "D:\\data\\im110325-0002.bmp", "D:\\data\\im110325.xls"},
                      NameCase{"D:\\data\\test.bmp", 1, "D:\\data\\test0001.bmp", "D:\\data\\tes.xls"},
                      NameCase{"/data/im110325-.bmp", 10000, "/data/im110325-10000.bmp", "/data/im110325.xls"},
                      NameCase{"/data/im110325-.bmp", 2147483647, "/data/im110325-2147483647.bmp",
                               "/data/im110325.xls"},
                      NameCase{"im110325-.bmp", 1, "im110325-0001.bmp", "im110325.xls"},
                      // Names too short to lose their characters keep their folder part.
                      NameCase{"/data/abc.x", 1, "/data/a0001.bmp", "/data/.xls"},
                      NameCase{"/data/ab", 3, "/data/0003.bmp", "/data/.xls"}, NameCase{"abc", 1, "0001.bmp", ".xls"},
                      NameCase{"", 1, "0001.bmp", ".xls"},
                      // Whole characters are removed, not bytes of one.
                      NameCase{"/data/\xC3\xA9t\xC3\xA9.bmp", 1,
                               "/data/\xC3\xA9t\xC3\xA9"
                               "0001.bmp",
                               "/data/\xC3\xA9t.xls"},
                      NameCase{"/d/x\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", 1, "/d/x0001.bmp", "/d/.xls"}));

TEST(ShotNames, ARealFolderKeepsItsPath) {
  TempFolder folder;
  const std::string chosen = folder / "im110325-.bmp";
  EXPECT_EQ(PictureNameFor(chosen, 1), folder / "im110325-0001.bmp");
  EXPECT_EQ(RecordNameFor(chosen), folder / "im110325.xls");
}

TEST(ShotNames, ProposedNameCarriesTheDate) {
  EXPECT_EQ(ProposedShotFileName(LocalTime{2011, 3, 25, 12, 34, 56, 45296.53}), "im110325-.bmp");
  EXPECT_EQ(ProposedShotFileName(LocalTime{2009, 1, 5, 0, 0, 0, 0.0}), "im090105-.bmp");
  EXPECT_EQ(ProposedShotFileName(LocalTime{2100, 12, 31, 23, 59, 59, 86399.0}), "im001231-.bmp");
}

struct StampCase {
  LocalTime time;
  char separator;
  const char* stamp;
};
class ShotStampTest : public ::testing::TestWithParam<StampCase> {};

TEST_P(ShotStampTest, YearMonthDayAndSecondsSinceMidnight) {
  EXPECT_EQ(ShotStamp(GetParam().time, GetParam().separator), GetParam().stamp);
}

INSTANTIATE_TEST_SUITE_P(Stamps, ShotStampTest,
                         ::testing::Values(StampCase{{2011, 3, 25, 12, 34, 56, 45296.53}, '.', "2011032545296.53"},
                                           StampCase{{2011, 3, 25, 12, 34, 56, 45296.53}, ',', "2011032545296,53"},
                                           StampCase{{2011, 1, 5, 0, 0, 0, 0.0}, '.', "2011010500000.00"},
                                           StampCase{{2011, 1, 5, 0, 0, 7, 7.257}, '.', "2011010500007.26"},
                                           StampCase{{2011, 12, 31, 23, 59, 59, 86399.99}, '.', "2011123186399.99"},
                                           // Held in single precision: 45296.014 becomes 45296.015625.
                                           StampCase{{2011, 3, 25, 12, 34, 56, 45296.014}, '.', "2011032545296.02"}));

// The main window on simulated devices with a small picture, started up.
struct LoadedRig : Rig {
  LoadedRig() : Rig(64, 48) {
    EXPECT_TRUE(form.Load());
    form.st.DaqAcquisitionOn = false;
  }
};

TEST(ChooseShotFile, SetsTheDialogAndTakesTheChosenName) {
  LoadedRig rig;
  TempFolder folder;
  rig.dialogs.saveAnswers.push_back(folder / "im110325-.bmp");
  ChooseShotFile(rig.form);
  ASSERT_EQ(rig.dialogs.saveRequests.size(), 1u);
  const SaveDialogRequest& r = rig.dialogs.saveRequests[0];
  EXPECT_TRUE(r.cancelError);
  EXPECT_EQ(r.flags, 0x8000Cu);
  EXPECT_EQ(r.fileName, "im110325-.bmp");
  EXPECT_EQ(r.defaultExt, "bmp");
  EXPECT_EQ(r.initDir, ShotDialogFolder());
  EXPECT_FALSE(r.initDir.empty());
  EXPECT_EQ(r.title, "Save picture");
  EXPECT_EQ(r.filter, "bmp file|*.bmp");
  EXPECT_EQ(rig.form.st.PictureFileName, folder / "im110325-.bmp");
  EXPECT_EQ(rig.form.st.RecordFileName, folder / "im110325.xls");
  EXPECT_EQ(rig.form.ui.Label3.caption, folder / "im110325.xls");
  EXPECT_TRUE(rig.dialogs.questions.empty());
}

TEST(ChooseShotFile, CancelRaisesAndChangesNothing) {
  LoadedRig rig;
  try {
    ChooseShotFile(rig.form);
    ADD_FAILURE() << "no error";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), kShotFileCancelled);
  }
  EXPECT_EQ(rig.form.st.PictureFileName, "");
  EXPECT_EQ(rig.form.st.RecordFileName, "");
  EXPECT_EQ(rig.form.ui.Label3.caption, "");
}

TEST(ChooseShotFile, CancelForTheOneShotTakesTheProposedNameThenRaises) {
  LoadedRig rig;
  EXPECT_THROW(ChooseShotFile(rig.form, true), ProgramError);
  EXPECT_EQ(rig.form.st.PictureFileName, "im110325-.bmp");
  EXPECT_EQ(rig.form.st.RecordFileName, "im110325.xls");
  EXPECT_EQ(rig.form.ui.Label3.caption, "im110325.xls");
}

// A dialog that confirms an empty name (found by fuzzing the dialog's answer): no file
// can be named by it, so it counts as a cancel, for both callers.
TEST(ChooseShotFile, AnEmptyNameIsACancel) {
  for (const bool goOn : {false, true}) {
    SCOPED_TRACE(goOn ? "one shot" : "series");
    LoadedRig rig;
    rig.dialogs.saveAnswers.push_back("");
    try {
      ChooseShotFile(rig.form, goOn);
      ADD_FAILURE() << "no error";
    } catch (const ProgramError& e) {
      EXPECT_EQ(e.number(), kShotFileCancelled);
    }
    EXPECT_EQ(rig.form.st.PictureFileName, goOn ? "im110325-.bmp" : "");
    EXPECT_EQ(rig.form.st.RecordFileName, goOn ? "im110325.xls" : "");
  }
}

struct ReplaceCase {
  bool recordExists, pictureExists;
  int32_t shotCounter;
  size_t namesInQuestion;  // 0: no question
};
class ReplaceQuestionTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceQuestionTest, AsksAboutTheFilesTheNextShotWrites) {
  const ReplaceCase& c = GetParam();
  LoadedRig rig;
  TempFolder folder;
  rig.form.ShotCounter = c.shotCounter;
  const std::string next = "im110325-" + FormatNumber(c.shotCounter + 1, "0000") + ".bmp";
  if (c.recordExists) testing::WriteFile(folder / "im110325.xls", "Image \tTime\r\n");
  if (c.pictureExists) testing::WriteFile(folder / next, "BM");
  // The proposed stem itself never counts: it is never written.
  testing::WriteFile(folder / "im110325-.bmp", "stem");
  rig.dialogs.saveAnswers.push_back(folder / "im110325-.bmp");
  rig.dialogs.yesNoAnswers.push_back(true);
  ChooseShotFile(rig.form);
  if (c.namesInQuestion == 0) {
    EXPECT_TRUE(rig.dialogs.questions.empty());
  } else {
    ASSERT_EQ(rig.dialogs.questions.size(), 1u);
    const std::string& q = rig.dialogs.questions[0];
    EXPECT_EQ(q.find(folder / "im110325.xls") != std::string::npos, c.recordExists && c.shotCounter == 0) << q;
    EXPECT_EQ(q.find(folder / next) != std::string::npos, c.pictureExists) << q;
    EXPECT_EQ(q.find("im110325-.bmp"), std::string::npos) << q;
    EXPECT_EQ(rig.dialogs.questionsOnEnter, std::vector<Answer>{Answer::No}) << "Enter keeps the earlier files";
  }
  EXPECT_EQ(rig.form.st.PictureFileName, folder / "im110325-.bmp");
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplaceQuestionTest,
                         ::testing::Values(ReplaceCase{false, false, 0, 0}, ReplaceCase{true, false, 0, 1},
                                           ReplaceCase{false, true, 0, 1}, ReplaceCase{true, true, 0, 2},
                                           // Later in the run the record is appended to, not emptied.
                                           ReplaceCase{true, false, 3, 0}, ReplaceCase{true, true, 3, 1}));

TEST(ChooseShotFile, AnsweringNoShowsTheDialogAgain) {
  LoadedRig rig;
  TempFolder folder;
  testing::WriteFile(folder / "im110325.xls", "Image \tTime\r\nearlier run\t1\r\n");
  rig.dialogs.saveAnswers = {folder / "im110325-.bmp", folder / "second-.bmp"};
  rig.dialogs.yesNoAnswers = {false};
  ChooseShotFile(rig.form);
  ASSERT_EQ(rig.dialogs.saveRequests.size(), 2u);
  EXPECT_EQ(rig.dialogs.saveRequests[1].fileName, folder / "im110325-.bmp");
  EXPECT_EQ(rig.dialogs.saveRequests[1].title, "Save picture");
  EXPECT_EQ(rig.dialogs.questions.size(), 1u);
  EXPECT_EQ(rig.form.st.PictureFileName, folder / "second-.bmp");
  EXPECT_EQ(rig.form.st.RecordFileName, folder / "second.xls");
  EXPECT_EQ(ReadFile(folder / "im110325.xls"), "Image \tTime\r\nearlier run\t1\r\n");
}

TEST(ChooseShotFile, CancelAfterNoRaisesAndKeepsNothing) {
  LoadedRig rig;
  TempFolder folder;
  testing::WriteFile(folder / "im110325.xls", "x");
  rig.dialogs.saveAnswers = {folder / "im110325-.bmp", std::nullopt};
  rig.dialogs.yesNoAnswers = {false};
  EXPECT_THROW(ChooseShotFile(rig.form), ProgramError);
  EXPECT_EQ(rig.form.st.PictureFileName, "");
}

// A name no shot could write is refused before it is taken: the operator is told why
// and asked again, with the refused name proposed.
struct RefusedNameCase {
  const char* name;
  std::string (*prepare)(const TempFolder& folder);  // returns the chosen name
  const char* told;                                  // what the message says
  bool dropRoot = false;
};
void PrintTo(const RefusedNameCase& c, std::ostream* os) { *os << c.name; }
class RefusedNameTest : public ::testing::TestWithParam<RefusedNameCase> {};

TEST_P(RefusedNameTest, IsToldAndAskedAgain) {
  const RefusedNameCase& c = GetParam();
  if (!testing::kChildProcesses && c.dropRoot) GTEST_SKIP() << "another user: a child process of its own";
  // Where there is no child process, the rest runs in this one: it changes nothing of the process.
  void (*run)(const std::function<void()>&, bool) = testing::RunInChild;
  if (!testing::kChildProcesses) run = [](const std::function<void()>& body, bool) { body(); };
  run(
      [&] {
        LoadedRig rig;
        TempFolder folder;
        const std::string refused = c.prepare(folder);
        rig.dialogs.saveAnswers = {refused, folder / "good-.bmp"};
        ChooseShotFile(rig.form);
        ASSERT_EQ(rig.dialogs.messages.size(), 1u);
        EXPECT_NE(rig.dialogs.messages[0].text.find(c.told), std::string::npos) << rig.dialogs.messages[0].text;
        ASSERT_EQ(rig.dialogs.saveRequests.size(), 2u);
        EXPECT_EQ(rig.dialogs.saveRequests[1].fileName, refused);
        EXPECT_EQ(rig.form.st.PictureFileName, folder / "good-.bmp");
        EXPECT_EQ(ShotFileProblem(refused, 1), rig.dialogs.messages[0].text) << "the dialog refuses it too";
      },
      c.dropRoot);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RefusedNameTest,
    ::testing::Values(
        RefusedNameCase{"FolderMissing", [](const TempFolder& f) { return f / "typo/im-.bmp"; }, "does not exist"},
        RefusedNameCase{"PictureNameIsAFolder",
                        [](const TempFolder& f) {
                          std::filesystem::create_directory(f / "im-0001.bmp");
                          return f / "im-.bmp";
                        },
                        "is the name of a folder"},
        RefusedNameCase{"RecordNameIsAFolder",
                        [](const TempFolder& f) {
                          std::filesystem::create_directory(f / "im.xls");
                          return f / "im-.bmp";
                        },
                        "is the name of a folder"},
        RefusedNameCase{"FolderReadOnly",
                        [](const TempFolder& f) {
                          std::filesystem::create_directory(f / "ro");
                          std::filesystem::permissions(
                              f / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
                          return f / "ro/im-.bmp";
                        },
                        "cannot be written into", true},
        // 252 characters: the picture's 256 are past the file system's limit.
        RefusedNameCase{"PictureNameTooLong", [](const TempFolder& f) { return f / (std::string(248, 'x') + ".bmp"); },
                        "is too long"}),
    [](const auto& info) { return std::string(info.param.name); });

// A started window with its file chosen in a temporary folder.
struct ShotRig : LoadedRig {
  TempFolder folder;
  ShotRig() {
    dialogs.saveAnswers.push_back(folder / "im110325-.bmp");
    ChooseShotFile(form);
    clock.Set(LocalTime{2011, 3, 25, 12, 34, 56, 45296.53});
  }
};

TEST(TakeShot, CountsLabelsWritesThePictureAndTheRecordLine) {
  ShotRig rig;
  TakeShot(rig.form);
  const std::string picture = rig.folder / "im110325-0001.bmp";
  EXPECT_EQ(rig.form.ShotCounter, 1);
  EXPECT_EQ(rig.form.ui.RafLabel.caption, "0001");
  EXPECT_EQ(rig.form.ui.Label1.caption, " " + picture);
  const testing::BmpPicture p = testing::ReadBmp(ReadFile(picture));
  EXPECT_EQ(p.width, rig.form.st.AoiWidth);
  EXPECT_EQ(p.height, rig.form.st.AoiHeight);
  EXPECT_EQ(ReadFile(rig.folder / "im110325.xls"), "Image \tTime\r\n" + picture + "\t2011032545296.53\r\n");

  rig.clock.Advance(1500);
  TakeShot(rig.form);
  const std::string second = rig.folder / "im110325-0002.bmp";
  EXPECT_EQ(rig.form.ui.RafLabel.caption, "0002");
  EXPECT_EQ(rig.form.ui.Label1.caption, " " + second);
  EXPECT_EQ(ReadFile(rig.folder / "im110325.xls"),
            "Image \tTime\r\n" + picture + "\t2011032545296.53\r\n" + second + "\t2011032545298.03\r\n");
  EXPECT_EQ(FolderContent(rig.folder.path()),
            (std::vector<std::string>{"im110325-0001.bmp", "im110325-0002.bmp", "im110325.xls"}));
}

// 249 characters: the picture's name, 253, is still one the file system takes, and so
// is the temporary name it is written under.
TEST(TakeShot, ThePictureOfTheLongestNameIsWritten) {
  ShotRig rig;
  const std::string chosen = rig.folder / (std::string(245, 'y') + ".bmp");
  ASSERT_EQ(ShotFileProblem(chosen, 1), "");
  rig.form.st.PictureFileName = chosen;
  rig.form.st.RecordFileName = RecordNameFor(chosen);
  ASSERT_TRUE(TakeShot(rig.form));
  EXPECT_TRUE(std::filesystem::exists(rig.folder / (std::string(245, 'y') + "0001.bmp")));
}

TEST(TakeShot, WritesTheChannelValuesWhileAcquisitionIsOn) {
  ShotRig rig;
  rig.form.st.DaqAcquisitionOn = true;
  TakeShot(rig.form);
  const auto lines = testing::SplitLines(ReadFile(rig.folder / "im110325.xls"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Image \tTime\tCanal 0 (Volts)\tCanal 1 (Volts)\tCanal 2 (Volts)\tCanal 3 (Volts)");
  const auto fields = testing::SplitFields(lines[1]);
  ASSERT_EQ(fields.size(), 6u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(fields[2 + i], FormatNumber(rig.form.st.ChannelTable[i].Value, "-00.000;00.000")) << "channel " << i;
  }
}

TEST(TakeShot, AFailedPictureLeavesNoTraceAndTheNumberIsTakenAgain) {
  ShotRig rig;
  TakeShot(rig.form);
  const std::string record = ReadFile(rig.folder / "im110325.xls");
  const std::string chosen = rig.form.st.PictureFileName;
  rig.form.st.PictureFileName = rig.folder / "gone/im110325-.bmp";  // pictures into a missing folder
  try {
    TakeShot(rig.form);
    ADD_FAILURE() << "no error";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::kPathNotFound);
  }
  EXPECT_EQ(rig.form.ShotCounter, 1);
  EXPECT_EQ(rig.form.ui.RafLabel.caption, "0001");
  EXPECT_EQ(rig.form.ui.Label1.caption, " " + (rig.folder / "im110325-0001.bmp"));
  EXPECT_EQ(ReadFile(rig.folder / "im110325.xls"), record);
  rig.form.st.PictureFileName = chosen;
  TakeShot(rig.form);
  EXPECT_EQ(rig.form.ui.RafLabel.caption, "0002");
  EXPECT_TRUE(std::filesystem::exists(rig.folder / "im110325-0002.bmp"));
}

TEST(TakeShot, AFailedRecordLineRemovesThePictureOfTheShot) {
  ShotRig rig;
  TakeShot(rig.form);
  const std::string record = ReadFile(rig.folder / "im110325.xls");
  rig.form.st.RecordFileName = rig.folder / "gone/im110325.xls";
  EXPECT_THROW(TakeShot(rig.form), ProgramError);
  EXPECT_EQ(rig.form.ShotCounter, 1);
  EXPECT_EQ(FolderContent(rig.folder.path()), (std::vector<std::string>{"im110325-0001.bmp", "im110325.xls"}));
  EXPECT_EQ(ReadFile(rig.folder / "im110325.xls"), record);
}

TEST(TakeShot, AFailedFirstShotStillGivesTheRecordItsHeaderLater) {
  ShotRig rig;
  testing::WriteFile(rig.folder / "im110325.xls", "an earlier run's line\r\n");
  const std::string chosen = rig.form.st.PictureFileName;
  rig.form.st.PictureFileName = rig.folder / "gone/im110325-.bmp";
  EXPECT_THROW(TakeShot(rig.form), ProgramError);
  rig.form.st.PictureFileName = chosen;
  TakeShot(rig.form);
  EXPECT_EQ(ReadFile(rig.folder / "im110325.xls"),
            "Image \tTime\r\n" + (rig.folder / "im110325-0001.bmp") + "\t2011032545296.53\r\n");
}

}  // namespace
}  // namespace ostrelo
