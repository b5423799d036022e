#pragma once
// Lists of text lines and their one-line encodings. Text is 8-bit (UTF-8) bytes; the special
// characters of every encoding here are ASCII, so UTF-8 passes through byte for byte.

#include <string>
#include <string_view>
#include <vector>

namespace vtr {

using TextLines = std::vector<std::string>;

// Comma text: lines separated by ","; a line holding a quote, a comma or a character from
// U+0001 to U+0020 is quoted with inner quotes doubled; one empty line is written as "".
std::string ToCommaText(const TextLines& lines);
// Reads comma text; a NUL byte ends the text.
TextLines FromCommaText(std::string_view text);

// Splits at CR LF, CR or LF; a final line break adds no empty line.
TextLines SplitLines(std::string_view text);
// Each line followed by CR LF.
std::string JoinLines(const TextLines& lines);

// ASCII case-insensitive equality, as every name lookup of the program uses.
bool SameText(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view s);

// Lines of the form name=value. The name is the text before the first "=" (empty when the
// line has none); lookups ignore letter case and take the first matching line.
class KeyValueList
{
public:
  KeyValueList() = default;
  explicit KeyValueList(TextLines lines) : lines_(std::move(lines)) {}

  const TextLines& Lines() const { return lines_; }
  TextLines& Lines() { return lines_; }

  // Name and value of line i.
  static std::string NameOf(std::string_view line);
  static std::string ValueOf(std::string_view line);

  // Index of the first line with that name, or -1.
  int IndexOfName(std::string_view name) const;
  // Value of the first line with that name; empty when there is none.
  std::string Value(std::string_view name) const;
  // Non-empty: replaces the first such line by name=value, or appends one. Empty: deletes it.
  void SetValue(std::string_view name, std::string_view value);

  std::string Text() const { return JoinLines(lines_); }
  void SetText(std::string_view text) { lines_ = SplitLines(text); }

private:
  TextLines lines_;
};

} // namespace vtr
