#include "scenario/ScenarioDocument.h"

namespace vtr {

void BuildEmptyScenario(XmlDocument& doc, const std::string& programVersion)
{
  doc.CreateEmpty(kScenarioRoot);
  XmlNode root = doc.Root();
  root.AppendAttribute("versionsave", "7");
  root.AppendAttribute("versionprog", programVersion);
  XmlNode note = root.AppendChild("notes").AppendChild("note");
  note.AppendAttribute("timestamp", "0.0");
  note.AppendAttribute("revision", "0.0");
  root.AppendChild("units");
  XmlNode stamps = root.AppendChild("timestamps");
  XmlNode start = stamps.AppendChild("timestamp");
  start.AppendAttribute("name", "start");
  start.SetTextFloat(0);
  XmlNode current = stamps.AppendChild("timestamp");
  current.AppendAttribute("name", "current");
  current.SetText("0");
}

} // namespace vtr
