#pragma once
// Number reading and writing shared by every subsystem.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrelo {

// Nearest integer, an exact half going to the even neighbour (0.5 -> 0, 2.5 -> 2, 59.5 -> 60).
double RoundHalfEven(double value);

// RoundHalfEven, then saturated to the 32-bit range (NaN gives 0), so a huge
// operator entry clamps instead of overflowing.
int32_t RoundToInt32(double value);

// The leading-number reading: blanks anywhere are skipped, an optional sign, digits,
// a decimal mark (the first point or comma) and an exponent (E or D) are taken; reading stops at the
// first character that cannot continue the number; no number gives 0. Values beyond
// the double range saturate to +/- the largest finite double.
double LeadingNumber(std::string_view text);

// The whole text as a number by the locale's rules (leading and trailing blanks allowed,
// optional sign, digits with at most one decimal mark, optional exponent). A point or a
// comma is taken for the mark as well as the locale's own: an operator types either.
// Anything else, an empty text included, is not a number.
std::optional<double> LocaleNumber(std::string_view text, char decimalSeparator);

// Writes a number with a display pattern: "0" is a digit always shown (more digits are
// printed when needed), "." stands for the decimal separator, any other character is
// printed as it is. With two sections ("pos;neg") the second serves negative values and
// gets no sign of its own. Examples: "0000", "00", "00000.00", "-00.000;00.000".
std::string FormatNumber(double value, std::string_view pattern, char decimalSeparator = '.');

// Two-digit year, month and day followed by "-": 25 March 2011 gives "110325-".
std::string FormatYymmdd(int year, int month, int day);

// The general number form: up to 15 significant digits, no thousands separator,
// no trailing zeros, the locale's decimal separator.
std::string GeneralNumber(double value, char decimalSeparator);

}  // namespace ostrelo
