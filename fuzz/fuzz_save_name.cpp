// The name the operator gives in the save dialog: short names, names without extension
// or with several dots, non-ASCII bytes, very long names. A one shot with that name must
// never crash, and whatever it writes stays inside the folder chosen.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzInput.h"
#include "support/TestRig.h"

using ostrelo::fuzz::FuzzInput;
namespace fs = std::filesystem;

namespace {

// A folder of its own for the whole fuzzing process; every run works inside it.
const fs::path& Sandbox() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("ostrelo-fuzz-save-" + std::to_string(::getpid()));
    fs::create_directories(d / "inner");
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path& sandbox = Sandbox();
  const fs::path inner = sandbox / "inner";
  fs::current_path(inner);  // names without a folder land here

  FuzzInput in(data, size);
  const uint8_t mode = in.Byte();
  std::string name;
  const size_t length = (mode & 0x80) ? 200 + in.Byte() * 2 : in.Byte() % 48;
  for (size_t i = 0; i < length && in.more(); ++i) {
    char c = static_cast<char>(in.Byte());
    if (c == '\0' || c == '/') c = '_';  // keep every name inside the sandbox
    name += c;
  }

  ostrelo::testing::Rig rig(64, 48);
  ostrelo::Form1& f = rig.form;
  if (!f.Load()) return 0;
  switch (mode % 3) {
    case 0: rig.dialogs.saveAnswers.push_back((inner / name).string()); break;
    case 1: rig.dialogs.saveAnswers.push_back(name); break;
    default: rig.dialogs.saveAnswers.push_back(std::nullopt); break;  // cancelled
  }
  rig.dialogs.yesNoAnswers.push_back(true);
  f.Dispatch([&] { f.Command1_Click(); });
  f.Dispatch([&] { f.Timer1_Timer(); });
  if (f.phase() != ostrelo::Phase::Ended) f.Dispatch([&] { f.Unload(); });

  // Nothing may have been written next to the sandbox's inner folder.
  for (const auto& entry : fs::directory_iterator(sandbox)) {
    OSTRELO_FUZZ_CHECK(entry.path().filename() == "inner");
  }
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(inner, ec)) fs::remove_all(entry.path(), ec);
  return 0;
}
