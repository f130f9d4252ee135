#pragma once

#include <string>

namespace quendel {

// The textual forms in which the panel writes numbers into the settings table.

// "1" or "0".
std::string flagForm(bool value);
// Decimal digits, as a standard stream writes an int.
std::string integerForm(long long value);
// As a standard stream with default flags writes the value: six significant digits, no
// trailing zeros, exponent notation where that is shorter (1e+06).
std::string streamRealForm(float value);
std::string streamRealForm(double value);
// As printf's "%f" writes it: six decimals.
std::string fixedSixForm(double value);

// atoi and atof without their undefined corners: text that is not a number gives 0, values
// beyond an int saturate, and a NaN is read as 0.
int textToInt(const std::string& text);
double textToDouble(const std::string& text);
// Truncates toward zero like a cast, saturating instead of overflowing.
int truncateToInt(double value);

}  // namespace quendel
