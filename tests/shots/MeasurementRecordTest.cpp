#include "shots/MeasurementRecord.h"

#include <gtest/gtest.h>

#include "shell/ProgramError.h"
#include "shots/ShotsTestSupport.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

using testing::ReadFile;
using testing::Rig;
using testing::TempFolder;

void NameChannels(AcquisitionState& st) {
  for (int i = 0; i < 4; ++i) {
    st.ChannelTable[i].Name = "Canal " + std::to_string(i);
    st.ChannelTable[i].Unit = "Volts";
  }
}

// Writes the line of shot number n as the shot procedure does.
void Shot(Rig& rig, int32_t n, const std::string& picture, const std::string& stamp) {
  rig.form.ShotCounter = n;
  WriteRecordLine(rig.form, picture, stamp);
}

TEST(MeasurementRecord, FirstShotWithAcquisitionHasSixFieldsInBothLines) {
  Rig rig;
  TempFolder folder;
  NameChannels(rig.form.st);
  rig.form.st.DaqAcquisitionOn = true;
  rig.form.st.RecordFileName = folder / "im110325.xls";
  const double values[4] = {-1.5, 1.5, -12.3456, 0.0};
  for (int i = 0; i < 4; ++i) rig.form.st.ChannelTable[i].Value = values[i];
  Shot(rig, 1, "/d/im110325-0001.bmp", "2011032545296.53");
  EXPECT_EQ(ReadFile(rig.form.st.RecordFileName),
            "Image \tTime\tCanal 0 (Volts)\tCanal 1 (Volts)\tCanal 2 (Volts)\tCanal 3 (Volts)\r\n"
            "/d/im110325-0001.bmp\t2011032545296.53\t01.500\t-01.500\t12.346\t-00.000\r\n");
}

TEST(MeasurementRecord, FirstShotWithoutAcquisitionHasTwoFields) {
  Rig rig;
  TempFolder folder;
  NameChannels(rig.form.st);
  rig.form.st.DaqAcquisitionOn = false;
  rig.form.st.ChannelTable[0].Value = 3.0;
  rig.form.st.RecordFileName = folder / "r.xls";
  Shot(rig, 1, "p0001.bmp", "2011032500001.00");
  EXPECT_EQ(ReadFile(rig.form.st.RecordFileName), "Image \tTime\r\np0001.bmp\t2011032500001.00\r\n");
}

TEST(MeasurementRecord, AcquisitionSwitchedAfterTheFirstShotChangesOnlyLaterLines) {
  for (const bool onAtFirst : {false, true}) {
    Rig rig;
    TempFolder folder;
    AcquisitionState& st = rig.form.st;
    NameChannels(st);
    st.RecordFileName = folder / "r.xls";
    st.DaqAcquisitionOn = onAtFirst;
    Shot(rig, 1, "a", "s1");
    st.DaqAcquisitionOn = !onAtFirst;
    Shot(rig, 2, "b", "s2");
    const auto lines = testing::SplitLines(ReadFile(st.RecordFileName));
    ASSERT_EQ(lines.size(), 3u);
    const size_t first = onAtFirst ? 6 : 2, later = onAtFirst ? 2 : 6;
    EXPECT_EQ(testing::SplitFields(lines[0]).size(), first) << "header, on at first: " << onAtFirst;
    EXPECT_EQ(testing::SplitFields(lines[1]).size(), first);
    EXPECT_EQ(testing::SplitFields(lines[2]).size(), later);
  }
}

struct VoltageCase {
  double meanVolts;  // the channel's Value holds minus the mean
  char separator;
  const char* text;
};
class VoltageTextTest : public ::testing::TestWithParam<VoltageCase> {};

TEST_P(VoltageTextTest, ShowsTheMeanWithItsOwnSign) {
  const VoltageCase& c = GetParam();
  AcquisitionState st;
  st.DaqAcquisitionOn = true;
  for (auto& ch : st.ChannelTable) ch.Value = -c.meanVolts;
  const std::string t = c.text;
  EXPECT_EQ(RecordShotLine(st, "p", "s", c.separator), "p\ts\t" + t + "\t" + t + "\t" + t + "\t" + t + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Values, VoltageTextTest,
                         ::testing::Values(VoltageCase{1.5, '.', "01.500"}, VoltageCase{-1.5, '.', "-01.500"},
                                           VoltageCase{12.3456, '.', "12.346"}, VoltageCase{123.4, '.', "123.400"},
                                           VoltageCase{0.0, '.', "-00.000"}, VoltageCase{-9.9996, '.', "-10.000"},
                                           VoltageCase{1.234, ',', "01,234"}, VoltageCase{-0.001, ',', "-00,001"}));

TEST(MeasurementRecord, LaterShotsAppendWithoutANewHeader) {
  Rig rig;
  TempFolder folder;
  rig.form.st.RecordFileName = folder / "r.xls";
  for (int32_t n = 1; n <= 5; ++n) Shot(rig, n, "p" + std::to_string(n), "s" + std::to_string(n));
  EXPECT_EQ(ReadFile(rig.form.st.RecordFileName), "Image \tTime\r\np1\ts1\r\np2\ts2\r\np3\ts3\r\np4\ts4\r\np5\ts5\r\n");
}

TEST(MeasurementRecord, AnExistingFileIsEmptiedAtTheRunsFirstShot) {
  Rig rig;
  TempFolder folder;
  rig.form.st.RecordFileName = folder / "r.xls";
  testing::WriteFile(rig.form.st.RecordFileName, "Image \tTime\r\nold1\tx\r\nold2\tx\r\nold3 with a long tail\tx\r\n");
  Shot(rig, 1, "new", "s");
  EXPECT_EQ(ReadFile(rig.form.st.RecordFileName), "Image \tTime\r\nnew\ts\r\n");
}

TEST(MeasurementRecord, LinesAreWrittenWithoutQuotingAsTheyAre) {
  Rig rig;
  TempFolder folder;
  rig.form.st.RecordFileName = folder / "r.xls";
  Shot(rig, 1, "/a folder/with \"quotes\";and,commas.bmp", "2011032545296.53");
  EXPECT_EQ(ReadFile(rig.form.st.RecordFileName),
            "Image \tTime\r\n/a folder/with \"quotes\";and,commas.bmp\t2011032545296.53\r\n");
}

TEST(MeasurementRecord, AFolderThatIsGoneIsReported) {
  Rig rig;
  TempFolder folder;
  rig.form.st.RecordFileName = folder / "gone/r.xls";
  try {
    Shot(rig, 1, "p", "s");
    ADD_FAILURE() << "no error";
  } catch (const ProgramError& e) {
    EXPECT_EQ(e.number(), ErrorNumber::kPathNotFound);
  }
}

// Lines that do not fit are taken back whole: the lines before stay readable and the
// file ends at a line end, whether the limit falls inside the new line or before it.
TEST(MeasurementRecord, ALineThatDoesNotFitLeavesTheEarlierLinesIntact) {
  if (!testing::kChildProcesses) GTEST_SKIP() << "a child process of its own";
  for (const int extraBytes : {0, 1, 7, 20}) {
    TempFolder folder;
    const std::string name = folder / "r.xls";
    std::string before;
    {
      Rig rig;
      rig.form.st.RecordFileName = name;
      for (int32_t n = 1; n <= 3; ++n) Shot(rig, n, "picture-" + std::to_string(n), "2011032545296.53");
      before = ReadFile(name);
    }
    testing::RunInChild([&] {
      Rig rig;
      rig.form.st.RecordFileName = name;
      testing::LimitFileSize(before.size() + extraBytes);
      try {
        Shot(rig, 4, "picture-4-with-a-line-longer-than-the-room-left", "2011032545296.53");
        ADD_FAILURE() << "no error with " << extraBytes << " bytes left";
      } catch (const ProgramError& e) {
        EXPECT_EQ(e.number(), ErrorNumber::kDiskFull);
      }
    });
    EXPECT_EQ(ReadFile(name), before) << extraBytes << " bytes left";
  }
}

TEST(MeasurementRecord, AHeaderThatDoesNotFitLeavesNoPartialLine) {
  if (!testing::kChildProcesses) GTEST_SKIP() << "a child process of its own";
  TempFolder folder;
  const std::string name = folder / "r.xls";
  testing::RunInChild([&] {
    Rig rig;
    rig.form.st.RecordFileName = name;
    testing::LimitFileSize(5);
    EXPECT_THROW(Shot(rig, 1, "p", "s"), ProgramError);
  });
  EXPECT_EQ(ReadFile(name), "");
}

}  // namespace
}  // namespace ostrelo
