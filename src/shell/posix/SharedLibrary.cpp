#include "shell/SharedLibrary.h"

#include <dlfcn.h>

namespace ostrelo {

SharedLibrary::SharedLibrary(const std::string& path) {
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ != nullptr) return;
  const char* why = dlerror();
  error_ = why != nullptr ? why : "cannot be loaded";
  // dlerror names the file itself, mostly.
  if (error_.compare(0, path.size() + 2, path + ": ") != 0) error_ = path + ": " + error_;
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) const { return handle_ != nullptr ? dlsym(handle_, name) : nullptr; }

}  // namespace ostrelo
