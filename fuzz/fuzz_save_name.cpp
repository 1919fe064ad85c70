// The name the operator gives in the save dialog: short names, names without extension
// or with several dots, non-ASCII bytes, very long names and paths longer than the
// system allows. A one shot with that name must never crash; whatever it writes stays
// inside the folder chosen; and either the shot is whole (its picture, and a record
// with the header and its line) or it was reported and left no picture.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzInput.h"
#include "FuzzSandbox.h"
#include "shots/ShotProcedure.h"
#include "support/TestRig.h"

using ostrelo::fuzz::FuzzInput;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const ostrelo::fuzz::Sandbox& sandbox = ostrelo::fuzz::Sandbox::Get();
  const fs::path& inner = sandbox.inner();

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
  switch (mode % 4) {
    case 0: rig.dialogs.saveAnswers.push_back((inner / name).string()); break;
    case 1: rig.dialogs.saveAnswers.push_back(name); break;
    case 2: {
      // A path past the system's limit that still names the inner folder: "./" repeated.
      std::string deep = inner.string() + "/";
      const size_t repeats = 1000 + static_cast<size_t>(mode & 0x7C) * 40;
      for (size_t i = 0; i < repeats; ++i) deep += "./";
      rig.dialogs.saveAnswers.push_back(deep + name);
      break;
    }
    default: rig.dialogs.saveAnswers.push_back(std::nullopt); break;  // cancelled
  }
  rig.dialogs.yesNoAnswers.push_back(true);
  f.Dispatch([&] { f.Command1_Click(); });
  f.Dispatch([&] { f.Timer1_Timer(); });

  // The shot is whole, or it was reported and its picture is not there.
  const std::string chosen = f.st.PictureFileName;
  OSTRELO_FUZZ_CHECK(!chosen.empty());
  const std::string picture = ostrelo::PictureNameFor(chosen, 1);
  if (f.ShotCounter == 1) {
    OSTRELO_FUZZ_CHECK(f.phase() == ostrelo::Phase::Running);
    OSTRELO_FUZZ_CHECK(fs::is_regular_file(picture));
    const std::string record = ReadAll(ostrelo::RecordNameFor(chosen));
    OSTRELO_FUZZ_CHECK(record.rfind("Image \tTime", 0) == 0);
    OSTRELO_FUZZ_CHECK(record.find("\r\n" + picture + "\t") != std::string::npos);
    OSTRELO_FUZZ_CHECK(record.size() >= 2 && record.compare(record.size() - 2, 2, "\r\n") == 0);
  } else {
    OSTRELO_FUZZ_CHECK(f.ShotCounter == 0);
    OSTRELO_FUZZ_CHECK(f.phase() == ostrelo::Phase::Ended);
    OSTRELO_FUZZ_CHECK(rig.dialogs.messages.size() == 1);
    std::error_code ec;
    OSTRELO_FUZZ_CHECK(!fs::is_regular_file(picture, ec));
  }
  if (f.phase() != ostrelo::Phase::Ended) f.Dispatch([&] { f.Unload(); });

  // Nothing may have been written next to the sandbox's inner folder, and no temporary
  // file stays behind.
  for (const auto& entry : fs::directory_iterator(sandbox.path())) {
    OSTRELO_FUZZ_CHECK(entry.path().filename() == "inner");
  }
  for (const auto& entry : fs::directory_iterator(inner)) {
    OSTRELO_FUZZ_CHECK(entry.path().extension() != ".part");
  }
  sandbox.Empty();
  return 0;
}
