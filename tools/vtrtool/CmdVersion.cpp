// vtrtool version: the program's four-part version.
#include "Command.h"

#include "app/Version.h"

#include <iostream>

namespace {

int RunVersion(const vtrtool::Args& args)
{
  if (!args.empty())
    throw vtrtool::UsageError{"takes no arguments"};
  std::cout << vtr::GetVersion().toStdString() << "\n";
  return vtrtool::kOk;
}

const vtrtool::Registrar reg({"version", "", "prints the program version", RunVersion});

} // namespace
