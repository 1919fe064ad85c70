#include "shots/FileOutput.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace ostrelo {
namespace {

// A pipe that accepts only what fits in it and says EAGAIN for the rest: the writer
// sees partial writes.
struct NonBlockingPipe {
  NonBlockingPipe() {
    EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
  }
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

TEST(WriteAll, ReportsHowMuchReachedTheFileBeforeAFailure) {
  const std::string data(300000, 'x');
  NonBlockingPipe pipe;
  size_t written = 0;
  EXPECT_EQ(WriteAll(pipe.fds[1], data.data(), data.size(), &written), EAGAIN);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, data.size());
  EXPECT_EQ(pipe.Drain().size(), written);
}

TEST(FileDescriptor, ClosesOnceAndReportsAClosedDescriptor) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    FileDescriptor reader(fds[0]);
    EXPECT_EQ(reader.Close(), 0);
    EXPECT_FALSE(reader.valid());
    EXPECT_EQ(reader.Close(), 0) << "a second close does nothing";
  }
  FileDescriptor writer(fds[1]);
  // With the reading end gone, a write fails with EPIPE (SIGPIPE ignored here).
  ::signal(SIGPIPE, SIG_IGN);
  EXPECT_EQ(WriteAll(writer.get(), "x", 1), EPIPE);
}

}  // namespace
}  // namespace ostrelo
