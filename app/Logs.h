#pragma once
// The plain-text logs of the program folder. Each lives whole in memory and is written whole
// after each addition, in the system's 8-bit code page with CR LF line ends.

#include <QString>
#include <QStringList>

#include <stdexcept>

namespace vtr {

// "Cannot create file "<path>". <reason>"
class EFCreateError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class TextLog
{
public:
  enum class Order { NewestFirst, OldestFirst };

  TextLog(QString path, Order order) : path_(std::move(path)), order_(order) {}

  const QString& Path() const { return path_; }
  const QStringList& Lines() const { return lines_; }

  // Reads the file when it exists; a missing file leaves the log empty.
  void Load();
  // Adds one entry and writes the file. A write failure raises EFCreateError; the entry stays
  // in memory and reaches the file with the next successful write.
  void Add(const QString& line);
  // Adds entries without writing; Save writes them.
  void Append(const QStringList& lines);
  void Save() const;

private:
  QString path_;
  Order order_;
  QStringList lines_;
};

// Local time stamps with the locale's date and time separators in place of "/" and ":".
// "yyyymmdd hh:nn:ss.zzz " (debug log) and "yyyy/mm/dd hh:nn:ss" (event and notes logs).
QString DebugStamp();
QString EventStamp();
// The same patterns for a given date-time (days since 1899-12-30).
QString DebugStamp(double when);
QString EventStamp(double when);

} // namespace vtr
