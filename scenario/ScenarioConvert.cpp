#include "scenario/ScenarioConvert.h"

#include "app/Version.h"
#include "base/Convert.h"
#include "scenario/ScenarioDocument.h"
#include "scenario/UnitStore.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace vtr {

EScenarioTooNew::EScenarioTooNew(int version)
    : std::runtime_error("Scenario Version is " + std::to_string(version) +
                         "\r\n This program release can only read through Version " +
                         std::to_string(kScenarioVersion) + "\r\nExiting Program..."),
      version_(version)
{
}

namespace {

bool IsNumericLine(std::string_view line)
{
  return IsNumericText(KeyValueList::NameOf(line));
}
bool IsVersionLine(std::string_view line)
{
  return line.starts_with("Version");
}

TextLines Header(int version, std::string_view programVersion)
{
  return {"VersionSave=" + std::to_string(version), "VersionProg=" + std::string(programVersion)};
}

std::string UnitLine(std::string_view name, const KeyValueList& record)
{
  return std::string(name) + "=" + ToCommaText(record.Lines());
}

KeyValueList UnitRecord(std::string_view line)
{
  return KeyValueList(FromCommaText(KeyValueList::ValueOf(line)));
}

// 0 -> 1: a unit's notes may run over the following lines, the first ending inside the
// quoted "Notes=" item and the last with its closing quote.
TextLines Step0To1(const TextLines& in, std::string_view prog)
{
  TextLines out = Header(1, prog);
  KeyValueList unit;
  std::string lastName;
  for (size_t i = 0; i < in.size(); ++i) {
    unit.Lines().clear();
    if (!IsNumericLine(in[i])) continue;
    std::string line = in[i];
    lastName = KeyValueList::NameOf(line);
    if (line.find("\"Notes=") != std::string::npos && line.back() != '"') line += '"';
    unit = UnitRecord(line);
    TextLines notes = SplitLines(unit.Value("Notes"));
    for (size_t j = i + 1; j < in.size(); ++j) {
      if (IsNumericLine(in[j])) {
        unit.SetValue("Notes", ToCommaText(notes));
        out.push_back(UnitLine(lastName, unit));
        break;
      }
      const std::string& more = in[j];
      notes.push_back(!more.empty() && more.back() == '"' ? more.substr(0, more.size() - 1) : more);
      if (j + 1 == in.size()) {
        unit.SetValue("Notes", ToCommaText(notes));
        out.push_back(UnitLine(lastName, unit));
        unit.Lines().clear();
      }
    }
  }
  if (!unit.Lines().empty()) out.push_back(UnitLine(lastName, unit));
  return out;
}

// 1 -> 2: the one radar mark becomes the ASR and SSR marks. Every unit line is split; a line
// without "dRad" keeps its unit (with empty radar marks) rather than losing it.
TextLines Step1To2(const TextLines& in, std::string_view prog)
{
  TextLines out = Header(2, prog);
  for (const auto& line : in) {
    if (!IsNumericLine(line)) {
      if (!IsVersionLine(line)) out.push_back(line);
      continue;
    }
    KeyValueList unit = UnitRecord(line);
    const std::string d = unit.Value("dRad");
    const std::string e = unit.Value("eRad");
    auto& items = unit.Lines();
    items.push_back("dASR=" + d);
    items.push_back("dSSR=" + d);
    items.push_back("eASR=" + e);
    items.push_back("eSSR=" + e);
    for (const char* key : {"dRad", "eRad"})
      if (const int k = unit.IndexOfName(key); k >= 0) items.erase(items.begin() + k);
    out.push_back(UnitLine(KeyValueList::NameOf(line), unit));
  }
  return out;
}

// 2 -> 3 and 4 -> 5: only the header changes.
TextLines StepHeader(const TextLines& in, int version, std::string_view prog)
{
  TextLines out = Header(version, prog);
  for (const auto& line : in)
    if (IsNumericLine(line) || !IsVersionLine(line)) out.push_back(line);
  return out;
}

// 3 -> 4: unit identifiers become the line's index, twelve digits zero-padded.
TextLines Step3To4(const TextLines& in, std::string_view prog)
{
  TextLines out = Header(4, prog);
  for (size_t i = 0; i < in.size(); ++i) {
    const std::string& line = in[i];
    if (IsNumericLine(line)) {
      char id[32];
      std::snprintf(id, sizeof id, "%012zu", i);
      out.push_back(std::string(id) + "=" + KeyValueList::ValueOf(line));
    } else if (!IsVersionLine(line)) {
      out.push_back(line);
    }
  }
  return out;
}

// 5 -> 6: the key=value text becomes the XML document. Item texts are copied as they are.
void Step5To6(const TextLines& in, XmlDocument& tmp, std::string_view prog)
{
  tmp.CreateEmpty(kScenarioRoot);
  XmlNode root = tmp.Root();
  root.AppendAttribute("versionsave", "6");
  root.AppendAttribute("versionprog", prog);
  XmlNode stamps = root.AppendChild("timestamps");
  for (const char* name : {"start", "current"}) {
    XmlNode s = stamps.AppendChild("timestamp");
    s.AppendAttribute("name", name);
    s.SetText("0");
  }
  XmlNode note = root.AppendChild("notes").AppendChild("note");
  note.AppendAttribute("timestamp", "0.0");
  note.AppendAttribute("revision", "0");
  note.SetText(KeyValueList(in).Value("Notes"));

  XmlNode units = root.AppendChild("units");
  for (const auto& line : in) {
    if (!IsNumericLine(line)) continue;
    const KeyValueList rec = UnitRecord(line);
    const int64_t id = StrToInt64(KeyValueList::NameOf(line));
    XmlNode unit = units.AppendChild("unit");
    unit.AppendAttribute("id", IntToStr(id));
    unit.AppendAttribute("timecreate", "0.0");
    unit.AppendAttribute("timecurrent", "0.0");
    XmlNode status = unit.AppendChild("status");
    status.AppendAttribute("timestamp", "0.0");
    status.AppendAttribute("revision", "0");
    for (const char* key :
         {"ObjType", "Name", "Class", "Lat", "Lon", "Alt", "Hdg", "Speed", "Notes", "HdgArrow"})
      status.AppendChild(LowerCase(key)).SetText(rec.Value(key));
    XmlNode sensors = status.AppendChild("sensors");
    for (const char* type : kSensorTypes) {
      XmlNode s = sensors.AppendChild("sensor");
      s.AppendAttribute("type", type);
      s.AppendChild("d").SetText(rec.Value(std::string("d") + type));
      s.AppendChild("e").SetText(rec.Value(std::string("e") + type));
    }
  }
}

// Sets the attribute and drops any further attribute of that name, so the root carries one.
void SetSingleAttribute(XmlNode node, std::string_view name, std::string_view value)
{
  node.SetAttribute(name, value);
  pugi::xml_node raw = node.Raw();
  bool seen = false;
  for (auto a = raw.first_attribute(); a;) {
    auto next = a.next_attribute();
    if (SameText(a.name(), name)) {
      if (seen) raw.remove_attribute(a);
      seen = true;
    }
    a = next;
  }
}

bool LooksLikeXml(std::string_view text)
{
  const size_t i = text.find_first_not_of(" \t\r\n");
  return i != std::string_view::npos && text[i] == '<';
}

void ParseScenarioXml(XmlDocument& doc, const std::string& text)
{
  try {
    doc.LoadFromText(text);
  } catch (const EXmlError& e) {
    throw EXmlError(std::string("The scenario is damaged: ") + e.what());
  }
}

// Gives every unit whose id another unit already has, or that no unit may have, a fresh id.
// Ids that are not integers stay for the load to report.
void RenumberUnusableIds(XmlNode units)
{
  std::set<uint32_t> used;
  std::vector<XmlNode> renumber;
  for (XmlNode u : units.Children()) {
    const auto id = TryStrToInt64(u.AttributeText("id"));
    if (!id) continue;
    if (*id >= 0 && *id < kNoUnit && used.insert(static_cast<uint32_t>(*id)).second) continue;
    renumber.push_back(u);
  }
  uint32_t next = used.empty() ? 0 : *used.rbegin() + 1;
  for (XmlNode u : renumber) {
    while (next >= kNoUnit || used.count(next))
      next = next >= kNoUnit ? 0 : next + 1;
    used.insert(next);
    u.SetAttribute("id", std::to_string(next));
  }
}

// The unit store needs `units` and the notes need their `note`; a document that lacks them
// (not written by the program) gets them, so that nothing added later is silently dropped.
void EnsureScenarioParts(XmlDocument& doc)
{
  XmlNode root = doc.Root();
  root.EnsureChild("units");
  if (!ScenarioNoteElement(doc)) {
    XmlNode note = root.EnsureChild("notes").AppendChild("note");
    note.AppendAttribute("timestamp", "0.0");
    note.AppendAttribute("revision", "0.0");
  }
}

} // namespace

int DetectScenarioVersion(const TextLines& lines)
{
  const KeyValueList list(lines);
  if (const int i = list.IndexOfName("VersionSave"); i >= 0)
    return StrToInt(KeyValueList::ValueOf(lines[static_cast<size_t>(i)]));
  const std::string text = JoinLines(lines);
  if (LooksLikeXml(text)) {
    // Only XML begins with "<"; damaged XML is an error, not an empty legacy scenario.
    XmlDocument doc;
    ParseScenarioXml(doc, text);
    const int v = StrToIntDef(doc.Root().AttributeText("versionsave"), 0);
    if (v <= 0)
      throw EXmlError("The scenario is damaged: its root element carries no format version "
                      "(versionsave)");
    return v;
  }
  const bool allNumeric = std::all_of(lines.begin(), lines.end(), IsNumericLine);
  return allNumeric ? 1 : 0;
}

ScenarioConversion ConvertScenarioLines(TextLines& lines, XmlDocument& doc,
                                        std::string_view programVersion)
{
  const int version = DetectScenarioVersion(lines);
  if (version > kScenarioVersion) throw EScenarioTooNew(version);

  XmlDocument tmp;
  if (version == kScenarioVersion) {
    ParseScenarioXml(tmp, JoinLines(lines));
    SetSingleAttribute(tmp.Root(), "versionprog", programVersion);
  } else {
    // Each step feeds the next, from the file's version up; a negative version starts at 0.
    int v = std::max(version, 0);
    if (v == 0) lines = Step0To1(lines, programVersion), v = 1;
    if (v == 1) lines = Step1To2(lines, programVersion), v = 2;
    if (v == 2) lines = StepHeader(lines, 3, programVersion), v = 3;
    if (v == 3) lines = Step3To4(lines, programVersion), v = 4;
    if (v == 4) lines = StepHeader(lines, 5, programVersion), v = 5;
    if (v == 5) {
      Step5To6(lines, tmp, programVersion);
      lines = SplitLines(tmp.SaveToText());
    }
    ParseScenarioXml(tmp, JoinLines(lines));
    SetSingleAttribute(tmp.Root(), "versionsave", std::to_string(kScenarioVersion));
    SetSingleAttribute(tmp.Root(), "versionprog", programVersion);
  }
  EnsureScenarioParts(tmp);
  RenumberUnusableIds(tmp.Root().ChildByName("units"));

  doc.LoadFromText(tmp.SaveToText());
  return {version,
          "in: v." + std::to_string(version) + " out: v." + std::to_string(kScenarioVersion)};
}

QString TfrmUnit1::VersionSaveConvert(TextLines& stlScenIn, XmlDocument& xmlScenIn)
{
  const ScenarioConversion r =
      ConvertScenarioLines(stlScenIn, xmlScenIn, GetVersion().toStdString());
  return QString::fromStdString(r.resultText);
}

void TfrmUnit1::SetScenTime(TDateTime dtScen)
{
  SetScenarioStartTime(host_.ScenarioDocument(), dtScen);
}

} // namespace vtr
