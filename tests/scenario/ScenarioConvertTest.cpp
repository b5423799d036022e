#include "scenario/ScenarioConvert.h"

#include "app/Version.h"
#include "base/Convert.h"
#include "scenario/ScenarioDocument.h"
#include "scenario/UnitStore.h"

#include <gtest/gtest.h>

#include <regex>

namespace vtr {
namespace {

constexpr const char* kProg = "9.8.7.6";

struct Converted
{
  ScenarioConversion result;
  XmlDocument doc;
};

// Runs the conversion on a fresh document.
void Convert(TextLines lines, Converted& out)
{
  out.result = ConvertScenarioLines(lines, out.doc, kProg);
}

XmlNode Units(const XmlDocument& doc)
{
  return doc.Root().ChildByName("units");
}
XmlNode Status(const XmlDocument& doc, int unit)
{
  return Units(doc).Child(unit).ChildByName("status");
}
std::string Item(const XmlDocument& doc, int unit, const char* item)
{
  return Status(doc, unit).ChildText(item, "<missing>");
}
std::string Mark(const XmlDocument& doc, int unit, char kind, const char* type)
{
  XmlNode s =
      FindChildByAttribute(Status(doc, unit).ChildByName("sensors"), "sensor", "type", type);
  return s ? s.ChildText(std::string(1, kind), "<missing>") : "<no sensor>";
}
std::vector<std::string> ChildNames(XmlNode n)
{
  std::vector<std::string> out;
  for (int i = 0; i < n.ChildCount(); ++i)
    out.push_back(n.Child(i).Name());
  return out;
}

const char* const kVersion7 =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    "<QV27Scenario versionsave=\"7\" versionprog=\"1.0.0.1\">\r\n"
    "\t<notes>\r\n"
    "\t\t<note timestamp=\"0.0\" revision=\"0.0\">Plan,B</note>\r\n"
    "\t</notes>\r\n"
    "\t<units>\r\n"
    "\t\t<unit id=\"12\" timecreate=\"0.0\" timecurrent=\"0.0\" x=\"y\">\r\n"
    "\t\t\t<status timestamp=\"0.0\" revision=\"0.0\">\r\n"
    "\t\t\t\t<objtype>uAir</objtype>\r\n"
    "\t\t\t\t<name>Ålesund &amp; co</name>\r\n"
    "\t\t\t\t<lat>51.1235</lat>\r\n"
    "\t\t\t\t<future>kept</future>\r\n"
    "\t\t\t</status>\r\n"
    "\t\t</unit>\r\n"
    "\t</units>\r\n"
    "\t<timestamps>\r\n"
    "\t\t<timestamp name=\"start\">41634.9</timestamp>\r\n"
    "\t\t<timestamp name=\"current\">0</timestamp>\r\n"
    "\t</timestamps>\r\n"
    "\t<unknown a=\"1\"/>\r\n"
    "</QV27Scenario>\r\n";

TEST(VersionSaveConvert, Version7IsUnchangedButForTheProgramVersion)
{
  Converted c;
  Convert(SplitLines(kVersion7), c);
  EXPECT_EQ(c.result.resultText, "in: v.7 out: v.7");
  EXPECT_EQ(c.result.versionIn, 7);
  c.doc.SetReadable(true);
  const std::string expected = std::regex_replace(kVersion7, std::regex("versionprog=\"1.0.0.1\""),
                                                  "versionprog=\"9.8.7.6\"");
  EXPECT_EQ(c.doc.SaveToText(), expected);
}

TEST(VersionSaveConvert, Version6BecomesVersion7WithOneAttributeOfEach)
{
  const char* v6 = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                   "<QV27Scenario VersionSave=\"6\" other=\"o\" versionsave=\"6\">"
                   "<notes><note timestamp=\"0.0\" revision=\"0\">N</note></notes>"
                   "<units><unit id=\"4\"><status><name>S</name></status></unit></units>"
                   "</QV27Scenario>";
  Converted c;
  Convert(SplitLines(v6), c);
  EXPECT_EQ(c.result.resultText, "in: v.6 out: v.7");
  XmlNode root = c.doc.Root();
  ASSERT_EQ(root.AttributeCount(), 3);
  EXPECT_EQ(root.AttributeText("versionsave"), "7");
  EXPECT_EQ(root.AttributeText("versionprog"), kProg);
  EXPECT_EQ(root.AttributeText("other"), "o");
  EXPECT_EQ(Item(c.doc, 0, "name"), "S");

  // Saved and loaded again it is version 7.
  Converted again;
  Convert(SplitLines(c.doc.SaveToText()), again);
  EXPECT_EQ(again.result.resultText, "in: v.7 out: v.7");
  EXPECT_EQ(again.doc.SaveToText(), c.doc.SaveToText());
}

TEST(VersionSaveConvert, Version5TextBecomesTheDocument)
{
  Converted c;
  Convert({"VersionSave=5", "VersionProg=1.0.0.1",
           "000000000002=ObjType=uAir,Name=A1,Lat=10.5,Lon=20.25,Alt=0,Hdg=90,Speed=300,dASR=1,"
           "eASR=0",
           "Notes=Brief"},
          c);
  EXPECT_EQ(c.result.resultText, "in: v.5 out: v.7");
  XmlNode root = c.doc.Root();
  EXPECT_EQ(root.Name(), "QV27Scenario");
  EXPECT_EQ(root.AttributeText("versionsave"), "7");
  EXPECT_EQ(root.AttributeText("versionprog"), kProg);
  EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"timestamps", "notes", "units"}));
  XmlNode note = ScenarioNoteElement(c.doc);
  EXPECT_EQ(note.Text(), "Brief");
  EXPECT_EQ(note.AttributeText("revision"), "0");

  ASSERT_EQ(Units(c.doc).ChildCount(), 1);
  XmlNode unit = Units(c.doc).Child(0);
  EXPECT_EQ(unit.AttributeText("id"), "2");
  EXPECT_EQ(unit.AttributeText("timecreate"), "0.0");
  EXPECT_EQ(Status(c.doc, 0).AttributeText("revision"), "0");
  EXPECT_EQ(ChildNames(Status(c.doc, 0)),
            (std::vector<std::string>{"objtype", "name", "class", "lat", "lon", "alt", "hdg",
                                      "speed", "notes", "hdgarrow", "sensors"}));
  EXPECT_EQ(Item(c.doc, 0, "objtype"), "uAir");
  EXPECT_EQ(Item(c.doc, 0, "name"), "A1");
  EXPECT_EQ(Item(c.doc, 0, "lat"), "10.5");
  EXPECT_EQ(Item(c.doc, 0, "lon"), "20.25");
  EXPECT_EQ(Item(c.doc, 0, "speed"), "300");
  EXPECT_EQ(Item(c.doc, 0, "class"), "");
  EXPECT_EQ(Item(c.doc, 0, "hdgarrow"), "");
  EXPECT_EQ(Mark(c.doc, 0, 'd', "ASR"), "1");
  EXPECT_EQ(Mark(c.doc, 0, 'e', "ASR"), "0");
  for (const char* type : kSensorTypes) {
    if (std::string(type) == "ASR") continue;
    EXPECT_EQ(Mark(c.doc, 0, 'd', type), "") << type;
    EXPECT_EQ(Mark(c.doc, 0, 'e', type), "") << type;
  }
  XmlNode stamps = root.ChildByName("timestamps");
  EXPECT_EQ(FindChildByAttribute(stamps, "timestamp", "name", "start").Text(), "0");
  EXPECT_EQ(FindChildByAttribute(stamps, "timestamp", "name", "current").Text(), "0");
}

TEST(VersionSaveConvert, Version1RadarMarkBecomesAsrAndSsr)
{
  Converted c;
  Convert({"7=Name=R1,dRad=1,eRad=2"}, c);
  EXPECT_EQ(c.result.resultText, "in: v.1 out: v.7");
  ASSERT_EQ(Units(c.doc).ChildCount(), 1);
  // The id is the line's index behind the two header lines.
  EXPECT_EQ(Units(c.doc).Child(0).AttributeText("id"), "2");
  EXPECT_EQ(Item(c.doc, 0, "name"), "R1");
  for (const char* type : {"ASR", "SSR"}) {
    EXPECT_EQ(Mark(c.doc, 0, 'd', type), "1") << type;
    EXPECT_EQ(Mark(c.doc, 0, 'e', type), "2") << type;
  }
  EXPECT_EQ(Mark(c.doc, 0, 'd', "AS"), "");
}

TEST(VersionSaveConvert, Version1UnitWithoutFullRadarMarksIsKept)
{
  Converted c;
  Convert({"1=Name=NoE,dRad=1", "2=Name=NoRadar,Speed=5"}, c);
  ASSERT_EQ(Units(c.doc).ChildCount(), 2);
  EXPECT_EQ(Mark(c.doc, 0, 'd', "SSR"), "1");
  EXPECT_EQ(Mark(c.doc, 0, 'e', "ASR"), "");
  EXPECT_EQ(Mark(c.doc, 0, 'e', "SSR"), "");
  EXPECT_EQ(Item(c.doc, 1, "name"), "NoRadar");
  EXPECT_EQ(Item(c.doc, 1, "speed"), "5");
  EXPECT_EQ(Mark(c.doc, 1, 'd', "ASR"), "");
}

TEST(VersionSaveConvert, Version0NotesOverSeveralLinesAreJoined)
{
  Converted c;
  Convert({"5=Name=X,dRad=1,eRad=0,\"Notes=first", "second", "third\""}, c);
  EXPECT_EQ(c.result.resultText, "in: v.0 out: v.7");
  ASSERT_EQ(Units(c.doc).ChildCount(), 1);
  EXPECT_EQ(Units(c.doc).Child(0).AttributeText("id"), "2");
  EXPECT_EQ(Item(c.doc, 0, "notes"), "first,second,third");
  EXPECT_EQ(Item(c.doc, 0, "name"), "X");
  EXPECT_EQ(Mark(c.doc, 0, 'd', "ASR"), "1");
  EXPECT_EQ(Mark(c.doc, 0, 'e', "SSR"), "0");
}

TEST(VersionSaveConvert, Version0UnitsWithAndWithoutContinuations)
{
  Converted c;
  Convert({"stray line before any unit", "3=Name=A,\"Notes=one", "two, with comma\"",
           "4=\"Name=B b\",Notes=single", "9=Name=C,\"Notes=x", "y"},
          c);
  ASSERT_EQ(Units(c.doc).ChildCount(), 3);
  EXPECT_EQ(Units(c.doc).Child(0).AttributeText("id"), "2");
  EXPECT_EQ(Units(c.doc).Child(1).AttributeText("id"), "3");
  EXPECT_EQ(Units(c.doc).Child(2).AttributeText("id"), "4");
  EXPECT_EQ(FromCommaText(Item(c.doc, 0, "notes")), (TextLines{"one", "two, with comma"}));
  EXPECT_EQ(Item(c.doc, 1, "name"), "B b");
  EXPECT_EQ(Item(c.doc, 1, "notes"), "single");
  // The last unit's notes end without a closing quote: the last line still ends them.
  EXPECT_EQ(Item(c.doc, 2, "notes"), "x,y");
}

TEST(VersionSaveConvert, TextVersionsTwoToFourKeepOrRenumberIds)
{
  struct Case
  {
    const char* version;
    std::vector<std::string> ids;
  };
  const Case cases[] = {{"2", {"2", "3"}}, {"3", {"2", "3"}}, {"4", {"5", "9"}}};
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.version);
    const bool padded = std::string(tc.version) == "4";
    Converted c;
    Convert({std::string("VersionSave=") + tc.version, "VersionProg=1.0.0.0",
             std::string(padded ? "000000000005" : "5") + "=Name=A,dASR=1,eSSR=2,Lat=1.50",
             std::string(padded ? "000000000009" : "9") + "=Name=B", "Notes=n"},
            c);
    EXPECT_EQ(c.result.resultText, std::string("in: v.") + tc.version + " out: v.7");
    ASSERT_EQ(Units(c.doc).ChildCount(), 2);
    EXPECT_EQ(Units(c.doc).Child(0).AttributeText("id"), tc.ids[0]);
    EXPECT_EQ(Units(c.doc).Child(1).AttributeText("id"), tc.ids[1]);
    EXPECT_EQ(Item(c.doc, 0, "lat"), "1.50"); // copied, not reformatted
    EXPECT_EQ(Mark(c.doc, 0, 'd', "ASR"), "1");
    EXPECT_EQ(Mark(c.doc, 0, 'e', "SSR"), "2");
    EXPECT_EQ(ScenarioNoteElement(c.doc).Text(), "n");
  }
}

TEST(VersionSaveConvert, NewerVersionIsRefusedAndTheDocumentKept)
{
  for (const auto& lines :
       {TextLines{"VersionSave=8", "1=Name=A"},
        TextLines{"<?xml version=\"1.0\"?>", "<QV27Scenario versionsave=\"8\"/>"}}) {
    Converted c;
    BuildEmptyScenario(c.doc, "kept");
    const std::string before = c.doc.SaveToText();
    TextLines in = lines;
    try {
      ConvertScenarioLines(in, c.doc, kProg);
      FAIL() << "converted a version-8 file";
    } catch (const EScenarioTooNew& e) {
      EXPECT_EQ(e.Version(), 8);
      EXPECT_STREQ(e.what(), "Scenario Version is 8\r\n This program release can only read "
                             "through Version 7\r\nExiting Program...");
    }
    EXPECT_EQ(c.doc.SaveToText(), before);
  }
}

TEST(VersionSaveConvert, EmptyFileIsAnEmptyScenario)
{
  Converted c;
  Convert({}, c);
  EXPECT_EQ(c.result.resultText, "in: v.1 out: v.7");
  EXPECT_EQ(Units(c.doc).ChildCount(), 0);
  EXPECT_TRUE(Units(c.doc));
  EXPECT_TRUE(ScenarioNoteElement(c.doc));
  EXPECT_EQ(c.doc.Root().AttributeText("versionsave"), "7");
  EXPECT_TRUE(
      FindChildByAttribute(c.doc.Root().ChildByName("timestamps"), "timestamp", "name", "start"));
}

TEST(VersionSaveConvert, DamagedInputStopsWithAClearErrorAndKeepsTheDocument)
{
  struct Case
  {
    const char* what;
    TextLines lines;
    const char* message; // part of the error text
  };
  std::string truncated = kVersion7;
  truncated.resize(truncated.size() / 2);
  const Case cases[] = {
      {"version not an integer",
       {"VersionSave=abc", "1=Name=A"},
       "'abc' is not a valid integer value"},
      {"empty version", {"VersionSave=", "1=Name=A"}, "'' is not a valid integer value"},
      {"unit name not an integer",
       {"VersionSave=5", "1.5=Name=A"},
       "'1.5' is not a valid integer value"},
      {"truncated XML", SplitLines(truncated), "The scenario is damaged: XML error"},
      {"XML without version", {"<QV27Scenario><units/></QV27Scenario>"}, "versionsave"},
      {"version 7 line over text", {"VersionSave=7", "1=Name=A"}, "The scenario is damaged"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    Converted c;
    BuildEmptyScenario(c.doc, "kept");
    const std::string before = c.doc.SaveToText();
    TextLines in = tc.lines;
    try {
      ConvertScenarioLines(in, c.doc, kProg);
      FAIL() << "converted damaged input";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(tc.message), std::string::npos) << e.what();
    }
    EXPECT_EQ(c.doc.SaveToText(), before);
  }
}

TEST(VersionSaveConvert, DocumentLackingUnitsOrNoteGetsThem)
{
  Converted c;
  Convert({"<QV27Scenario versionsave=\"7\"><notes><note timestamp=\"1.0\">old</note></notes>"
           "</QV27Scenario>"},
          c);
  EXPECT_TRUE(Units(c.doc));
  ASSERT_TRUE(ScenarioNoteElement(c.doc));
  EXPECT_EQ(ScenarioNoteElement(c.doc).Text(), "");
  EXPECT_EQ(ChildNames(c.doc.Root().ChildByName("notes")),
            (std::vector<std::string>{"note", "note"}));
  EXPECT_EQ(c.doc.Root().ChildByName("notes").Child(0).Text(), "old");
}

TEST(VersionSaveConvert, ClashingIdsGetFreshOnes)
{
  const char* v7 = "<QV27Scenario versionsave=\"7\"><units>"
                   "<unit id=\"3\"/><unit id=\"3\"/><unit id=\"5\"/><unit id=\"4294967295\"/>"
                   "<unit id=\"-1\"/><unit id=\"+5\"/><unit id=\"x\"/><unit id=\"0\"/>"
                   "</units></QV27Scenario>";
  Converted c;
  Convert(SplitLines(v7), c);
  std::vector<std::string> ids;
  for (int i = 0; i < Units(c.doc).ChildCount(); ++i)
    ids.push_back(Units(c.doc).Child(i).AttributeText("id"));
  // "x" is no integer: it is left for the load to report.
  EXPECT_EQ(ids, (std::vector<std::string>{"3", "6", "5", "7", "8", "9", "x", "0"}));
}

TEST(VersionSaveConvert, RunsOnTheUnitStoreWithTheProgramVersion)
{
  struct Host : IUnitStoreHost
  {
    XmlDocument doc;
    XmlDocument& ScenarioDocument() override { return doc; }
    uint32_t UnitCounter() const override { return 0; }
    int8_t HdgArrowDefault() const override { return 1; }
  } host;
  TfrmUnit1 store(host);
  TextLines lines{"VersionSave=4", "VersionProg=1", "000000000003=Name=Q"};
  EXPECT_EQ(store.VersionSaveConvert(lines, host.doc), QStringLiteral("in: v.4 out: v.7"));
  EXPECT_EQ(host.doc.Root().AttributeText("versionprog"), GetVersion().toStdString());
  EXPECT_EQ(store.GetUnit(3, QStringLiteral("Name")), QStringLiteral("Q"));
}

} // namespace
} // namespace vtr
