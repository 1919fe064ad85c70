// The run-time loader against the stand-in driver library: functions present and absent, a
// missing file named in the error, a copy in a folder named in UTF-8 (UTF-16 on Windows).

#include "shell/SharedLibrary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace ostrelo {
namespace {

struct Library {
  const char* path;
  bool inUtf8Folder, loaded, hasRead;
};
class SharedLibraryTest : public ::testing::TestWithParam<Library> {};

TEST_P(SharedLibraryTest, ResolvesWhatTheLibraryExports) {
  namespace fs = std::filesystem;
  const Library& p = GetParam();
  fs::path dir = fs::temp_directory_path() / u8"Essai \u00e4 ", path = p.path;
  dir += std::to_string(std::random_device{}());
  if (p.inUtf8Folder && fs::create_directories(dir) && fs::copy_file(path, dir / path.filename())) {
    path = dir / path.filename();
  }
  const std::u8string name = path.u8string();
  {
    const SharedLibrary library(std::string(name.begin(), name.end()));
    EXPECT_EQ(library.loaded(), p.loaded) << library.error();
    EXPECT_EQ(library.Symbol("DAQmxCreateTask") != nullptr, p.loaded);
    EXPECT_EQ(library.Symbol("DAQmxReadAnalogF64") != nullptr, p.hasRead);
    EXPECT_EQ(library.error().rfind(p.path + std::string(": "), 0), p.loaded ? std::string::npos : 0);
  }
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Stand_in, SharedLibraryTest,
                         ::testing::Values(Library{OSTRELO_FAKE_NIDAQMX, false, true, true},
                                           Library{OSTRELO_FAKE_NIDAQMX_PARTIAL, false, true, false},
                                           Library{OSTRELO_FAKE_NIDAQMX, true, true, true},
                                           Library{"/nonexistent/libnidaqmx.so", false, false, false}));

}  // namespace
}  // namespace ostrelo
