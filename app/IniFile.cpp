#include "app/IniFile.h"

#include "base/Convert.h"

#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

namespace vtr {

namespace {

bool IsSectionLine(const QString& line) { return line.trimmed().startsWith(u'['); }

QString SectionName(const QString& line)
{
  QString t = line.trimmed();
  const qsizetype close = t.indexOf(u']');
  return t.mid(1, close < 0 ? -1 : close - 1).trimmed();
}

QString KeyOf(const QString& line)
{
  const qsizetype eq = line.indexOf(u'=');
  return eq < 0 ? QString() : line.left(eq).trimmed();
}

} // namespace

IniFile::IniFile(QString path) : path_(std::move(path))
{
  QFile f(path_);
  if (!f.open(QIODevice::ReadOnly))
    return;
  exists_ = true;
  const QString text = QString::fromUtf8(f.readAll());
  lines_ = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
  if (!lines_.isEmpty() && lines_.last().isEmpty())
    lines_.removeLast();
}

int IniFile::SectionLine(const QString& section) const
{
  for (int i = 0; i < lines_.size(); ++i)
    if (IsSectionLine(lines_[i]) && SectionName(lines_[i]).compare(section, Qt::CaseInsensitive) == 0)
      return i;
  return -1;
}

int IniFile::KeyLine(int sectionLine, const QString& key) const
{
  for (int i = sectionLine + 1; i < lines_.size() && !IsSectionLine(lines_[i]); ++i) {
    const QString& line = lines_[i];
    if (line.trimmed().startsWith(u';'))
      continue;
    if (line.contains(u'=') && KeyOf(line).compare(key, Qt::CaseInsensitive) == 0)
      return i;
  }
  return -1;
}

int IniFile::SectionEnd(int sectionLine) const
{
  int end = sectionLine + 1;
  for (int i = sectionLine + 1; i < lines_.size() && !IsSectionLine(lines_[i]); ++i)
    if (!lines_[i].trimmed().isEmpty())
      end = i + 1;
  return end;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const
{
  const int s = SectionLine(section);
  return s >= 0 && KeyLine(s, key) >= 0;
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const
{
  const int s = SectionLine(section);
  const int k = s < 0 ? -1 : KeyLine(s, key);
  if (k < 0)
    return def;
  const QString& line = lines_[k];
  QString value = line.mid(line.indexOf(u'=') + 1).trimmed();
  if (value.size() >= 2 && ((value.startsWith(u'"') && value.endsWith(u'"')) ||
                            (value.startsWith(u'\'') && value.endsWith(u'\''))))
    value = value.mid(1, value.size() - 2);
  return value;
}

int32_t IniFile::ReadInteger(const QString& section, const QString& key, int32_t def) const
{
  return StrToIntDef(ReadString(section, key, QString()).toStdString(), def);
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
  const QString line = key + u'=' + value;
  int s = SectionLine(section);
  if (s < 0) {
    if (!lines_.isEmpty() && !lines_.last().trimmed().isEmpty())
      lines_.append(QString());
    lines_.append(u'[' + section + u']');
    lines_.append(line);
    return;
  }
  const int k = KeyLine(s, key);
  if (k >= 0)
    lines_[k] = line;
  else
    lines_.insert(SectionEnd(s), line);
}

void IniFile::WriteInteger(const QString& section, const QString& key, int32_t value)
{
  WriteString(section, key, QString::number(value));
}

void IniFile::UpdateFile() const
{
  QSaveFile f(path_);
  QByteArray data;
  for (const QString& line : lines_)
    data += line.toUtf8() + "\r\n";
  if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
    throw std::runtime_error(("Unable to write to " + path_).toStdString());
}

} // namespace vtr
