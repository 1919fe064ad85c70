// File-system faults in a tick of a running series fired by the timer, acquisition on:
// the data folder removed or made read-only, the disk full on a picture or on a record
// line, a name the shot must write taken by a folder. Each is reported with the
// program's file error and ends the program; the record never holds a part of a line,
// never a line for a picture that is not there, and every earlier picture and line
// stays byte for byte.
//
// What the record holds when the picture of a shot cannot be written: nothing for that
// shot. The shot is whole or not at all: its picture is written first, its line only
// after the picture is complete, and when the line cannot be written either, the
// picture is removed again. The last line of the record is the last shot whose picture
// exists.
//
// The folder is made read-only two ways: by its permissions, with the scenario run as
// another user in a child process (root writes anywhere), and by a read-only bind mount.
// The disk is filled on a small tmpfs. Mounts are made in a child process with a mount
// namespace of its own, so they vanish with it; where mounting is not permitted those
// cases are skipped.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <functional>
#include <string>
#include <string_view>

#include "reliability/ReliabilitySupport.h"
#include "shell/ProgramError.h"
#include "shots/DiskGuard.h"
#include "shots/FileOutput.h"
#include "shots/statvfs/StatvfsFreeSpace.h"

namespace ostrelo {
namespace {

using testing::WorkRig;
namespace fs = std::filesystem;

// In a child process: a mount namespace of its own, whose mounts nobody else sees.
bool PrivateMounts() {
  return ::unshare(CLONE_NEWNS) == 0 && ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Whether this process may make a mount namespace and mount a tmpfs in it.
bool CanMount() {
  static const bool can = [] {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      char dir[] = "/tmp/ostrelo-mount-probe-XXXXXX";
      bool ok = ::mkdtemp(dir) != nullptr;
      ok = ok && PrivateMounts() && ::mount("tmpfs", dir, "tmpfs", 0, "size=64k") == 0;
      if (ok) ::umount(dir);
      ::rmdir(dir);
      ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }();
  return can;
}

// A mount over a folder, taken away again before the folder itself is removed.
class Mount {
 public:
  Mount(const fs::path& at, const char* type, unsigned long flags, const char* options, const char* source) : at_(at) {
    ok_ = ::mount(source, at.c_str(), type, flags, options) == 0;
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  ~Mount() {
    if (ok_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }

 private:
  fs::path at_;
  bool ok_ = false;
};

// Checks shared by every fault: one message with the file error's number naming the
// file, the program ended, the shot not counted, no temporary file left.
void ExpectFileErrorEnd(WorkRig& w, int32_t number, const std::string& file, int32_t taken) {
  ASSERT_EQ(w.rig.dialogs.messages.size(), 1u);
  const std::string& text = w.rig.dialogs.messages[0].text;
  EXPECT_EQ(text.rfind("Run-time error '" + std::to_string(number) + "':\n\nCannot write " + file + ": ", 0), 0u)
      << text;
  EXPECT_EQ(w.form().phase(), Phase::Ended);
  EXPECT_NE(w.form().exitCode(), 0);
  EXPECT_FALSE(w.form().ui.Timer1.enabled());
  EXPECT_FALSE(w.rig.dialogs.busy);
  EXPECT_EQ(w.form().ShotCounter, taken);
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(w.folderPath, ec)) {
    if (e.path().extension() == ".part") {
      EXPECT_TRUE(e.is_directory()) << "temporary file left: " << e.path();
    }
  }
}

// A series of ten shots at 0.5 s, the checks on.
int32_t StartTenShots(WorkRig& w) {
  w.AllChecksOn();
  w.StartSeries("0.5");
  EXPECT_TRUE(w.RunUntilShot(10, 60000));
  return w.form().ShotCounter;
}

struct FolderCase {
  const char* name;
  int32_t number;
  bool asOtherUser;  // the fault needs permissions that apply to the process
  bool needsMount;
  // Breaks the folder of a running series; returns the file the error must name.
  std::function<std::string(WorkRig&, int32_t taken, std::unique_ptr<Mount>&)> apply;
  // Gives back what apply took, so that the folder can be compared with before.
  std::function<void(WorkRig&, int32_t taken)> undo;
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

std::vector<FolderCase> FolderCases() {
  return {
      {"FolderReadOnly", ErrorNumber::kPermissionDenied, true, false,
       [](WorkRig& w, int32_t taken, std::unique_ptr<Mount>&) {
         EXPECT_EQ(::chmod(w.folderPath.c_str(), 0555), 0);
         return w.Picture(taken + 1);
       },
       [](WorkRig& w, int32_t) { ::chmod(w.folderPath.c_str(), 0755); }},
      {"FolderReadOnlyMount", ErrorNumber::kPermissionDenied, false, true,
       [](WorkRig& w, int32_t taken, std::unique_ptr<Mount>& m) {
         const char* at = w.folderPath.c_str();
         m = std::make_unique<Mount>(w.folderPath, nullptr, MS_BIND, nullptr, at);
         EXPECT_TRUE(m->ok());
         EXPECT_EQ(::mount(nullptr, at, nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr), 0);
         return w.Picture(taken + 1);
       },
       [](WorkRig&, int32_t) {}},
      {"PictureNameIsAFolder", ErrorNumber::kFileAccess, false, false,
       [](WorkRig& w, int32_t taken, std::unique_ptr<Mount>&) {
         fs::create_directory(w.Picture(taken + 1));
         return w.Picture(taken + 1);
       },
       [](WorkRig& w, int32_t taken) {
         EXPECT_TRUE(fs::is_directory(w.Picture(taken + 1)));
         EXPECT_TRUE(fs::is_empty(w.Picture(taken + 1)));
         fs::remove(w.Picture(taken + 1));
       }},
      {"NoTemporaryFileCanBeMade", ErrorNumber::kFileAccess, false, false,
       [](WorkRig& w, int32_t taken, std::unique_ptr<Mount>&) {
         // No descriptor left for a new file (the temporary names cannot be foreseen).
         const int lowestFree = ::dup(0);
         ::close(lowestFree);
         rlimit limit{};
         ::getrlimit(RLIMIT_NOFILE, &limit);
         limit.rlim_cur = static_cast<rlim_t>(lowestFree);
         EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
         return w.Picture(taken + 1);
       },
       [](WorkRig&, int32_t) {
         rlimit limit{};
         ::getrlimit(RLIMIT_NOFILE, &limit);
         limit.rlim_cur = limit.rlim_max;
         ::setrlimit(RLIMIT_NOFILE, &limit);
       }},
  };
}

class FileFaultInSeries : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FileFaultInSeries, EndsTheProgramAndKeepsEveryEarlierFile) {
  const FolderCase c = GetParam();
  if (c.needsMount && !CanMount()) GTEST_SKIP() << "mounting is not permitted here";
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' run-time needs a descriptor of its own to check the error's type.
  if (std::string_view(c.name) == "NoTemporaryFileCanBeMade") GTEST_SKIP() << "no descriptor left for the sanitizers";
#endif
  testing::RunInChild(
      [&] {
        if (c.needsMount) {
          ASSERT_TRUE(PrivateMounts());
        }
        WorkRig w;
        std::unique_ptr<Mount> mount;
        const int32_t taken = StartTenShots(w);
        const auto before = testing::Snapshot(w.folderPath);
        const std::string named = c.apply(w, taken, mount);
        w.loop->RunFor(5000);
        ExpectFileErrorEnd(w, c.number, named, taken);
        mount.reset();
        c.undo(w, taken);
        EXPECT_EQ(testing::Snapshot(w.folderPath), before);
      },
      c.asOtherUser);
}

INSTANTIATE_TEST_SUITE_P(Faults, FileFaultInSeries, ::testing::ValuesIn(FolderCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The data folder deleted with everything in it: reported, and nothing is made again
// in its place.
TEST(FileFault, FolderRemovedDuringTheSeries) {
  WorkRig w;
  const int32_t taken = StartTenShots(w);
  fs::remove_all(w.folderPath);
  w.loop->RunFor(5000);
  ExpectFileErrorEnd(w, ErrorNumber::kPathNotFound, w.Picture(taken + 1), taken);
  EXPECT_FALSE(fs::exists(w.folderPath));
}

// The record deleted and a folder made under its name: the picture of the shot is
// written, its line cannot be, and the picture goes again.
TEST(FileFault, RecordNameTakenByAFolder) {
  WorkRig w;
  const int32_t taken = StartTenShots(w);
  auto before = testing::Snapshot(w.folderPath);
  fs::remove(w.Record());
  fs::create_directory(w.Record());
  w.loop->RunFor(5000);
  ExpectFileErrorEnd(w, ErrorNumber::kFileAccess, w.Record(), taken);
  EXPECT_FALSE(fs::exists(w.Picture(taken + 1))) << "no picture without its line";
  EXPECT_TRUE(fs::is_empty(w.Record()));
  fs::remove(w.Record());
  before.erase(fs::path(w.Record()).filename().string());
  EXPECT_EQ(testing::Snapshot(w.folderPath), before);
}

// A tmpfs of 192 kB under the series' folder: the series runs until a picture no
// longer fits. Every shot before it is whole; the one that did not fit left nothing.
TEST(FileFault, DiskFillsUpWithPictures) {
  if (!CanMount()) GTEST_SKIP() << "mounting is not permitted here";
  testing::RunInChild([] {
    ASSERT_TRUE(PrivateMounts());
    WorkRig w;
    Mount disk(w.folderPath, "tmpfs", 0, "size=192k,mode=0755", "tmpfs");
    ASSERT_TRUE(disk.ok());
    w.AllChecksOn();
    w.StartSeries("0.5");
    ASSERT_TRUE(w.RunUntilShot(3, 60000));
    const auto early = testing::Snapshot(w.folderPath);
    ASSERT_TRUE(w.loop->RunUntil([&] { return w.form().phase() == Phase::Ended; }, 3600000));
    const int32_t taken = w.form().ShotCounter;
    std::printf("disk full after %d shots\n", taken);
    EXPECT_GT(taken, 10);
    ExpectFileErrorEnd(w, ErrorNumber::kDiskFull, w.Picture(taken + 1), taken);
    EXPECT_EQ(testing::CheckSeriesFiles(w, taken, true).linesChecked, taken);
    // The first pictures as they were; the record grew only by whole lines.
    const auto after = testing::Snapshot(w.folderPath);
    for (const auto& [name, bytes] : early) {
      const std::string& now = after.at(name);
      EXPECT_EQ(now.substr(0, bytes.size()), bytes) << name;
      if (name.find(".bmp") != std::string::npos) {
        EXPECT_EQ(now, bytes) << name;
      }
    }
  });
}

// The same disk watched by the guard, on a tmpfs 2 MiB larger than its reserve: the
// series stops by itself, whole, and the program goes on.
TEST(FileFault, GuardStopsTheSeriesBeforeTheDiskFills) {
  if (!CanMount()) GTEST_SKIP() << "mounting is not permitted here";
  testing::RunInChild([] {
    ASSERT_TRUE(PrivateMounts());
    WorkRig w;
    Mount disk(w.folderPath, "tmpfs", 0, "size=66m,mode=0755", "tmpfs");
    ASSERT_TRUE(disk.ok());
    StatvfsFreeSpace freeSpace;
    w.form().dev.freeSpace = &freeSpace;
    w.StartSeries("0.5");
    ASSERT_TRUE(w.loop->RunUntil([&] { return !w.form().MultiShot; }, 3600000));
    const int32_t taken = w.form().ShotCounter;
    EXPECT_GT(taken, 10);
    EXPECT_EQ(w.form().phase(), Phase::Running);
    ASSERT_EQ(w.rig.dialogs.messages.size(), 1u);
    EXPECT_EQ(w.rig.dialogs.messages[0].text, kDiskNearlyFullText);
    EXPECT_EQ(testing::CheckSeriesFiles(w, taken, true).linesChecked, taken);
    struct statvfs vfs {};
    ASSERT_EQ(::statvfs(w.folderPath.c_str(), &vfs), 0);
    EXPECT_GE(vfs.f_bavail * vfs.f_frsize, kDiskReserveBytes);
    EXPECT_EQ(MountPointOf(w.folderPath), w.folderPath.string());
  });
}

// The disk full just when the record needs a new block for the next line: the
// picture of that shot fits, its line does not. The record keeps its earlier lines,
// ends with a whole line, and the picture goes again.
TEST(FileFault, DiskFullOnTheRecordLine) {
  if (!CanMount()) GTEST_SKIP() << "mounting is not permitted here";
  testing::RunInChild([] {
    ASSERT_TRUE(PrivateMounts());
    WorkRig w;
    Mount disk(w.folderPath, "tmpfs", 0, "size=1m,mode=0755", "tmpfs");
    ASSERT_TRUE(disk.ok());
    w.AllChecksOn();
    w.StartSeries("0.5");
    // Until the next line would reach into a new block of the record.
    const size_t lineBytes = testing::SplitLines(testing::ReadFile(w.Record())).at(1).size() + 2;
    struct statvfs vfs {};
    ASSERT_EQ(::statvfs(w.folderPath.c_str(), &vfs), 0);
    const size_t block = vfs.f_bsize;
    ASSERT_TRUE(w.loop->RunUntil(
        [&] { return fs::file_size(w.Record()) % block + lineBytes > block && w.form().ShotCounter > 1; }, 600000));
    const int32_t taken = w.form().ShotCounter;
    const auto before = testing::Snapshot(w.folderPath);
    // Leave room for one picture (two blocks) and no more.
    ASSERT_EQ(::statvfs(w.folderPath.c_str(), &vfs), 0);
    const size_t pictureBlocks = (fs::file_size(w.Picture(taken)) + block - 1) / block;
    ASSERT_GT(vfs.f_bavail, pictureBlocks);
    const std::string filler = w.In("filler");
    { testing::WriteFile(filler, std::string((vfs.f_bavail - pictureBlocks) * block, 'x')); }
    ASSERT_EQ(::statvfs(w.folderPath.c_str(), &vfs), 0);
    ASSERT_EQ(vfs.f_bavail, pictureBlocks);
    w.loop->RunFor(5000);
    ExpectFileErrorEnd(w, ErrorNumber::kDiskFull, w.Record(), taken);
    EXPECT_FALSE(fs::exists(w.Picture(taken + 1))) << "no picture without its line";
    fs::remove(filler);
    EXPECT_EQ(testing::Snapshot(w.folderPath), before);
  });
}

}  // namespace
}  // namespace ostrelo
