// vtrtool info: the version of a scenario file and its units, one per line, TAB separated.
#include "Command.h"

#include "scenario/ScenarioDocument.h"
#include "scenario/ScenarioFile.h"
#include "scenario/UnitStore.h"

#include <iostream>
#include <iterator>

namespace {

using vtrtool::Field;

std::string Marks(vtr::XmlNode sensors, char kind)
{
  std::string out;
  for (size_t k = 0; k < std::size(vtr::kSensorTypes); ++k) {
    if (k > 0) out += ',';
    const QString item = QLatin1Char(kind) + QString::fromLatin1(vtr::kSensorTypes[k]);
    out += vtr::TfrmUnit1::GetUnitSensXML(sensors, item).toStdString();
  }
  return out;
}

int RunInfo(const vtrtool::Args& args)
{
  if (args.size() != 1) throw vtrtool::UsageError{"takes one scenario file"};
  vtr::XmlDocument doc;
  vtr::ScenarioFileLoad load;
  try {
    load = vtr::LoadScenarioFile(QString::fromLocal8Bit(args[0].c_str()), doc);
  } catch (const std::exception& e) {
    throw vtrtool::InputError{e.what()};
  }

  const std::vector<vtr::XmlNode> units = doc.Root().ChildByName("units").Children();
  std::cout << "version\t" << load.versionIn << "\tunits\t" << units.size() << "\n";
  for (const vtr::XmlNode& unit : units) {
    const vtr::XmlNode status = unit.ChildByName("status");
    std::string line = Field(unit.AttributeText("id"));
    for (const char* item : {"objtype", "name", "lat", "lon", "alt", "hdg", "speed", "hdgarrow"})
      line += "\t" + Field(status.ChildText(item));
    const vtr::XmlNode sensors = status.ChildByName("sensors");
    line += "\t" + Field(Marks(sensors, 'd'));
    line += "\t" + Field(Marks(sensors, 'e'));
    line += "\t" + Field(status.ChildText("notes"));
    std::cout << line << "\n";
  }
  std::cout << "notes\t" << Field(vtr::ScenarioNoteElement(doc).Text()) << "\n";
  return vtrtool::kOk;
}

const vtrtool::Registrar
    reg({"info", "FILE", "prints a scenario file's version, its units and its notes", RunInfo});

} // namespace
