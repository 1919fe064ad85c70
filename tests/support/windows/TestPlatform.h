#pragma once
// What the tests do their own way on Windows: temporary folders, names as UTF-8 (the
// narrow names of the C library are the ANSI code page's), no child processes.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>

namespace ostrelo::testing {

// No fork: the tests that change what a process is, or kill it, are Linux's.
inline constexpr bool kChildProcesses = false;

// The message when no camera is found: the cable, then the WinUSB driver and the firewall.
inline void ExpectNoCameraMessage(const std::string& text) {
  EXPECT_TRUE(text.starts_with("No camera found, please check USB cable\n")) << text;
  for (const char* step : {"WinUSB", "Zadig", "Firewall", "ostrelo.exe", "UDP"})
    EXPECT_NE(text.find(step), text.npos) << step;
}

inline std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8Of(const std::filesystem::path& path) {
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
}

// A new folder of its own: prefix followed by random digits.
inline std::filesystem::path NewFolder(const std::string& prefix) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path folder = PathOf(prefix + std::to_string(random() % 1000000));
    if (std::filesystem::create_directory(folder)) return folder;
  }
  throw std::runtime_error("no new folder");
}

inline void RunInChild(const std::function<void()>&, bool = false) {
  ADD_FAILURE() << "no child process on Windows: the test skips when kChildProcesses is false";
}
inline void LimitFileSize(uint64_t) { ADD_FAILURE() << "no file-size limit on Windows"; }
inline void GiveToChild(const std::filesystem::path&) {}

}  // namespace ostrelo::testing
