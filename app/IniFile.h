#pragma once
// Initialisation file with [sections] and key=value lines. Section and key names ignore letter
// case; lines the program does not touch (other sections, other keys, comments) are kept as
// they are when a key is written.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>

namespace vtr {

class IniFile
{
public:
  // Reads the file when it exists; a missing file is an empty one.
  explicit IniFile(QString path);

  const QString& Path() const { return path_; }
  bool Exists() const { return exists_; }

  bool ValueExists(const QString& section, const QString& key) const;
  // Value with surrounding blanks removed, or def when the key is missing.
  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  // def also when the value is not an integer.
  int32_t ReadInteger(const QString& section, const QString& key, int32_t def) const;

  // Changes the lines in memory; UpdateFile writes them.
  void WriteString(const QString& section, const QString& key, const QString& value);
  void WriteInteger(const QString& section, const QString& key, int32_t value);

  // Writes the whole file; raises std::runtime_error "Unable to write to <path>" on failure,
  // leaving the old file as it was.
  void UpdateFile() const;

private:
  // Index of the "[section]" line, or -1.
  int SectionLine(const QString& section) const;
  // Index of the key's line within the section, or -1.
  int KeyLine(int sectionLine, const QString& key) const;
  // First line after the section's last non-blank line.
  int SectionEnd(int sectionLine) const;

  QString path_;
  QStringList lines_;
  bool exists_ = false;
};

} // namespace vtr
