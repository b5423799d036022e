#include "app/Application.h"

#include "app/Dialogs.h"

namespace vtr {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
  setApplicationName(QStringLiteral("Vantrel"));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowErrorBox(QStringLiteral("Unknown error"));
  }
  return false;
}

void ShowException(const std::exception& e) { ShowErrorBox(QString::fromUtf8(e.what())); }

} // namespace vtr
