#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <clocale>
#include <cstdlib>
#include <locale>

namespace vtrtest {

QByteArray ReadFile(const QString& path)
{
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& data)
{
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
    f.write(data);
}

namespace {

bool TrySet(const char* name)
{
  if (!std::setlocale(LC_ALL, name))
    return false;
  const std::lconv* lc = std::localeconv();
  return lc && lc->decimal_point && std::string(lc->decimal_point) == ",";
}

} // namespace

CommaDecimalLocale::CommaDecimalLocale()
{
  oldC_ = std::setlocale(LC_ALL, nullptr);
  std::string chosen;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"})
    if (TrySet(name)) {
      active_ = true;
      chosen = name;
      break;
    }
  if (!active_) {
    // Generate one into a private folder; glibc finds it through LOCPATH.
    const QString dir = QDir::tempPath() + "/vtr-locales";
    QDir().mkpath(dir);
    const QString localedef = QStandardPaths::findExecutable("localedef");
    if (localedef.isEmpty()) {
      why_ = "localedef not found";
    } else {
      QProcess p;
      p.start(localedef, {"-i", "de_DE", "-f", "UTF-8", dir + "/de_DE.UTF-8"});
      p.waitForFinished(120000);
      setenv("LOCPATH", dir.toLocal8Bit().constData(), 1);
      active_ = TrySet("de_DE.UTF-8");
      chosen = "de_DE.UTF-8";
      if (!active_)
        why_ = "could not generate de_DE.UTF-8: " + p.readAllStandardError().toStdString();
    }
  }
  if (active_) {
    try {
      // Setting the global C++ locale by name also sets the C one.
      std::locale::global(std::locale(chosen.c_str()));
    } catch (const std::exception&) {
      // The C locale alone is enough for the C library's conversions.
    }
  }
}

CommaDecimalLocale::~CommaDecimalLocale()
{
  std::setlocale(LC_ALL, oldC_.c_str());
  std::locale::global(std::locale::classic());
}

} // namespace vtrtest
