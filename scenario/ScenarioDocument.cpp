#include "scenario/ScenarioDocument.h"

#include "base/TextLists.h"
#include "scenario/UnitStore.h"

namespace vtr {

void BuildEmptyScenario(XmlDocument& doc, const std::string& programVersion)
{
  doc.CreateEmpty(kScenarioRoot);
  XmlNode root = doc.Root();
  root.AppendAttribute("versionsave", std::to_string(kScenarioVersion));
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

XmlNode ScenarioNoteElement(const XmlDocument& doc)
{
  return FindChildByAttribute(doc.Root().ChildByName("notes"), "note", "timestamp", "0.0");
}

void SetScenarioStartTime(XmlDocument& doc, TDateTime dtScen)
{
  XmlNode root = doc.Root();
  if (!root) return;
  XmlNode stamps = root.EnsureChild("timestamps");
  XmlNode start;
  for (XmlNode c : stamps.Children())
    if (SameText(c.Name(), "timestamp") && SameText(c.AttributeText("name"), "start")) {
      start = c;
      break;
    }
  if (!start) {
    start = XmlNode(stamps.Raw().prepend_child("timestamp"));
    start.AppendAttribute("name", "start");
  }
  start.SetTextFloat(dtScen);
}

} // namespace vtr
