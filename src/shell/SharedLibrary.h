#pragma once
// A library loaded while the program runs (a device driver that may not be installed) and
// the functions it exports. One backend per platform: dlopen, LoadLibraryW.

#include <string>

namespace ostrelo {

class SharedLibrary {
 public:
  // A path, or a bare name for the system's own search. UTF-8.
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  // Why it is not loaded, starting with the path: "<path>: <the system's reason>".
  const std::string& error() const { return error_; }
  // The exported function's address; nullptr when the library lacks it.
  void* Symbol(const char* name) const;

  template <typename Fn>
  void Resolve(const char* name, Fn& fn) const {
    fn = reinterpret_cast<Fn>(Symbol(name));
  }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace ostrelo
