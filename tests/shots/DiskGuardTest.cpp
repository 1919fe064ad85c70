// The disk guard in simulated free space: what a start is refused with, what the banner
// says while a series runs, and where the series stops.

#include <gtest/gtest.h>

#include <filesystem>

#include "shots/DiskGuard.h"
#include "shots/SeriesTestSupport.h"

namespace ostrelo::testing {
namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kBlock = 4096;

// A disk of a given size holding the test's folder: what is free is its size less the
// blocks of the files written there.
struct FakeDisk final : FreeSpace {
  explicit FakeDisk(const fs::path& folder) : folder(folder) {}
  std::optional<DiskSpace> Read(const std::string&) override {
    ++reads;
    uint64_t used = 0;
    for (const auto& e : fs::directory_iterator(folder)) used += (e.file_size() + kBlock - 1) / kBlock * kBlock;
    return DiskSpace{size - std::min(size, used), kBlock, "/mnt/lab"};
  }
  fs::path folder;
  uint64_t size = 0;
  int reads = 0;
};

struct DiskBench : SeriesRig {
  DiskBench() : disk(folder.path()) { form().dev.freeSpace = &disk; }
  // A shot of the 64 x 48 picture: its file in whole blocks and its record line.
  uint64_t PerShot() const { return 2 * kBlock + Picture(1).size() + 19; }
  FakeDisk disk;
};

struct GuardCase {
  const char* wait;
  bool oneShot;
  uint64_t reserveMiB;
  double freeShots;     // free space beyond the reserve, in shots
  int32_t shots;        // shots taken in the end
  const char* message;  // the message box, "" for none
  const char* notice;   // the banner just after the start
  bool urgent;
  int32_t frameMs = 0;                // a camera this slow sets the pace; 0: pictures at once
  const char* laterNotice = nullptr;  // the banner at the end, at the pace kept
};

class DiskGuardTest : public ::testing::TestWithParam<GuardCase> {};

TEST_P(DiskGuardTest, StartsStopsAndWarnsByTheRoomLeft) {
  const GuardCase& c = GetParam();
  DiskBench s;
  s.disk.size = c.reserveMiB * kMiB + static_cast<uint64_t>(c.freeShots * static_cast<double>(s.PerShot()));
  s.EnterWait(c.wait);
  s.AnswerDialog();
  s.rig.camera.script.instant = c.frameMs == 0;
  s.rig.camera.script.frameIntervalMs = c.frameMs;
  c.oneShot ? s.ClickOneShot() : s.ClickSeries();
  EXPECT_EQ(s.form().ui.DiskNotice, c.notice);
  EXPECT_EQ(s.form().ui.DiskNoticeUrgent, c.urgent);
  s.loop->RunFor(20000);
  EXPECT_EQ(s.form().ShotCounter, c.shots);
  EXPECT_TRUE(c.laterNotice == nullptr || s.form().ui.DiskNotice == c.laterNotice) << s.form().ui.DiskNotice;
  const auto& messages = s.rig.dialogs.messages;
  EXPECT_EQ(messages.empty() ? "" : messages.back().text, c.message);
  EXPECT_EQ(FolderContent(s.folder.path()).size(), c.shots == 0 ? 0u : c.shots + 1u) << "whole shots only";
  EXPECT_EQ(s.form().st.PictureFileName.empty(), c.shots == 0 && !c.oneShot) << "a refused series as a cancel";
  if (std::string(c.message) == kDiskNearlyFullText) {
    s.ExpectIdle(true);
    EXPECT_EQ(s.form().ui.DiskNotice, kDiskNearlyFullText);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Room, DiskGuardTest,
    ::testing::Values(GuardCase{"1", false, 64, 3 + 8.5, 0,
                                "Only room for 9 shots on /mnt/lab: 64 MiB free, 64 MiB kept free", "", false},
                      GuardCase{"1", false, 64, 3 + 11.5, 12, kDiskNearlyFullText, "Disk full in 0 min", true},
                      GuardCase{"1", true, 0, 0.5, 0, "Only room for 0 shots on /mnt/lab", "", false},
                      GuardCase{"1", true, 0, 1.5, 1, "", "", false},
                      GuardCase{"60", false, 64, 3 + 399.5, 1, "", "Disk full in 6 h 40 min", false},
                      GuardCase{"60", false, 64, 3 + 1440.5, 1, "", "", false},
                      GuardCase{"0.5", false, 64, 3 + 7199.5, 41, "", "Disk full in 1 h 0 min", false},
                      GuardCase{"0.5", false, 64, 3 + 7198.5, 41, "", "Disk full in 59 min", true},
                      GuardCase{"0.5", false, 64, 3 + 7199.5, 15, "", "Disk full in 1 h 0 min", false, 1000,
                                "Disk full in 3 h 8 min"}));

TEST(DiskGuard, ReadsTheDiskTwiceAMinuteAndStopsWhenAnotherProgramFillsIt) {
  DiskBench s;
  s.disk.size = 65 * kMiB + 1000 * s.PerShot();
  s.EnterWait("0.1");
  s.AnswerDialog();
  s.ClickSeries();
  s.loop->RunFor(29000);
  EXPECT_EQ(s.disk.reads, 1) << "not at every shot";
  s.disk.size = 64 * kMiB;
  s.loop->RunFor(2000);
  EXPECT_EQ(s.disk.reads, 2);
  s.ExpectIdle(true);
  EXPECT_EQ(s.rig.dialogs.messages.back().text, kDiskNearlyFullText);
}

}  // namespace
}  // namespace ostrelo::testing
