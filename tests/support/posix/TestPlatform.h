#pragma once
// What the tests do their own way on POSIX: temporary folders, names as UTF-8, child
// processes.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ostrelo::testing {

// A test may run a child process of its own: to change what the process is (a file-size
// limit, the user it runs as) or to kill it.
inline constexpr bool kChildProcesses = true;

// The message when no camera is found: the cable, and nothing more here.
inline void ExpectNoCameraMessage(const std::string& text) {
  EXPECT_EQ(text, "No camera found, please check USB cable");
}

// A new folder of its own: prefix followed by six random characters.
inline std::filesystem::path NewFolder(std::string prefix) {
  prefix += "XXXXXX";
  if (::mkdtemp(prefix.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return prefix;
}

// Names are bytes, UTF-8 for the program.
inline std::filesystem::path PathOf(const std::string& utf8) { return utf8; }
inline std::string Utf8Of(const std::filesystem::path& path) { return path.string(); }

// Runs body in a child process so that what it changes about the process (a file-size
// limit, the user it runs as) ends with it. Its gtest checks are reported on the
// shared output; the parent fails when the child did.
inline void RunInChild(const std::function<void()>& body, bool dropRoot = false) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int code = 0;
    if (dropRoot && ::geteuid() == 0) {
      // Root writes anywhere: run as nobody so that permissions apply.
      if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) code = 3;
    }
    if (code == 0) {
      body();
      code = ::testing::Test::HasFailure() ? 1 : 0;
    }
    std::fflush(nullptr);
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's checks failed (see its output above)";
}

// The file belongs to the user a child that drops root runs as.
inline void GiveToChild(const std::filesystem::path& file) {
  EXPECT_TRUE(::geteuid() != 0 || ::chown(file.c_str(), 65534, 65534) == 0) << file;
}

// In the calling process: files may grow to at most bytes; a write beyond fails with
// EFBIG instead of raising SIGXFSZ. For child processes only.
inline void LimitFileSize(uint64_t bytes) {
  ::signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

}  // namespace ostrelo::testing
