#include "shell/Numbers.h"

#include <locale.h>  // newlocale, uselocale: POSIX, not in <clocale>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace ostrelo {

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  const double lower = std::floor(value);
  const double diff = value - lower;
  if (diff < 0.5) return lower;
  if (diff > 0.5) return lower + 1.0;
  return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

int32_t RoundToInt32(double value) {
  if (std::isnan(value)) return 0;
  const double r = RoundHalfEven(value);
  if (r >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  if (r <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The window's toolkit sets the C library's locale from the environment, where a comma
// locale would make strtod stop at the point and printf write a comma. The texts read and
// written here carry their decimal mark explicitly, so they go through the C locale.
locale_t CLocale() {
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c;
}

class CLocaleScope {
 public:
  CLocaleScope() : previous_(uselocale(CLocale())) {}
  ~CLocaleScope() { uselocale(previous_); }
  CLocaleScope(const CLocaleScope&) = delete;
  CLocaleScope& operator=(const CLocaleScope&) = delete;

 private:
  locale_t previous_;
};

// strtod on a cleaned copy, saturated to the finite range.
double ToDouble(const std::string& cleaned) {
  if (cleaned.empty()) return 0.0;
  double v = strtod_l(cleaned.c_str(), nullptr, CLocale());
  if (std::isinf(v)) v = v > 0 ? DBL_MAX : -DBL_MAX;
  if (std::isnan(v)) v = 0.0;
  return v;
}

}  // namespace

double LeadingNumber(std::string_view text) {
  // Gather the characters that form the number, blanks dropped, then let strtod
  // read that clean text.
  std::string number;
  size_t i = 0;
  auto next = [&]() -> int {
    while (i < text.size() && IsBlank(text[i])) ++i;
    return i < text.size() ? static_cast<unsigned char>(text[i]) : -1;
  };
  int c = next();
  if (c == '+' || c == '-') {
    number += static_cast<char>(c);
    ++i;
    c = next();
  }
  bool digits = false;
  while (c >= 0 && IsDigit(static_cast<char>(c))) {
    number += static_cast<char>(c);
    digits = true;
    ++i;
    c = next();
  }
  // Operators write the decimal mark as their locale does: the first point or comma is it.
  if (c == '.' || c == ',') {
    number += '.';
    ++i;
    c = next();
    while (c >= 0 && IsDigit(static_cast<char>(c))) {
      number += static_cast<char>(c);
      digits = true;
      ++i;
      c = next();
    }
  }
  if (!digits) return 0.0;
  if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
    const size_t mark = i;
    std::string exponent = "e";
    ++i;
    c = next();
    if (c == '+' || c == '-') {
      exponent += static_cast<char>(c);
      ++i;
      c = next();
    }
    bool expDigits = false;
    while (c >= 0 && IsDigit(static_cast<char>(c))) {
      // Cap the exponent's length: the value saturates long before.
      if (exponent.size() < 8) exponent += static_cast<char>(c);
      expDigits = true;
      ++i;
      c = next();
    }
    if (expDigits)
      number += exponent;
    else
      i = mark;
  }
  return ToDouble(number);
}

std::optional<double> LocaleNumber(std::string_view text, char decimalSeparator) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  std::string clean;
  size_t i = b;
  if (i < e && (text[i] == '+' || text[i] == '-')) clean += text[i++];
  bool digits = false;
  while (i < e && IsDigit(text[i])) {
    clean += text[i++];
    digits = true;
  }
  if (i < e && (text[i] == decimalSeparator || text[i] == '.' || text[i] == ',')) {
    clean += '.';
    ++i;
    while (i < e && IsDigit(text[i])) {
      clean += text[i++];
      digits = true;
    }
  }
  if (!digits) return std::nullopt;
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    std::string exponent = "e";
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) exponent += text[i++];
    bool expDigits = false;
    while (i < e && IsDigit(text[i])) {
      if (exponent.size() < 8) exponent += text[i];
      ++i;
      expDigits = true;
    }
    if (!expDigits) return std::nullopt;
    clean += exponent;
  }
  if (i != e) return std::nullopt;
  return ToDouble(clean);
}

std::string FormatNumber(double value, std::string_view pattern, char decimalSeparator) {
  if (value == 0.0) value = 0.0;  // a negative zero is written as zero
  std::string_view section = pattern;
  bool sign = false;
  const size_t semi = pattern.find(';');
  if (semi != std::string_view::npos) {
    if (value < 0) {
      section = pattern.substr(semi + 1);
      value = -value;
    } else {
      section = pattern.substr(0, semi);
    }
  } else if (value < 0) {
    sign = true;
    value = -value;
  }

  // The digit placeholders form one run: zeros, optionally a point and more zeros.
  const size_t first = section.find_first_of("0.");
  size_t last = first;
  while (last < section.size() && (section[last] == '0' || section[last] == '.')) ++last;
  const std::string_view prefix = first == std::string_view::npos ? section : section.substr(0, first);
  const std::string_view digits =
      first == std::string_view::npos ? std::string_view{} : section.substr(first, last - first);
  const std::string_view suffix = first == std::string_view::npos ? std::string_view{} : section.substr(last);

  const size_t point = digits.find('.');
  const int intDigits = static_cast<int>(point == std::string_view::npos ? digits.size() : point);
  const int decimals = point == std::string_view::npos ? 0 : static_cast<int>(digits.size() - point - 1);

  char buffer[512];
  const CLocaleScope cLocale;
  std::snprintf(buffer, sizeof buffer, "%0*.*f", intDigits + (decimals > 0 ? decimals + 1 : 0), decimals, value);
  std::string body = buffer;
  if (decimals > 0) {
    const size_t dot = body.find('.');
    if (dot != std::string::npos) body[dot] = decimalSeparator;
  }
  std::string out;
  if (sign && body.find_first_not_of("0.,") != std::string::npos) out += '-';
  out.append(prefix);
  out += body;
  out.append(suffix);
  return out;
}

std::string FormatYymmdd(int year, int month, int day) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d%02d%02d-", ((year % 100) + 100) % 100, month, day);
  return buffer;
}

std::string GeneralNumber(double value, char decimalSeparator) {
  if (value == 0.0) return "0";
  char buffer[64];
  const CLocaleScope cLocale;
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  std::string out = buffer;
  // "%G" keeps the exponent form for very large or small magnitudes; write it the way
  // the general form does: E+16, E-05.
  for (char& c : out) {
    if (c == '.') c = decimalSeparator;
  }
  return out;
}

}  // namespace ostrelo
