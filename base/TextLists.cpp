#include "base/TextLists.h"

#include <algorithm>

namespace vtr {

namespace {

bool IsControlOrBlank(unsigned char c) { return c >= 0x01 && c <= 0x20; }

bool NeedsQuotes(std::string_view line)
{
  return std::any_of(line.begin(), line.end(), [](char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return c == '"' || c == ',' || IsControlOrBlank(c);
  });
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

} // namespace

std::string ToCommaText(const TextLines& lines)
{
  if (lines.size() == 1 && lines.front().empty())
    return "\"\"";
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0)
      out += ',';
    const std::string& line = lines[i];
    if (!NeedsQuotes(line)) {
      out += line;
      continue;
    }
    out += '"';
    for (char c : line) {
      if (c == '"')
        out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

TextLines FromCommaText(std::string_view text)
{
  text = text.substr(0, text.find('\0'));
  TextLines items;
  size_t i = 0;
  const size_t n = text.size();
  auto skip = [&] {
    while (i < n && IsControlOrBlank(static_cast<unsigned char>(text[i])))
      ++i;
  };
  skip();
  while (i < n) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < n) {
        if (text[i] == '"') {
          if (i + 1 < n && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      const size_t start = i;
      while (i < n && text[i] != ',' && static_cast<unsigned char>(text[i]) > 0x20)
        ++i;
      item.assign(text.substr(start, i - start));
    }
    items.push_back(std::move(item));
    skip();
    if (i < n && text[i] == ',') {
      if (i == n - 1)
        items.emplace_back();
      ++i;
      skip();
    }
  }
  return items;
}

TextLines SplitLines(std::string_view text)
{
  TextLines lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n')
      continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < text.size())
    lines.emplace_back(text.substr(start));
  return lines;
}

std::string JoinLines(const TextLines& lines)
{
  std::string out;
  for (const auto& line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b)
{
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string LowerCase(std::string_view s)
{
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Lower);
  return out;
}

std::string KeyValueList::NameOf(std::string_view line)
{
  const size_t eq = line.find('=');
  return eq == line.npos ? std::string() : std::string(line.substr(0, eq));
}

std::string KeyValueList::ValueOf(std::string_view line)
{
  const size_t eq = line.find('=');
  return eq == line.npos ? std::string() : std::string(line.substr(eq + 1));
}

int KeyValueList::IndexOfName(std::string_view name) const
{
  for (size_t i = 0; i < lines_.size(); ++i)
    if (SameText(NameOf(lines_[i]), name))
      return static_cast<int>(i);
  return -1;
}

std::string KeyValueList::Value(std::string_view name) const
{
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueOf(lines_[static_cast<size_t>(i)]);
}

void KeyValueList::SetValue(std::string_view name, std::string_view value)
{
  const int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0)
      lines_.erase(lines_.begin() + i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i >= 0)
    lines_[static_cast<size_t>(i)] = std::move(line);
  else
    lines_.push_back(std::move(line));
}

} // namespace vtr
