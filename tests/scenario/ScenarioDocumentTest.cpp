#include "scenario/ScenarioDocument.h"
#include "scenario/UnitStore.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

class DocumentHost : public IUnitStoreHost
{
public:
  XmlDocument doc;
  XmlDocument& ScenarioDocument() override { return doc; }
  uint32_t UnitCounter() const override { return 0; }
  int8_t HdgArrowDefault() const override { return 1; }
};

TEST(EmptyScenario, IsTheVersion7LayoutInReadableForm)
{
  XmlDocument doc;
  doc.LoadFromText("<old><units><unit id=\"1\"/></units></old>");
  BuildEmptyScenario(doc, "1.2.0.15");
  doc.SetReadable(true);
  EXPECT_EQ(doc.SaveToText(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                              "<QV27Scenario versionsave=\"7\" versionprog=\"1.2.0.15\">\r\n"
                              "\t<notes>\r\n"
                              "\t\t<note timestamp=\"0.0\" revision=\"0.0\"/>\r\n"
                              "\t</notes>\r\n"
                              "\t<units/>\r\n"
                              "\t<timestamps>\r\n"
                              "\t\t<timestamp name=\"start\">0</timestamp>\r\n"
                              "\t\t<timestamp name=\"current\">0</timestamp>\r\n"
                              "\t</timestamps>\r\n"
                              "</QV27Scenario>\r\n");
  EXPECT_TRUE(ScenarioNoteElement(doc));
}

TEST(ScenarioNote, IsTheFirstNoteStampedZero)
{
  XmlDocument doc;
  doc.LoadFromText("<s><NOTES><note timestamp=\"1.0\">later</note><Note timestamp=\"0.0\">case"
                   "</Note><note timestamp=\"0.0\">this</note><note timestamp=\"0.0\">not</note>"
                   "</NOTES></s>");
  EXPECT_EQ(ScenarioNoteElement(doc).Text(), "this");
  doc.LoadFromText("<s><notes/></s>");
  EXPECT_FALSE(ScenarioNoteElement(doc));
}

TEST(SetScenTime, StoresTheStartTimeInNumberText)
{
  DocumentHost host;
  BuildEmptyScenario(host.doc, "1");
  TfrmUnit1 store(host);
  DateTimeFields f;
  f.year = 2013, f.month = 12, f.day = 26, f.hour = 20, f.minute = 47;
  store.SetScenTime(EncodeDateTime(f));

  XmlNode stamps = host.doc.Root().ChildByName("timestamps");
  ASSERT_EQ(stamps.ChildCount(), 2);
  EXPECT_EQ(stamps.Child(0).AttributeText("name"), "start");
  EXPECT_EQ(stamps.Child(0).Text(), "41634.9");
  EXPECT_EQ(stamps.Child(1).AttributeText("name"), "current");
  EXPECT_EQ(stamps.Child(1).Text(), "0");

  store.SetScenTime(0.5);
  EXPECT_EQ(stamps.Child(0).Text(), ".5");
  EXPECT_EQ(stamps.ChildCount(), 2);
}

TEST(SetScenTime, CreatesTheStartTimestampWhereItIsMissing)
{
  struct Case
  {
    const char* what;
    const char* doc;
    const char* after; // the document written compactly afterwards
  };
  const Case cases[] = {
      {"no timestamps", "<QV27Scenario><units/></QV27Scenario>",
       "<QV27Scenario><units/><timestamps><timestamp name=\"start\">2</timestamp></timestamps>"
       "</QV27Scenario>"},
      {"only current",
       "<QV27Scenario><timestamps><timestamp name=\"current\">0</timestamp></timestamps>"
       "</QV27Scenario>",
       "<QV27Scenario><timestamps><timestamp name=\"start\">2</timestamp><timestamp "
       "name=\"current\">0</timestamp></timestamps></QV27Scenario>"},
      {"other letter case is the same element",
       "<QV27Scenario><TimeStamps><TIMESTAMP NAME=\"Start\">9</TIMESTAMP></TimeStamps>"
       "</QV27Scenario>",
       "<QV27Scenario><TimeStamps><TIMESTAMP NAME=\"Start\">2</TIMESTAMP></TimeStamps>"
       "</QV27Scenario>"},
      {"the first start wins",
       "<QV27Scenario><timestamps><timestamp name=\"start\">1</timestamp><timestamp "
       "name=\"start\">1</timestamp></timestamps></QV27Scenario>",
       "<QV27Scenario><timestamps><timestamp name=\"start\">2</timestamp><timestamp "
       "name=\"start\">1</timestamp></timestamps></QV27Scenario>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DocumentHost host;
    host.doc.LoadFromText(c.doc);
    TfrmUnit1 store(host);
    store.SetScenTime(2.0);
    EXPECT_EQ(host.doc.SaveToText(), c.after);
  }

  DocumentHost empty;
  TfrmUnit1 store(empty);
  store.SetScenTime(2.0); // no root: nothing to store it in
  EXPECT_FALSE(empty.doc.Root());
}

} // namespace
} // namespace vtr
