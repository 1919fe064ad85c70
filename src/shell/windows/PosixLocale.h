#pragma once
// The POSIX.1-2008 thread locale calls that the number formats use (newlocale, uselocale,
// strtod_l), on the Windows C runtime's own: _create_locale, _strtod_l, and a per-thread
// locale (_configthreadlocale) for uselocale. Given to shell/Numbers.cpp alone, by the build,
// until the numbers' locale has a platform interface of its own.

#include <locale.h>
#include <stdlib.h>

#include <string>

constexpr int LC_ALL_MASK = LC_ALL;

// A locale made by newlocale, or what uselocale hands back to restore the thread's own.
struct OstreloPosixLocale {
  _locale_t crt = nullptr;
  std::string name;        // as setlocale takes it
  int threadMode = 0;      // _configthreadlocale's setting to go back to
  bool givenBack = false;  // made by uselocale: freed once it has been given back
};
using locale_t = OstreloPosixLocale*;

inline locale_t newlocale(int categoryMask, const char* name, locale_t base) {
  if (base != nullptr || name == nullptr) return nullptr;  // only new locales of every category
  _locale_t crt = _create_locale(categoryMask, name);
  return crt == nullptr ? nullptr : new OstreloPosixLocale{crt, name, 0, false};
}

// The thread takes the locale; the answer, given back to uselocale, restores what the thread
// had (each answer once, in the reverse order: the scopes that use it are nested).
inline locale_t uselocale(locale_t locale) {
  if (locale == nullptr) return nullptr;
  if (locale->givenBack) {
    setlocale(LC_ALL, locale->name.c_str());
    _configthreadlocale(locale->threadMode);
    delete locale;
    return nullptr;
  }
  auto* previous = new OstreloPosixLocale{nullptr, "", 0, true};
  previous->threadMode = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
  if (const char* current = setlocale(LC_ALL, nullptr)) previous->name = current;
  setlocale(LC_ALL, locale->name.c_str());
  return previous;
}

inline double strtod_l(const char* text, char** end, locale_t locale) { return _strtod_l(text, end, locale->crt); }
