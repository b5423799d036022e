// vtrtool: the command-line companion of Vantrel.
#include "Command.h"

#include <QApplication>
#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <iostream>

namespace vtrtool {

std::vector<Command>& Commands()
{
  static std::vector<Command> commands;
  return commands;
}

} // namespace vtrtool

namespace {

void PrintUsage(std::ostream& out)
{
  out << "usage: vtrtool COMMAND [ARGS...]\n\ncommands:\n";
  auto cmds = vtrtool::Commands();
  std::sort(cmds.begin(), cmds.end(), [](auto& a, auto& b) { return a.name < b.name; });
  for (const auto& c : cmds)
    out << "  " << c.name << (c.usage.empty() ? "" : " ") << c.usage << "\n      " << c.summary
        << "\n";
}

} // namespace

int main(int argc, char** argv)
{
  if (argc < 2) {
    PrintUsage(std::cerr);
    return vtrtool::kUsage;
  }
  const std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") {
    PrintUsage(std::cout);
    return vtrtool::kOk;
  }
  vtrtool::Args args(argv + 2, argv + argc);
  for (const auto& c : vtrtool::Commands()) {
    if (c.name != name)
      continue;
    std::unique_ptr<QCoreApplication> app;
    if (c.gui) {
      // Headless: drawing commands render offscreen (the globe is a widget, so widgets too).
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
      app = std::make_unique<QApplication>(argc, argv);
    } else {
      app = std::make_unique<QCoreApplication>(argc, argv);
    }
    try {
      return c.run(args);
    } catch (const vtrtool::UsageError& e) {
      std::cerr << "vtrtool " << name << ": " << e.message << "\nusage: vtrtool " << c.name << " "
                << c.usage << "\n";
      return vtrtool::kUsage;
    } catch (const vtrtool::InputError& e) {
      std::cerr << "vtrtool " << name << ": " << e.message << "\n";
      return vtrtool::kBadInput;
    } catch (const std::exception& e) {
      std::cerr << "vtrtool " << name << ": " << e.what() << "\n";
      return vtrtool::kBadInput;
    }
  }
  std::cerr << "vtrtool: unknown command \"" << name << "\"\n";
  PrintUsage(std::cerr);
  return vtrtool::kUsage;
}
