#include "shots/FileOutput.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <string>
#include <vector>

#include "shots/BitmapWriter.h"
#include "shots/ShotsTestSupport.h"
#include "support/TestRig.h"

namespace ostrelo {
namespace {

// A pipe that accepts only what fits in it and says EAGAIN for the rest: the writer
// sees partial writes.
struct NonBlockingPipe {
  NonBlockingPipe() { EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
  ~NonBlockingPipe() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  std::string Drain() {
    std::string out;
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
      if (n <= 0) return out;
      out.append(buffer, static_cast<size_t>(n));
    }
  }
  int fds[2] = {-1, -1};
};

TEST(WriteAllPieces, GoesOnFromWhereAPartialWriteStopped) {
  // Pieces of odd sizes, several of them empty, more than the pipe holds in all.
  std::vector<std::string> parts;
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    parts.push_back(std::string(static_cast<size_t>((i * 7919) % 1500), static_cast<char>('a' + i % 26)));
    expected += parts.back();
  }
  std::vector<FilePiece> pieces;
  for (auto& p : parts) pieces.push_back({p.data(), p.size()});
  NonBlockingPipe pipe;
  std::string received;
  int rounds = 0;
  for (;;) {
    const int error = WriteAllPieces(pipe.fds[1], pieces.data(), pieces.size());
    received += pipe.Drain();
    if (error == 0) break;
    ASSERT_EQ(error, EAGAIN);
    ASSERT_LT(++rounds, 1000);
  }
  EXPECT_GT(rounds, 0) << "the pipe should have filled at least once";
  EXPECT_EQ(received, expected);
}

TEST(WriteAll, ReportsHowMuchReachedTheFileBeforeAFailure) {
  const std::string data(300000, 'x');
  NonBlockingPipe pipe;
  size_t written = 0;
  EXPECT_EQ(WriteAll(pipe.fds[1], data.data(), data.size(), &written), EAGAIN);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  EXPECT_EQ(pipe.Drain().size(), written);
}

TEST(FileHandle, ClosesOnceAndReportsAClosedDescriptor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    FileHandle reader(fds[0]);
    EXPECT_EQ(reader.Close(), 0);
    EXPECT_FALSE(reader.valid());
    EXPECT_EQ(reader.Close(), 0) << "a second close does nothing";
  }
  FileHandle writer(fds[1]);
  // With the reading end gone, a write fails with EPIPE (SIGPIPE ignored here).
  ::signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(WriteAll(writer.get(), "x", 1), EPIPE);
}

// The file gathered straight from the frame and the file built in one buffer are the
// same bytes, whatever the area.
TEST(BitmapWriter, GatheredFileEqualsTheFileBuiltInMemory) {
  testing::TempFolder folder;
  testing::Rig rig;
  AcquisitionState& st = rig.form.st;
  for (int i = 0; i < 256; ++i) st.GreyPalette[i] = PaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  st.ImageWidth = 97;
  st.ImageHeight = 61;
  st.FrameByteCount = 97 * 61;
  st.FrameBytes.resize(97 * 61 + 1);
  for (size_t i = 0; i < st.FrameBytes.size(); ++i) st.FrameBytes[i] = static_cast<uint8_t>(i * 13 + 5);
  const int32_t areas[][4] = {{0, 0, 97, 61}, {1, 2, 3, 4}, {96, 60, 1, 1}, {10, 0, 86, 61}, {0, 30, 97, 1}};
  for (const auto& a : areas) {
    st.AoiLeft = a[0];
    st.AoiTop = a[1];
    st.AoiWidth = a[2];
    st.AoiHeight = a[3];
    std::vector<uint8_t> built;
    BuildAoiBitmap(st, built);
    SaveAoiBitmap(rig.form, folder / "g.bmp");
    EXPECT_EQ(testing::ReadFile(folder / "g.bmp"), std::string(built.begin(), built.end()))
        << a[0] << "," << a[1] << " " << a[2] << "x" << a[3];
  }
}

}  // namespace
}  // namespace ostrelo
