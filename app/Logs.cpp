#include "app/Logs.h"

#include "base/DateTime.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>

namespace vtr {

namespace {

// First character of a locale format that is not a pattern letter.
QChar SeparatorIn(const QString& format, QChar fallback)
{
  for (QChar c : format)
    if (!c.isLetter() && !c.isSpace() && c != u'\'')
      return c;
  return fallback;
}

QChar DateSeparator()
{
  static const QChar sep = SeparatorIn(QLocale::system().dateFormat(QLocale::ShortFormat), u'/');
  return sep;
}

QChar TimeSeparator()
{
  static const QChar sep = SeparatorIn(QLocale::system().timeFormat(QLocale::ShortFormat), u':');
  return sep;
}

QString Two(int v) { return QStringLiteral("%1").arg(v, 2, 10, QChar(u'0')); }

} // namespace

void TextLog::Load()
{
  QFile f(path_);
  if (!f.open(QIODevice::ReadOnly))
    return;
  const QString text = QString::fromLocal8Bit(f.readAll());
  lines_ = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
  if (!lines_.isEmpty() && lines_.last().isEmpty())
    lines_.removeLast();
}

void TextLog::Add(const QString& line)
{
  if (order_ == Order::NewestFirst)
    lines_.prepend(line);
  else
    lines_.append(line);
  Save();
}

void TextLog::Append(const QStringList& lines)
{
  for (const QString& l : lines)
    order_ == Order::NewestFirst ? lines_.prepend(l) : lines_.append(l);
}

void TextLog::Save() const
{
  QByteArray data;
  for (const QString& l : lines_)
    data += l.toLocal8Bit() + "\r\n";
  QFile f(path_);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw EFCreateError(
        QStringLiteral("Cannot create file \"%1\". %2").arg(path_, f.errorString()).toStdString());
  if (f.write(data) != data.size() || !f.flush())
    throw EFCreateError(
        QStringLiteral("Cannot create file \"%1\". %2").arg(path_, f.errorString()).toStdString());
}

QString DebugStamp(double when)
{
  const DateTimeFields f = DecodeDateTime(when);
  const QChar t = TimeSeparator();
  return QStringLiteral("%1%2%3 %4%5%6%5%7.%8 ")
      .arg(f.year, 4, 10, QChar(u'0'))
      .arg(Two(f.month), Two(f.day), Two(f.hour))
      .arg(t)
      .arg(Two(f.minute), Two(f.second))
      .arg(f.millisecond, 3, 10, QChar(u'0'));
}

QString EventStamp(double when)
{
  const DateTimeFields f = DecodeDateTime(when);
  const QChar d = DateSeparator();
  const QChar t = TimeSeparator();
  return QStringLiteral("%1%2%3%2%4 %5%6%7%6%8")
      .arg(f.year, 4, 10, QChar(u'0'))
      .arg(d)
      .arg(Two(f.month), Two(f.day), Two(f.hour))
      .arg(t)
      .arg(Two(f.minute), Two(f.second));
}

QString DebugStamp() { return DebugStamp(NowLocal()); }
QString EventStamp() { return EventStamp(NowLocal()); }

} // namespace vtr
