#include "scenario/ScenarioFile.h"

#include "base/Utf8.h"

#include "app/Version.h"
#include "archive/ZipArchive.h"
#include "scenario/ScenarioConvert.h"

#include <QFile>
#include <QFileInfo>

namespace vtr {

namespace {

constexpr char32_t kReplacement = kReplacementChar;

// Length of the well-formed UTF-8 sequence at s[i] (no overlong forms, no surrogates, nothing
// above U+10FFFF), 0 when there is none.
size_t Utf8SequenceAt(std::string_view s, size_t i)
{
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF)
    len = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else
    return 0;
  if (i + len > s.size()) return 0;
  if (b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
  return len;
}

bool IsValidUtf8(std::string_view s)
{
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8SequenceAt(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string Utf8Repaired(std::string_view s)
{
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8SequenceAt(s, i);
    if (n == 0) {
      AppendUtf8(out, kReplacement);
      ++i;
    } else {
      out.append(s.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string FromUtf16(std::string_view s, bool bigEndian)
{
  std::string out;
  auto unit = [&](size_t i) -> char16_t {
    const auto a = static_cast<unsigned char>(s[i]), b = static_cast<unsigned char>(s[i + 1]);
    return static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  size_t i = 0;
  for (; i + 1 < s.size(); i += 2) {
    const char16_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < s.size()) {
      const char16_t v = unit(i + 2);
      if (v >= 0xDC00 && v <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(v) - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, u); // a lone surrogate becomes U+FFFD there
  }
  if (i < s.size()) AppendUtf8(out, kReplacement);
  return out;
}

std::string FromUtf32(std::string_view s, bool bigEndian)
{
  std::string out;
  size_t i = 0;
  for (; i + 3 < s.size(); i += 4) {
    char32_t c = 0;
    for (size_t k = 0; k < 4; ++k) {
      const auto byte = static_cast<unsigned char>(s[i + (bigEndian ? k : 3 - k)]);
      c = (c << 8) | byte;
    }
    AppendUtf8(out, c);
  }
  if (i < s.size()) AppendUtf8(out, kReplacement);
  return out;
}

// Windows-1252 from 0x80 to 0x9F; the five unassigned bytes map to the C1 controls, as the
// platform's own conversion does. Every other byte is its Latin-1 code point.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string FromCp1252(std::string_view s)
{
  std::string out;
  out.reserve(s.size() + s.size() / 4);
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    AppendUtf8(out, c >= 0x80 && c <= 0x9F ? kCp1252High[c - 0x80] : char32_t(c));
  }
  return out;
}

std::string Quoted(const QString& s)
{
  return "\"" + s.toStdString() + "\"";
}

[[noreturn]] void CannotOpen(const QString& path, const std::string& why)
{
  throw EScenarioFileError("Cannot open file " + Quoted(path) + ". " + why);
}

std::string LocalPath(const QString& path)
{
  return QFile::encodeName(path).toStdString();
}

std::string ReadArchiveMember(const QString& path)
{
  ZipArchive zip;
  zip.SetArchiveName(LocalPath(path));
  try {
    const std::vector<std::string> names = zip.MemberNames();
    const std::string wanted = ScenarioArchiveMemberName(path).toStdString();
    std::string chosen;
    for (const auto& n : names)
      if (n == wanted) chosen = n;
    if (chosen.empty()) {
      // A renamed archive still holds its old member name: take its only scenario member.
      std::vector<std::string> scenarios;
      for (const auto& n : names)
        if (ZipArchive::IsSafeMemberName(n) &&
            QString::fromStdString(n).endsWith(".vtrsc", Qt::CaseInsensitive))
          scenarios.push_back(n);
      if (scenarios.size() != 1)
        CannotOpen(path, "The archive holds no scenario member \"" + wanted + "\".");
      chosen = scenarios.front();
    }
    return zip.ReadMember(chosen);
  } catch (const EArchiveError& e) {
    throw EScenarioFileError(e.what());
  }
}

} // namespace

bool IsScenarioArchiveName(const QString& path)
{
  return path.endsWith(QStringLiteral(".vtrscz"), Qt::CaseInsensitive);
}

QString ScenarioArchiveMemberName(const QString& archivePath)
{
  return QFileInfo(archivePath).completeBaseName() + QStringLiteral(".vtrsc");
}

std::string DecodeScenarioText(std::string_view bytes)
{
  const auto starts = [&](std::string_view mark) { return bytes.starts_with(mark); };
  using namespace std::string_view_literals;
  if (starts("\xEF\xBB\xBF"sv)) return Utf8Repaired(bytes.substr(3));
  // UTF-32 first: its little-endian mark begins with the UTF-16 one.
  if (starts("\xFF\xFE\x00\x00"sv)) return FromUtf32(bytes.substr(4), false);
  if (starts("\x00\x00\xFE\xFF"sv)) return FromUtf32(bytes.substr(4), true);
  if (starts("\xFF\xFE"sv)) return FromUtf16(bytes.substr(2), false);
  if (starts("\xFE\xFF"sv)) return FromUtf16(bytes.substr(2), true);
  if (IsValidUtf8(bytes)) return std::string(bytes);
  return FromCp1252(bytes);
}

std::string ReadScenarioBytes(const QString& path)
{
  if (QFileInfo(path).isDir()) CannotOpen(path, "It is a folder.");
  if (IsScenarioArchiveName(path)) {
    if (!QFileInfo::exists(path)) CannotOpen(path, "No such file or directory.");
    return ReadArchiveMember(path);
  }
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) CannotOpen(path, f.errorString().toStdString() + ".");
  if (f.size() > kMaxScenarioFileSize)
    CannotOpen(path, "It is larger than the 256 MiB a scenario file may have.");
  // Read with a bound, not by the size reported: the file may grow meanwhile.
  const QByteArray data = f.read(kMaxScenarioFileSize + 1);
  if (data.size() > kMaxScenarioFileSize)
    CannotOpen(path, "It is larger than the 256 MiB a scenario file may have.");
  if (f.error() != QFileDevice::NoError) CannotOpen(path, f.errorString().toStdString() + ".");
  return data.toStdString();
}

TextLines ReadScenarioLines(const QString& path)
{
  const std::string text = DecodeScenarioText(ReadScenarioBytes(path));
  if (text.find('\0') != std::string::npos)
    throw EScenarioFileError("The file " + Quoted(path) +
                             " is not a scenario file: it holds binary data.");
  return SplitLines(text);
}

ScenarioFileLoad LoadScenarioFile(const QString& path, XmlDocument& doc)
{
  TextLines lines = ReadScenarioLines(path);
  const ScenarioConversion r = ConvertScenarioLines(lines, doc, GetVersion().toStdString());
  return {r.versionIn, r.resultText};
}

void SaveScenarioArchive(const XmlDocument& doc, const QString& path, ArchiveWrite mode)
{
  const std::string text = doc.SaveToText();
  ZipArchive zip;
  zip.SetArchiveName(LocalPath(path));
  zip.SetFreshArchive(mode == ArchiveWrite::Replace);
  try {
    zip.AddData(ScenarioArchiveMemberName(path).toStdString(), text);
  } catch (const EArchiveError& e) {
    throw EScenarioFileError("Cannot create file " + Quoted(path) + ". " + e.what());
  }
}

} // namespace vtr
