#pragma once
// The application object: catches what escapes an event handler and shows it in the default
// error box; the program goes on.

#include <QApplication>

namespace vtr {

class TApplication : public QApplication
{
public:
  TApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

// Runs f; an exception shows the default error box. Returns whether f completed.
template <typename F>
bool RunGuarded(F&& f);

void ShowException(const std::exception& e);

template <typename F>
bool RunGuarded(F&& f)
{
  try {
    f();
    return true;
  } catch (const std::exception& e) {
    ShowException(e);
    return false;
  }
}

} // namespace vtr
