#include "base/Convert.h"
#include "scenario/ScenarioDocument.h"
#include "scenario/UnitStore.h"

#include <gtest/gtest.h>

using namespace vtr;

namespace {

class Host : public IUnitStoreHost
{
public:
  XmlDocument doc;
  uint32_t counter = 0;
  int8_t hdgArrow = 1;
  XmlDocument& ScenarioDocument() override { return doc; }
  uint32_t UnitCounter() const override { return counter; }
  int8_t HdgArrowDefault() const override { return hdgArrow; }
};

class UnitStore : public ::testing::Test
{
protected:
  void SetUp() override
  {
    BuildEmptyScenario(host.doc, "1.2.0.15");
    store.OnShowScenarioOptions = [this] { ++dialogShown; };
  }

  // Adds a unit the way the map view does: UnitAdd, then raise the counter.
  uint32_t Add(const char* name = "Alpha", const char* lat = "51.5", const char* lon = "-0.5")
  {
    const uint32_t id = host.counter;
    store.UnitAdd("uSurface", QString::fromUtf8(name), lat, lon);
    ++host.counter;
    return id;
  }

  Host host;
  TfrmUnit1 store{host};
  int dialogShown = 0;
};

} // namespace

TEST_F(UnitStore, NewUnitElementLayout)
{
  host.counter = 3;
  Add();
  host.doc.SetReadable(true);
  const std::string text = host.doc.SaveToText();
  const std::string expected =
      "\t\t<unit id=\"3\" timecreate=\"0.0\" timecurrent=\"0.0\">\r\n"
      "\t\t\t<status timestamp=\"0.0\" revision=\"0.0\">\r\n"
      "\t\t\t\t<objtype>uSurface</objtype>\r\n"
      "\t\t\t\t<name>Alpha</name>\r\n"
      "\t\t\t\t<class/>\r\n"
      "\t\t\t\t<lat>51.5</lat>\r\n"
      "\t\t\t\t<lon>-.5</lon>\r\n"
      "\t\t\t\t<alt>0</alt>\r\n"
      "\t\t\t\t<hdg>0</hdg>\r\n"
      "\t\t\t\t<speed>0</speed>\r\n"
      "\t\t\t\t<hdgarrow>1</hdgarrow>\r\n"
      "\t\t\t\t<sensors>\r\n"
      "\t\t\t\t\t<sensor type=\"ASR\">\r\n"
      "\t\t\t\t\t\t<d/>\r\n"
      "\t\t\t\t\t\t<e/>\r\n"
      "\t\t\t\t\t</sensor>\r\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
  EXPECT_NE(text.find("<sensor type=\"Oth\">"), std::string::npos);
  EXPECT_NE(text.find("\t\t\t\t<notes/>\r\n\t\t\t</status>"), std::string::npos);
  EXPECT_EQ(host.counter, 4u);
}

TEST_F(UnitStore, DialogComesUpFromTheSecondUnitOn)
{
  Add();
  EXPECT_EQ(dialogShown, 0);
  Add();
  EXPECT_EQ(dialogShown, 1);
}

TEST_F(UnitStore, NumberItemsAreStoredAsNumberText)
{
  const uint32_t id = Add();
  store.UnitLat(id, "51.123456789");
  EXPECT_EQ(store.GetUnit(id, "Lat", 0), "51.1235");
  store.UnitLon(id, "-0.5");
  EXPECT_EQ(store.GetUnit(id, "Lon", 0), "-.5");
  store.UnitHdg(id, "90");
  EXPECT_EQ(store.GetUnit(id, "Hdg", 0), "90");
  store.UnitAlt(id, " -20");
  EXPECT_EQ(store.GetUnit(id, "Alt", 0), "-20");
  store.UnitSpeed(id, "+12");
  EXPECT_EQ(store.GetUnit(id, "Speed", 0), "12");
}

TEST_F(UnitStore, BadNumberTextFailsAndLeavesTheOldValue)
{
  const uint32_t id = Add();
  store.UnitHdg(id, "45");
  const struct
  {
    void (TfrmUnit1::*set)(uint32_t, const QString&);
    const char* item;
    const char* text;
    const char* message;
  } cases[] = {
      {&TfrmUnit1::UnitHdg, "Hdg", "90.0", "'90.0' is not a valid integer value"},
      {&TfrmUnit1::UnitSpeed, "Speed", "12.5", "'12.5' is not a valid integer value"},
      {&TfrmUnit1::UnitAlt, "Alt", "", "'' is not a valid integer value"},
      {&TfrmUnit1::UnitLat, "Lat", "abc", "'abc' is not a valid floating point value"},
      {&TfrmUnit1::UnitLon, "Lon", "1,5", "'1,5' is not a valid floating point value"},
  };
  for (const auto& c : cases) {
    const QString before = store.GetUnit(id, c.item, 0);
    try {
      (store.*c.set)(id, c.text);
      ADD_FAILURE() << c.item << " accepted " << c.text;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(store.GetUnit(id, c.item, 0), before) << c.item;
  }
  EXPECT_THROW(store.UnitAdd("uAir", "x", "north", "0"), EConvertError);
  EXPECT_EQ(host.doc.Root().ChildByName("units").ChildCount(), 1);
}

TEST_F(UnitStore, SensorMarks)
{
  const uint32_t id = Add();
  EXPECT_EQ(store.GetUnitSens(id, "dASR"), cbUnchecked);
  store.UnitSensor(id, "eASR", cbGrayed);
  EXPECT_EQ(store.GetUnit(id, "eASR", 0), "2");
  EXPECT_EQ(store.GetUnitSens(id, "eASR"), cbGrayed);
  EXPECT_EQ(store.GetUnitSens(id, "dASR"), cbUnchecked);
  store.UnitSensor(id, "dOth", cbChecked);
  EXPECT_EQ(store.GetUnitSens(id, "dOth"), cbChecked);
  store.UnitSensor(id, "dMAD", 7); // out of range is stored as "0"
  EXPECT_EQ(store.GetUnit(id, "dMAD", 0), "0");
  // The sensor type compares with case; an unknown one changes nothing.
  store.UnitSensor(id, "dasr", cbChecked);
  EXPECT_EQ(store.GetUnitSens(id, "dASR"), cbUnchecked);
}

TEST_F(UnitStore, HeadingArrowMarkAndTheGlobalDefault)
{
  const uint32_t id = Add();
  EXPECT_EQ(store.GetUnit(id, "HdgArrow", 0), "1");
  const struct
  {
    const char* stored;
    int8_t global;
    TCheckBoxState expected;
  } cases[] = {
      {"", 1, cbChecked},    {"", 0, cbUnchecked},   {"junk", 1, cbChecked},
      {"0", 1, cbUnchecked}, {"2", 0, cbGrayed},     {"1", 0, cbChecked},
  };
  XmlNode mark = store.FindUnit(id).ChildByName("status").ChildByName("hdgarrow");
  for (const auto& c : cases) {
    mark.SetText(c.stored);
    host.hdgArrow = c.global;
    EXPECT_EQ(store.GetUnitHdgArrow(id), c.expected) << c.stored << " " << int(c.global);
  }
  store.UnitHdgArrow(id, cbGrayed);
  EXPECT_EQ(store.GetUnit(id, "hdgarrow", 0), "2");
  host.hdgArrow = 0;
  Add();
  EXPECT_EQ(store.GetUnit(id + 1, "HdgArrow", 0), "0");
}

TEST_F(UnitStore, ItemNamesAndCase)
{
  const uint32_t id = Add("Ärger & <Co>");
  EXPECT_EQ(store.GetUnit(id, "NAME", 0), QString::fromUtf8("Ärger & <Co>"));
  EXPECT_EQ(store.GetUnit(id, "name", 0), QString::fromUtf8("Ärger & <Co>"));
  // A capital D does not select a sensor, and status has no child of that name.
  EXPECT_EQ(store.GetUnit(id, "DASR", 0), "");
  EXPECT_EQ(store.GetUnit(id, "Nothing", 0), "");
  EXPECT_EQ(store.GetUnit(id, "", 0), "");
  store.UnitName(id, "Bravo");
  store.UnitNotes(id, "\"line one\",two");
  EXPECT_EQ(store.GetUnit(id, "Name", 0), "Bravo");
  EXPECT_EQ(store.GetUnit(id, "Notes", 0), "\"line one\",two");
}

TEST_F(UnitStore, UnknownIdentifiersAndMissingElements)
{
  const uint32_t id = Add();
  const uint32_t other = id + 100;
  store.UnitName(other, "ghost");
  store.UnitSensor(other, "dASR", cbChecked);
  EXPECT_EQ(store.GetUnit(other, "Name", 0), "");
  EXPECT_EQ(store.GetUnitSens(other, "dASR"), cbUnchecked);
  EXPECT_EQ(store.GetUnitHdgArrow(other), cbChecked);
  EXPECT_EQ(store.GetUnit(id, "Name", 0), "Alpha");

  // A unit whose status lacks sensors behaves like an unknown one for the sensor items.
  XmlNode status = store.FindUnit(id).ChildByName("status");
  status.RemoveChild(status.ChildByName("sensors"));
  store.UnitSensor(id, "dASR", cbChecked);
  EXPECT_EQ(store.GetUnit(id, "dASR", 0), "");
}

TEST_F(UnitStore, IdentifierMatchesAll32Bits)
{
  XmlNode units = host.doc.Root().ChildByName("units");
  const char* ids[] = {"4294967296", "-1", "4294967295", "12"};
  for (const char* id : ids) {
    XmlNode u = units.AppendChild("unit");
    u.AppendAttribute("id", id);
    u.AppendChild("status").AppendChild("name").SetText(id);
  }
  // 2^32 has the same lower 32 bits as 0 but is not unit 0.
  EXPECT_EQ(store.GetUnit(0, "Name", 0), "");
  EXPECT_EQ(store.GetUnit(kNoUnit, "Name", 0), "4294967295");
  EXPECT_EQ(store.GetUnit(12, "Name", 0), "12");
}

TEST_F(UnitStore, DamagedIdentifierStopsTheLookup)
{
  XmlNode u = host.doc.Root().ChildByName("units").AppendChild("unit");
  u.AppendAttribute("id", "x1");
  EXPECT_THROW(store.GetUnit(1, "Name", 0), EConvertError);
}

TEST(FindChildByAttribute, NameAndValueWithCaseAttributeNameWithout)
{
  XmlDocument doc;
  doc.LoadFromText("<r><Sensor type=\"ASR\"/><sensor TYPE=\"asr\"/><sensor Type=\"ASR\"/>"
                   "<sensor/></r>");
  XmlNode r = doc.Root();
  EXPECT_EQ(FindChildByAttribute(r, "sensor", "type", "ASR"), r.Child(2));
  EXPECT_EQ(FindChildByAttribute(r, "sensor", "type", "asr"), r.Child(1));
  EXPECT_EQ(FindChildByAttribute(r, "sensor", "type", ""), r.Child(3));
  EXPECT_FALSE(FindChildByAttribute(r, "sensor", "type", "SSR"));
}
