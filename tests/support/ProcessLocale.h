#pragma once
// The process locales the number entries are tested in: the C library's, and two with a
// decimal comma, set as the window's toolkit sets them from an operator's environment.

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <iterator>
#include <string>
#include <tuple>

namespace ostrelo::testing {

inline const char* const kOperatorLocales[] = {"C.UTF-8", "fr_FR.UTF-8", "de_DE.UTF-8"};

// Sets the process locale for one test and puts the previous one back. A locale the
// machine lacks fails the test rather than letting it pass in the C locale.
class ProcessLocale {
 public:
  explicit ProcessLocale(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
    if (std::setlocale(LC_ALL, name) == nullptr) {
      ADD_FAILURE() << "The locale " << name << " is not on this machine: scripts/install-deps generates it.";
    }
  }
  ~ProcessLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  ProcessLocale(const ProcessLocale&) = delete;
  ProcessLocale& operator=(const ProcessLocale&) = delete;

 private:
  std::string previous_;
};

// "fr_FR.UTF-8" as a part of a test's name: "fr_FR_UTF_8".
inline std::string LocaleTestName(const char* name) {
  std::string out = name;
  for (char& c : out) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
  }
  return out;
}

// A case without a name of its own, by its number and locale: "3_fr_FR_UTF_8".
template <class Info>
std::string NumberInLocale(const Info& info) {
  return std::to_string(info.index / std::size(kOperatorLocales)) + "_" + LocaleTestName(std::get<1>(info.param));
}

}  // namespace ostrelo::testing
