#include "app/ProgramFolder.h"

#include <QCoreApplication>

namespace vtr {

namespace {
QString& Override()
{
  static QString folder;
  return folder;
}
} // namespace

QString ProgramFolder()
{
  QString folder = Override().isEmpty() ? QCoreApplication::applicationDirPath() : Override();
  if (!folder.endsWith(u'/'))
    folder += u'/';
  return folder;
}

void SetProgramFolderForTests(const QString& folder) { Override() = folder; }

} // namespace vtr
