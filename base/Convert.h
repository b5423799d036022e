#pragma once
// Number <-> text conversions shared by the whole program. Never depends on the process
// locale: "." is always the decimal separator.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vtr {

// Raised when text is not a number; the message is what the default error box shows.
class EConvertError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// "'abc' is not a valid integer value"
[[noreturn]] void ThrowNotInteger(std::string_view text);
// "'abc' is not a valid floating point value"
[[noreturn]] void ThrowNotFloat(std::string_view text);

// Optionally signed decimal integer, leading blanks allowed; raises EConvertError otherwise
// (also when the value does not fit).
int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
std::optional<int32_t> TryStrToInt(std::string_view text);
std::optional<int64_t> TryStrToInt64(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t def);

// Decimal floating-point text: optional sign, digits with an optional ".", optional exponent,
// surrounding blanks ignored. Raises EConvertError otherwise (also on overflow).
double StrToFloat(std::string_view text);
std::optional<double> TryStrToFloat(std::string_view text);

std::string IntToStr(int64_t value);

// Number text: at most six significant digits, no leading zero before the point (".5"),
// scientific form for very large or small magnitudes ("1.23457E8", "1E-5").
std::string FloatToNumText(double value);

// Whether the whole text is a decimal number: leading blanks, optional sign, then a non-empty
// rest of digits, optional "." and digits, optional exponent with at least one digit.
// True for ".", "5." and "E5"; false for "", "-", "e", "1 ", "1,5", "0x10", "1.2.3".
bool IsNumericText(std::string_view text);

} // namespace vtr
