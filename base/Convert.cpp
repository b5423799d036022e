#include "base/Convert.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace vtr {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the number at the start of s (sign, mantissa, exponent), 0 when there is none.
// requireMantissaDigit: "E5" and "." are numbers for IsNumericText but not for StrToFloat.
size_t ScanNumber(std::string_view s, bool requireMantissaDigit)
{
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-'))
    ++i;
  const size_t start = i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i]))
    ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i]))
      ++i, ++digits;
  }
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-'))
      ++j;
    size_t expDigits = 0;
    while (j < s.size() && IsDigit(s[j]))
      ++j, ++expDigits;
    if (expDigits == 0)
      return 0;
    i = j;
  }
  if (i == start || (requireMantissaDigit && digits == 0))
    return 0;
  return i;
}

size_t SkipBlanks(std::string_view s, size_t i)
{
  while (i < s.size() && s[i] == ' ')
    ++i;
  return i;
}

template <typename T>
std::optional<T> ParseInteger(std::string_view text)
{
  std::string_view rest = text.substr(SkipBlanks(text, 0));
  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  if (rest.empty() || !IsDigit(rest.front()))
    return std::nullopt;
  // Accumulate negatively so that the most negative value fits.
  T value = 0;
  for (char c : rest) {
    if (!IsDigit(c))
      return std::nullopt;
    const T digit = c - '0';
    if (value < (std::numeric_limits<T>::min() + digit) / 10)
      return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == std::numeric_limits<T>::min())
      return std::nullopt;
    value = -value;
  }
  return value;
}

} // namespace

void ThrowNotInteger(std::string_view text)
{
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

void ThrowNotFloat(std::string_view text)
{
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

std::optional<int32_t> TryStrToInt(std::string_view text) { return ParseInteger<int32_t>(text); }
std::optional<int64_t> TryStrToInt64(std::string_view text) { return ParseInteger<int64_t>(text); }

int32_t StrToInt(std::string_view text)
{
  if (auto v = TryStrToInt(text))
    return *v;
  ThrowNotInteger(text);
}

int64_t StrToInt64(std::string_view text)
{
  if (auto v = TryStrToInt64(text))
    return *v;
  ThrowNotInteger(text);
}

int32_t StrToIntDef(std::string_view text, int32_t def) { return TryStrToInt(text).value_or(def); }

namespace {

// The power of ten of a scanned number's leading digit, plus one ("123" 3, "0.05" -1, "5e-3"
// -2): a number out of range of double overflowed when it is positive, underflowed otherwise.
int64_t DecimalOrder(std::string_view body)
{
  size_t i = 0;
  if (i < body.size() && (body[i] == '-' || body[i] == '+'))
    ++i;
  int64_t intDigits = 0, fracZeros = 0;
  bool nonZero = false;
  for (; i < body.size() && IsDigit(body[i]); ++i)
    if (nonZero || body[i] != '0') {
      nonZero = true;
      ++intDigits;
    }
  if (i < body.size() && body[i] == '.')
    for (++i; i < body.size() && IsDigit(body[i]); ++i)
      if (!nonZero) {
        if (body[i] == '0')
          ++fracZeros;
        else
          nonZero = true;
      }
  int64_t order = intDigits > 0 ? intDigits : -fracZeros;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    std::string_view exp = body.substr(i + 1);
    const bool negative = !exp.empty() && exp.front() == '-';
    if (!exp.empty() && (exp.front() == '-' || exp.front() == '+'))
      exp.remove_prefix(1);
    int64_t e = 0;
    if (std::from_chars(exp.data(), exp.data() + exp.size(), e).ec != std::errc())
      e = std::numeric_limits<int32_t>::max(); // beyond any double either way
    order += negative ? -e : e;
  }
  return order;
}

} // namespace

std::optional<double> TryStrToFloat(std::string_view text)
{
  size_t b = SkipBlanks(text, 0);
  size_t e = text.size();
  while (e > b && text[e - 1] == ' ')
    --e;
  std::string_view body = text.substr(b, e - b);
  if (body.empty() || ScanNumber(body, true) != body.size())
    return std::nullopt;
  if (body.front() == '+')
    body.remove_prefix(1);
  double value = 0;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (ptr != body.data() + body.size())
    return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // Too small reads as zero; too large is not a value.
    if (DecimalOrder(body) > 0)
      return std::nullopt;
    return 0.0;
  }
  if (ec != std::errc())
    return std::nullopt;
  return value;
}

double StrToFloat(std::string_view text)
{
  if (auto v = TryStrToFloat(text))
    return *v;
  ThrowNotFloat(text);
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string FloatToNumText(double value)
{
  if (std::isnan(value))
    return "NAN";
  if (std::isinf(value))
    return value < 0 ? "-INF" : "INF";
  if (value == 0)
    return "0";
  if (value < 0)
    return "-" + FloatToNumText(-value);

  // Scale into [10^5, 10^6) in extended precision, then round half to even.
  int S = 6;
  long double v = value;
  int p = S;
  while (v < 100000.0L) {
    v *= 10;
    --p;
  }
  while (v >= 1000000.0L) {
    v *= 0.1L;
    ++p;
  }
  auto n = static_cast<int64_t>(std::rint(v));
  if (n == 1000000) {
    n /= 10;
    ++p;
  }
  while (n % 10 == 0 && p < S) {
    n /= 10;
    --S;
  }
  int e = 0;
  if (p < -1 || p > S + 2) {
    e = p - 1;
    p = 1;
  }
  std::string digits = std::to_string(n);
  while (p > S) {
    digits += '0';
    ++S;
  }
  while (p < 0) {
    digits.insert(digits.begin(), '0');
    ++p;
  }
  if (p == 0)
    digits.insert(digits.begin(), '.');
  else if (p < S)
    digits.insert(static_cast<size_t>(p), 1, '.');
  if (e != 0)
    digits += "E" + std::to_string(e);
  return digits;
}

bool IsNumericText(std::string_view text)
{
  std::string_view body = text.substr(SkipBlanks(text, 0));
  return !body.empty() && ScanNumber(body, false) == body.size();
}

} // namespace vtr
