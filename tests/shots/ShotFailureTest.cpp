// Files that cannot be written during a one shot, at the start of a series and in a
// tick of a running series: the failure is reported as the rules of each say, and
// the record keeps every line written before, byte for byte.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "shell/ProgramError.h"
#include "shots/SeriesTestSupport.h"

namespace ostrelo {
namespace {

using testing::FolderContent;
using testing::ReadFile;
using testing::SeriesRig;

enum class Fault { PictureDiskFull, RecordDiskFull, FolderReadOnly, RecordReadOnly, FolderRemoved, DaqReadError };
// A read that timed out, as the driver reports it.
constexpr int32_t kDaqReadStatus = SimulatedDaq::kSamplesNotAvailable;

enum class Where { OneShot, SeriesStart, TimerTick };

struct FailureCase {
  Fault fault;
  Where where;
  int32_t number;  // the error the operator is shown
  const char* name;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name << " error " << c.number; }

void RemoveFileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

class Breakage {
 public:
  Breakage(SeriesRig& s, Fault fault) : s_(s), fault_(fault) {}

  void Apply() {
    const std::string record = s_.Record();
    switch (fault_) {
      case Fault::PictureDiskFull:
        // Room for neither a picture nor a longer record.
        testing::LimitFileSize(1000);
        break;
      case Fault::RecordDiskFull: {
        // The picture fits, the record line only in part.
        s_.form().st.AoiLeft = s_.form().st.AoiTop = 0;
        s_.form().st.AoiWidth = s_.form().st.AoiHeight = 1;
        const auto size = static_cast<rlim_t>(ReadFile(record).size());
        ASSERT_GT(size, 1082u + 10u) << "the record must outgrow a 1 x 1 picture";
        testing::LimitFileSize(size + 5);
        break;
      }
      case Fault::FolderReadOnly: ASSERT_EQ(::chmod(s_.folder.path().c_str(), 0555), 0); break;
      case Fault::RecordReadOnly: ASSERT_EQ(::chmod(record.c_str(), 0444), 0); break;
      case Fault::FolderRemoved: std::filesystem::rename(s_.folder.path(), Moved()); break;
      case Fault::DaqReadError:
        s_.form().st.DaqAcquisitionOn = true;
        s_.rig.daq.script.readStatus = kDaqReadStatus;
        break;
    }
  }

  void Remove() {
    switch (fault_) {
      case Fault::PictureDiskFull:
      case Fault::RecordDiskFull: RemoveFileSizeLimit(); break;
      case Fault::FolderReadOnly: ::chmod(s_.folder.path().c_str(), 0755); break;
      case Fault::RecordReadOnly: ::chmod(s_.Record().c_str(), 0644); break;
      case Fault::FolderRemoved: std::filesystem::rename(Moved(), s_.folder.path()); break;
      case Fault::DaqReadError:
        s_.rig.daq.script.readStatus = 0;
        s_.form().st.DaqAcquisitionOn = false;
        break;
    }
  }

  // Where the record is while the fault holds.
  std::string RecordNow() const {
    return fault_ == Fault::FolderRemoved ? (Moved() / "im110325.xls").string() : s_.Record();
  }
  std::filesystem::path FolderNow() const { return fault_ == Fault::FolderRemoved ? Moved() : s_.folder.path(); }

 private:
  std::filesystem::path Moved() const { return s_.folder.path().string() + "-moved"; }
  SeriesRig& s_;
  Fault fault_;
};

// Every line whole: CRLF at the end, the header first, then picture and stamp.
void ExpectWholeLines(const std::string& record, size_t lines) {
  ASSERT_GE(record.size(), 2u);
  EXPECT_EQ(record.substr(record.size() - 2), "\r\n");
  const auto split = testing::SplitLines(record);
  ASSERT_EQ(split.size(), lines);
  EXPECT_EQ(split[0], "Image \tTime");
  for (size_t i = 1; i < split.size(); ++i) EXPECT_EQ(testing::SplitFields(split[i]).size(), 2u) << "line " << i;
}

void RunScenario(const FailureCase& c) {
  SeriesRig s;
  s.EnterWait("1");
  s.AnswerDialog();
  s.ClickSeries();
  s.RunUntilShot(20, 60000);
  s.ClickSeries();
  if (c.where == Where::TimerTick) {
    s.ClickSeries();
    ASSERT_EQ(s.form().ShotCounter, 21);
  }
  const int32_t taken = s.form().ShotCounter;
  const std::string before = ReadFile(s.Record());
  ExpectWholeLines(before, static_cast<size_t>(taken) + 1);
  std::vector<std::string> pictures;
  for (int32_t n = 1; n <= taken; ++n) pictures.push_back(ReadFile(s.Picture(n)));

  Breakage fault(s, c.fault);
  fault.Apply();
  switch (c.where) {
    case Where::OneShot:
      s.ClickOneShot();
      s.loop->RunFor(100);
      break;
    case Where::SeriesStart: s.ClickSeries(); break;
    case Where::TimerTick: s.loop->RunFor(1000); break;
  }

  // No line, no picture, no temporary file for the failed shot; earlier lines intact.
  EXPECT_EQ(ReadFile(fault.RecordNow()), before);
  const auto files = FolderContent(fault.FolderNow());
  EXPECT_EQ(files.size(), static_cast<size_t>(taken) + 1) << "pictures 1 to " << taken << " and the record";
  for (const std::string& f : files) EXPECT_EQ(f.find(".part"), std::string::npos) << f;
  // The pictures taken before, byte for byte.
  for (int32_t n = 1; n <= taken; ++n) {
    const auto name = fault.FolderNow() / std::filesystem::path(s.Picture(n)).filename();
    EXPECT_EQ(ReadFile(name.string()), pictures[static_cast<size_t>(n) - 1]) << name;
  }
  EXPECT_EQ(s.form().ShotCounter, taken);
  EXPECT_FALSE(s.form().TickBusy);

  if (c.where == Where::SeriesStart) {
    // Undone without a message; the next start, with the fault gone, goes on numbering.
    EXPECT_TRUE(s.rig.dialogs.messages.empty());
    EXPECT_EQ(s.form().phase(), Phase::Running);
    s.ExpectIdle(true);
    fault.Remove();
    s.ClickSeries();
    EXPECT_EQ(s.form().ShotCounter, taken + 1);
    const std::string after = ReadFile(s.Record());
    EXPECT_EQ(after.substr(0, before.size()), before);
    ExpectWholeLines(after, static_cast<size_t>(taken) + 2);
    EXPECT_TRUE(std::filesystem::exists(s.Picture(taken + 1)));
  } else {
    // A tick fired by the timer: the message with number and description, then the end.
    ASSERT_EQ(s.rig.dialogs.messages.size(), 1u);
    const std::string& text = s.rig.dialogs.messages[0].text;
    EXPECT_EQ(text.rfind("Run-time error '" + std::to_string(c.number) + "':\n\n", 0), 0u) << text;
    if (c.fault != Fault::DaqReadError) {
      EXPECT_NE(text.find("im110325"), std::string::npos) << "names the file: " << text;
    }
    EXPECT_EQ(s.form().phase(), Phase::Ended);
    EXPECT_FALSE(s.form().ui.Timer1.enabled());
    EXPECT_FALSE(s.rig.dialogs.busy);
    fault.Remove();
  }
}

class ShotFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ShotFailureTest, IsReportedAndLeavesTheRecordIntact) {
  const FailureCase c = GetParam();
  const bool permissions = c.fault == Fault::FolderReadOnly || c.fault == Fault::RecordReadOnly;
  testing::RunInChild([&] { RunScenario(c); }, /*dropRoot=*/permissions);
}

std::vector<FailureCase> AllCases() {
  struct FaultInfo {
    Fault fault;
    int32_t number;
    const char* name;
  };
  const FaultInfo faults[] = {{Fault::PictureDiskFull, ErrorNumber::kDiskFull, "PictureDiskFull"},
                              {Fault::RecordDiskFull, ErrorNumber::kDiskFull, "RecordDiskFull"},
                              {Fault::FolderReadOnly, ErrorNumber::kPermissionDenied, "FolderReadOnly"},
                              {Fault::RecordReadOnly, ErrorNumber::kPermissionDenied, "RecordReadOnly"},
                              {Fault::FolderRemoved, ErrorNumber::kPathNotFound, "FolderRemoved"},
                              {Fault::DaqReadError, kDaqReadStatus, "DaqReadError"}};
  std::vector<FailureCase> cases;
  for (const FaultInfo& f : faults) {
    for (Where w : {Where::OneShot, Where::SeriesStart, Where::TimerTick})
      cases.push_back({f.fault, w, f.number, f.name});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<FailureCase>& info) {
  static const char* const kWhere[] = {"OneShot", "SeriesStart", "TimerTick"};
  return std::string(info.param.name) + "_" + kWhere[static_cast<int>(info.param.where)];
}

INSTANTIATE_TEST_SUITE_P(Faults, ShotFailureTest, ::testing::ValuesIn(AllCases()), CaseName);

}  // namespace
}  // namespace ostrelo
