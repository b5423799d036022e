#pragma once
// Runs the program folder's vtrtool as a user would.
#include <QProcess>
#include <QStringList>

#include <string>

namespace vtrtest {

struct ToolRun
{
  int code = -1; // -1: it did not finish within a minute
  std::string out;
  std::string err;
};

inline ToolRun Vtrtool(const QStringList& args)
{
  QProcess p;
  p.start(QStringLiteral(VTR_PROGRAM_DIR "/vtrtool"), args);
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return {};
  }
  return {p.exitCode(), p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

} // namespace vtrtest
