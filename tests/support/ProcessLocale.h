#pragma once
// The process locales number entry is tested in, set as the window's toolkit sets them
// from an operator's environment: the C library's, and two with a decimal comma.

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <iterator>
#include <string>
#include <tuple>

namespace ostrelo::testing {

#ifdef _WIN32
// The Windows C library (msvcrt) has no UTF-8 locales; "fr_FR" is its French_France.1252.
inline const char* const kOperatorLocales[] = {"C", "fr_FR", "de_DE"};
#else
inline const char* const kOperatorLocales[] = {"C.UTF-8", "fr_FR.UTF-8", "de_DE.UTF-8"};
#endif

// For one test; a locale the machine lacks fails it rather than letting it pass in C.
class ProcessLocale {
 public:
  explicit ProcessLocale(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
    if (std::setlocale(LC_ALL, name) == nullptr) ADD_FAILURE() << name << " is missing: scripts/install-deps makes it";
  }
  ~ProcessLocale() { std::setlocale(LC_ALL, previous_.c_str()); }

 private:
  std::string previous_;
};

// A test's name from its case's (or number's) and its locale's: "3_fr_FR_UTF_8".
template <class Info>
std::string NameInLocale(const Info& info, std::string name = {}) {
  if (name.empty()) name = std::to_string(info.index / std::size(kOperatorLocales));
  name += '_';
  for (const char* c = std::get<1>(info.param); *c != '\0'; ++c) name += std::isalnum(*c) != 0 ? *c : '_';
  return name;
}

}  // namespace ostrelo::testing
