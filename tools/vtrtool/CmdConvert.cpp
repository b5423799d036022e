// vtrtool convert: any scenario file to a version-7 document, plain or zipped.
#include "Command.h"

#include "scenario/ScenarioFile.h"

#include <QFile>

#include <iostream>

namespace {

int RunConvert(const vtrtool::Args& args)
{
  if (args.size() != 2) throw vtrtool::UsageError{"takes an input and an output file"};
  const QString in = QString::fromLocal8Bit(args[0].c_str());
  const QString out = QString::fromLocal8Bit(args[1].c_str());

  vtr::XmlDocument doc;
  doc.SetReadable(true);
  vtr::ScenarioFileLoad load;
  try {
    load = vtr::LoadScenarioFile(in, doc);
  } catch (const std::exception& e) {
    throw vtrtool::InputError{e.what()};
  }

  try {
    if (vtr::IsScenarioArchiveName(out))
      vtr::SaveScenarioArchive(doc, out, vtr::ArchiveWrite::Replace);
    else
      doc.SaveToFile(QFile::encodeName(out).toStdString());
  } catch (const std::exception& e) {
    throw vtrtool::InputError{e.what()};
  }
  std::cout << load.resultText << "\n";
  return vtrtool::kOk;
}

const vtrtool::Registrar reg({"convert", "IN OUT",
                              "converts a scenario file of any version to version 7; OUT "
                              "ending in .vtrscz is written as an archive",
                              RunConvert});

} // namespace
