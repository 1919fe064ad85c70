#pragma once
// A folder of its own for a whole fuzzing process, removed when the process exits.
// Every input works inside it and empties it afterwards.

#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace ostrelo::fuzz {

class Sandbox {
 public:
  static const Sandbox& Get() {
    static const Sandbox sandbox;
    return sandbox;
  }
  const std::filesystem::path& path() const { return path_; }
  // The folder where names without a folder land (the process's current folder).
  const std::filesystem::path& inner() const { return inner_; }
  // Removes what the last input left in the inner folder.
  void Empty() const {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(inner_, ec)) {
      std::filesystem::remove_all(entry.path(), ec);
    }
  }
  ~Sandbox() {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(ec), ec);
    std::filesystem::remove_all(path_, ec);
  }

 private:
  Sandbox()
      : path_(std::filesystem::temp_directory_path() / ("ostrelo-fuzz-" + std::to_string(::getpid()))),
        inner_(path_ / "inner") {
    std::filesystem::create_directories(inner_);
    std::filesystem::current_path(inner_);
  }
  std::filesystem::path path_, inner_;
};

}  // namespace ostrelo::fuzz
