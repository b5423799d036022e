#include "xml/XmlDocument.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace vtr;

namespace {

// A small document with every kind of element the readable form distinguishes.
void BuildSample(XmlDocument& doc)
{
  doc.CreateEmpty("Root");
  doc.SetReadable(true);
  XmlNode root = doc.Root();
  root.AppendAttribute("versionsave", "7");
  XmlNode notes = root.AppendChild("notes");
  XmlNode note = notes.AppendChild("note");
  note.AppendAttribute("timestamp", "0.0");
  note.SetText("a & b <c>");
  root.AppendChild("units");
  XmlNode t = root.AppendChild("timestamps").AppendChild("timestamp");
  t.AppendAttribute("name", "say \"start\"");
  t.SetTextFloat(41634.8665);
}

} // namespace

TEST(XmlDocument, ReadableFormBytes)
{
  XmlDocument doc;
  BuildSample(doc);
  EXPECT_EQ(doc.SaveToText(),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
            "<Root versionsave=\"7\">\r\n"
            "\t<notes>\r\n"
            "\t\t<note timestamp=\"0.0\">a &amp; b &lt;c&gt;</note>\r\n"
            "\t</notes>\r\n"
            "\t<units/>\r\n"
            "\t<timestamps>\r\n"
            "\t\t<timestamp name=\"say &quot;start&quot;\">41634.9</timestamp>\r\n"
            "\t</timestamps>\r\n"
            "</Root>\r\n");
}

TEST(XmlDocument, FileIsUtf8WithoutBomAndReadsBackEqual)
{
  XmlDocument doc;
  BuildSample(doc);
  doc.Root().ChildByName("units").AppendChild("unit").SetText("Zürich – 日本");
  QTemporaryDir dir;
  const std::string path = (dir.path() + "/s.vtrsc").toStdString();
  doc.SaveToFile(path);

  QFile f(QString::fromStdString(path));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith("<?xml"));
  EXPECT_TRUE(bytes.contains("Zürich – 日本"));
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path + ".part")));

  XmlDocument back;
  back.SetReadable(true);
  back.LoadFromText(bytes.toStdString());
  EXPECT_TRUE(back.HasDeclaration());
  EXPECT_EQ(back.SaveToText(), doc.SaveToText());
  // Whitespace between elements is layout, not content; blanks alone as a text are content.
  EXPECT_EQ(back.Root().ChildByName("units").Text(), "");
  back.Root().ChildByName("units").AppendChild("name").SetText(" ");
  XmlDocument again;
  again.LoadFromText(back.SaveToText());
  EXPECT_EQ(again.Root().ChildByName("units").ChildByName("name").Text(), " ");
}

TEST(XmlDocument, LookupsIgnoreCase)
{
  XmlDocument doc;
  doc.LoadFromText("<r><Units ID=\"4\" id=\"5\"><x/></Units><units/></r>");
  XmlNode units = doc.Root().ChildByName("UNITS");
  ASSERT_TRUE(units);
  EXPECT_EQ(units.Name(), "Units");
  EXPECT_EQ(units.AttributeText("id"), "4");
  EXPECT_EQ(units.AttributeText("missing"), "");
  EXPECT_FALSE(units.Attribute("missing").has_value());
  units.SetAttribute("Id", "6");
  EXPECT_EQ(units.AttributeText("ID"), "6");
  EXPECT_EQ(units.AttributeCount(), 2);
  EXPECT_EQ(doc.Root().ChildCount(), 2);
  EXPECT_EQ(doc.Root().Child(1).Name(), "units");
  EXPECT_FALSE(doc.Root().Child(2));
  EXPECT_EQ(units.EnsureChild("X").Name(), "x");
  EXPECT_EQ(units.EnsureChild("y").Name(), "y");
  EXPECT_EQ(units.ChildCount(), 2);
}

TEST(XmlDocument, TextAndAttributesRoundTripEscapes)
{
  XmlDocument doc;
  doc.CreateEmpty("r");
  XmlNode e = doc.Root().AppendChild("e");
  const std::string awkward = "<&>\"' \t\r\nend";
  e.AppendAttribute("a", awkward);
  e.SetText(awkward);
  for (bool readable : {true, false}) {
    doc.SetReadable(readable);
    XmlDocument back;
    back.LoadFromText(doc.SaveToText());
    EXPECT_EQ(back.Root().ChildByName("e").AttributeText("a"), awkward);
    EXPECT_EQ(back.Root().ChildByName("e").Text(), awkward);
  }
}

TEST(XmlDocument, SetTextReplacesAndEmptyTextSelfCloses)
{
  XmlDocument doc;
  doc.CreateEmpty("r");
  doc.SetReadable(true);
  XmlNode e = doc.Root().AppendChild("alt");
  e.SetTextInt(-12);
  e.SetText("7");
  EXPECT_EQ(e.Text(), "7");
  EXPECT_EQ(doc.Root().ChildText("ALT"), "7");
  EXPECT_EQ(doc.Root().ChildText("none", "dflt"), "dflt");
  e.SetText("");
  EXPECT_NE(doc.SaveToText().find("\t<alt/>\r\n"), std::string::npos);
  doc.Root().RemoveChild(e);
  EXPECT_EQ(doc.Root().ChildCount(), 0);
}

TEST(XmlDocument, MixedContentKeepsItsText)
{
  XmlDocument doc;
  doc.SetReadable(true);
  doc.LoadFromText("<r><m>text<c/>tail</m></r>");
  XmlDocument back;
  back.LoadFromText(doc.SaveToText());
  EXPECT_EQ(back.Root().ChildByName("m").Text(), "text");
  EXPECT_TRUE(back.Root().ChildByName("m").ChildByName("c"));
}

TEST(XmlDocument, BadTextIsAClearErrorAndLeavesItEmpty)
{
  XmlDocument doc;
  doc.CreateEmpty("r");
  for (const char* bad : {"", "<r>", "not xml", "<a></b>", "<?xml version=\"1.0\"?>"}) {
    EXPECT_THROW(doc.LoadFromText(bad), EXmlError) << bad;
    EXPECT_FALSE(doc.Root());
  }
}

TEST(XmlDocument, DeepNestingIsWrittenWithoutRecursion)
{
  // Deep enough to overflow the stack of a recursive writer; the readable form indents each
  // level, so it gets a shallower document.
  for (const auto& [depth, readable] : {std::pair{200000, false}, std::pair{4000, true}}) {
    std::string text;
    for (int i = 0; i < depth; ++i)
      text += "<a>";
    for (int i = 0; i < depth; ++i)
      text += "</a>";
    XmlDocument doc;
    doc.LoadFromText(text);
    doc.SetReadable(readable);
    const std::string out = doc.SaveToText();
        const size_t levels = static_cast<size_t>(depth) - 1;
    // Readable: (depth-1)^2 TABs, "<a>" and "</a>" lines, one "<a/>" line. Inline: one "<a/>".
    EXPECT_EQ(out.size(), readable ? levels * levels + 11 * levels + 6 : text.size() - 3);
  }
}

TEST(XmlDocument, UnwritableFileIsReportedAndNothingIsLeft)
{
  XmlDocument doc;
  doc.CreateEmpty("r");
  QTemporaryDir dir;
  const QString missing = dir.path() + "/no/such/folder/s.vtrsc";
  EXPECT_THROW(doc.SaveToFile(missing.toStdString()), EXmlError);
  EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

TEST(XmlDocument, LoadedLayoutBlanksAndForeignEncodingDoNotReachTheWrittenForm)
{
  // An older release's file: another encoding named in the declaration (its bytes reached us
  // as UTF-8) and an empty element holding only its indentation.
  XmlDocument doc;
  doc.LoadFromText("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                   "<scenario>\r\n\t<units>\r\n\t</units>\r\n\t<name> </name>\r\n</scenario>");
  doc.SetReadable(true);
  doc.Root().ChildByName("units").AppendChild("unit").SetAttribute("id", "0");
  EXPECT_EQ(doc.SaveToText(), "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                              "<scenario>\r\n"
                              "\t<units>\r\n"
                              "\t\t<unit id=\"0\"/>\r\n"
                              "\t</units>\r\n"
                              "\t<name> </name>\r\n"
                              "</scenario>\r\n");
}
