#pragma once
// vtrtool subcommands register themselves here, one source file each.
// Exit codes: 0 success, 1 bad usage, 2 input that cannot be read.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vtrtool {

enum ExitCode { kOk = 0, kUsage = 1, kBadInput = 2 };

// Raised by a command for input it cannot read; main prints the message and exits 2.
struct InputError
{
  std::string message;
};
// Raised for wrong arguments; main prints the message and the usage and exits 1.
struct UsageError
{
  std::string message;
};

using Args = std::vector<std::string>;

struct Command
{
  std::string name;
  std::string usage; // arguments after the name
  std::string summary;
  std::function<int(const Args&)> run;
  // Drawing commands need a (headless) GUI application; the rest run without one.
  bool gui = false;
};

std::vector<Command>& Commands();

// Stored texts go out as they stand; only TAB, CR and LF are escaped so that every record
// stays on its line and in its column.
inline std::string Field(std::string_view text)
{
  std::string out;
  for (char c : text) {
    switch (c) {
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    default:
      out += c;
    }
  }
  return out;
}

struct Registrar
{
  explicit Registrar(Command c) { Commands().push_back(std::move(c)); }
};

} // namespace vtrtool
