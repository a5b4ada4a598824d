#pragma once

#include <string>

namespace boardmill::util {

// Fixed notation with exactly `decimals` digits after the point: 12.500, 0.000.
std::string FormatFixed(double value, int decimals);

// The output stream's default floating-point format: six significant digits, exponent notation
// only for very small or large values, trailing zeros removed (0.5, 400000, 1.23457e+06).
std::string FormatGeneral(double value);

}  // namespace boardmill::util
