#pragma once
// Helpers shared by the test executables.

#include <QByteArray>
#include <QString>

#include <string>

namespace vtrtest {

// Reads a whole file; empty when it cannot be read.
QByteArray ReadFile(const QString& path);
void WriteFile(const QString& path, const QByteArray& data);

// Switches the C and C++ locales of the process to one whose decimal separator is ","
// (de_DE.UTF-8, generated into a private folder when the system lacks it) and restores them
// when it goes out of scope. Active() is false when no such locale could be had.
class CommaDecimalLocale
{
public:
  CommaDecimalLocale();
  ~CommaDecimalLocale();
  CommaDecimalLocale(const CommaDecimalLocale&) = delete;
  CommaDecimalLocale& operator=(const CommaDecimalLocale&) = delete;

  bool Active() const { return active_; }
  const std::string& Why() const { return why_; }

private:
  bool active_ = false;
  std::string why_;
  std::string oldC_;
};

} // namespace vtrtest
