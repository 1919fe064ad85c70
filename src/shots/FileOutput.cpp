#include "shots/FileOutput.h"

#include <cstring>
#include <string>

namespace ostrelo {

size_t FolderPartLength(const std::string& name) {
  for (size_t i = name.size(); i > 0; --i) {
    const char c = name[i - 1];
#ifdef _WIN32
    if (c == '\\' || c == '/' || c == ':') return i;
#else
    if (c == '/') return i;
#endif
  }
  return 0;
}

int64_t MakerOfTemporary(const std::string& name) {
  const size_t prefix = std::strlen(kPartPrefix), suffix = std::strlen(kPartSuffix);
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kPartPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kPartSuffix) != 0)
    return 0;
  const std::string middle = name.substr(prefix, name.size() - prefix - suffix);
  const size_t digits = middle.find_first_not_of("0123456789");
  if (digits == 0 || digits > 9) return 0;
  if (digits != std::string::npos && (middle.size() != digits + 7 || middle[digits] != '-')) return 0;
  return std::stol(middle.substr(0, digits));
}

}  // namespace ostrelo
