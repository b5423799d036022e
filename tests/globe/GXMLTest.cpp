// The engine's XML model: the writer's omission, trimming, escaping and self-closing rules, the
// parser with its unescaping order, the dictionary form and its refusal of malformed text, the
// typed attributes (numbers, Booleans, colours, units), element operations, files, and the
// component XML form with creation by class name.
#include "globe/GXML.h"

#include "globe/GClasses.h"
#include "globe/GStreams.h"

#include "GlobeTestSupport.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vtr {
namespace {

using vtrtest::ErrorText;

std::string Parsed(std::string_view text)
{
  TGXML_Document doc("Root");
  doc.SetAsString(text);
  return doc.AsString();
}

// ---------------------------------------------------------------------------------------------
// Writer

TEST(XMLWriter, EmptyElementsAreLeftOutAndElementsOfEmptyChildrenCloseThemselves)
{
  struct Case
  {
    const char* name;
    void (*build)(TGXML_Element&);
    const char* text;
  };
  const Case cases[] = {
      {"nothing at all", [](TGXML_Element&) {}, ""},
      {"only an empty child", [](TGXML_Element& e) { e.AddElement("B"); }, "<A />"},
      {"attributes in order",
       [](TGXML_Element& e) {
         e.AddAttribute("x", "1");
         e.AddAttribute("y", "two");
       },
       "<A x=\"1\" y=\"two\" />"},
      {"empty children are dropped from content",
       [](TGXML_Element& e) {
         e.AddElement("Empty");
         e.AddElement("B").AddAttribute("k", "v");
         e.AddElement("Empty");
       },
       "<A><B k=\"v\" /></A>"},
      {"a child of empty children is itself self-closing",
       [](TGXML_Element& e) { e.AddElement("B").AddElement("C"); }, "<A><B /></A>"},
      {"body and children in item order",
       [](TGXML_Element& e) {
         e.SetBodyText("one");
         e.AddElement("B").SetBodyText("two");
       },
       "<A>one<B>two</B></A>"},
      {"surrounding white space is trimmed",
       [](TGXML_Element& e) {
         e.AddAttribute("v", " hello world\r\n");
         e.AddElement("B").SetBodyText("\t body \n");
       },
       "<A v=\"hello world\"><B>body</B></A>"},
      {"body text escapes only & < >", [](TGXML_Element& e) { e.SetBodyText("a<b & \"c\" 'd'>"); },
       "<A>a&#60;b &#38; \"c\" 'd'&#62;</A>"},
      {"attribute values escape quotes and line breaks too",
       [](TGXML_Element& e) { e.AddAttribute("v", "a\"b'c\nd\re&<>"); },
       "<A v=\"a&#34;b&#39;c&#10;d&#13;e&#38;&#60;&#62;\" />"},
      {"forced empty value", [](TGXML_Element& e) { e.AddAttribute("v", "", true, "x"); },
       "<A v=\"\" />"},
  };
  for (const Case& c : cases) {
    TGXML_Element el("A");
    c.build(el);
    EXPECT_EQ(el.XMLString(), c.text) << c.name;
  }
}

TEST(XMLWriter, AttributesEqualToTheirDefaultsAreNotWritten)
{
  TGXML_Element el("A");
  el.AddIntAttribute("Width", 1, 1);
  el.AddFloatAttribute("Scale", 0.5, 0.5);
  el.AddBoolAttribute("Visible", true, true);
  el.AddColorAttribute("Color", clBlack, clBlack);
  el.AddUnitAttribute("Unit", guPixel, guPixel);
  el.AddAttribute("Name", "Arial", false, "Arial");
  EXPECT_EQ(el.AttributeCount(), 0);
  EXPECT_EQ(el.XMLString(), "");

  el.AddIntAttribute("Width", -1, 0);
  el.AddFloatAttribute("Scale", 2.25, 0.5);
  el.AddBoolAttribute("Visible", false, true);
  el.AddColorAttribute("Color", 0xFFFF00, clBlack);
  el.AddUnitAttribute("Unit", guKilometer, guPixel);
  EXPECT_EQ(el.XMLString(),
            "<A Width=\"-1\" Scale=\"2.25\" Visible=\"F\" Color=\"clAqua\" Unit=\"KM\" />");

  // A value at its default leaves an earlier value of that name in place; any other value
  // replaces it (names without regard to case), and an empty one removes it.
  el.AddIntAttribute("width", 1, 1);
  EXPECT_EQ(el.Attribute("Width"), "-1");
  el.AddIntAttribute("WIDTH", 7, 1);
  EXPECT_EQ(el.Attribute("width"), "7");
  EXPECT_EQ(el.AttributeCount(), 5);
  EXPECT_EQ(el.AttributeName(4), "WIDTH");
  el.AddAttribute("Scale", "", false, "x");
  EXPECT_FALSE(el.HasAttribute("Scale"));
}

TEST(XMLWriter, FormattedOutputBreaksLinesAndIndentsWithTabs)
{
  TGXML_Document doc("A");
  doc.SetFormatted(true);
  doc.Document().AddElement("B").AddAttribute("x", "1");
  TGXML_Element& c = doc.Document().AddElement("C");
  c.SetBodyText("t");
  c.AddElement("D").AddElement("E").AddAttribute("y", "2");
  EXPECT_EQ(doc.AsString(), "<A>\r\n\t<B x=\"1\" />\r\n\t<C>t\r\n\t\t<D>\r\n\t\t\t<E y=\"2\" />"
                            "\r\n\t\t</D></C></A>");
  // Read back, the layout white space is no content.
  TGXML_Document plain("X");
  plain.SetAsString(doc.AsString());
  EXPECT_EQ(plain.AsString(), "<A><B x=\"1\" /><C>t<D><E y=\"2\" /></D></C></A>");
}

TEST(XMLWriter, FloatsHaveAtMostFifteenSignificantDigits)
{
  const std::pair<long double, const char*> cases[] = {
      {0, "0"},
      {0.1L, "0.1"},
      {-0.5, "-0.5"},
      {1.0L / 3, "0.333333333333333"},
      {2.0L / 3, "0.666666666666667"},
      {123456789012345678.0L, "1.23456789012346E17"},
      {1e20, "1E20"},
      {2.5e-7, "2.5E-7"},
      {0.00001, "0.00001"},
      {972000000, "972000000"},
  };
  for (const auto& [value, text] : cases)
    EXPECT_EQ(FloatToXMLText(value), text) << static_cast<double>(value);
}

// ---------------------------------------------------------------------------------------------
// Parser

TEST(XMLParser, AttributeValuesRoundTripThroughWriterAndParser)
{
  const std::string values[] = {
      "a<b & \"c\" 'd' >e", "line one\nline two\r\nend", "&#60;", "&amp;", "&lt;&#38;", "100%",
      "\xC3\xA9t\xC3\xA9"};
  for (const std::string& v : values) {
    TGXML_Document doc("A");
    doc.Document().AddAttribute("v", v);
    doc.Document().SetBodyText(v);
    TGXML_Document back("X");
    back.SetAsString(doc.AsString());
    EXPECT_EQ(back.Document().Attribute("v"), v) << doc.AsString();
    EXPECT_EQ(back.Document().BodyText(), v) << doc.AsString();
  }
}

TEST(XMLParser, UnescapesInTheFixedOrder)
{
  const std::pair<const char*, const char*> cases[] = {
      {"&lt;&gt;&apos;&quot;", "<>'\""},
      {"&#10;&#13;&#39;&#34;&#60;&#62;", "\n\r'\"<>"},
      {"&#38;", "&"},
      {"&amp;", "&"},
      {"&#38;#60;", "&#60;"},   // an escaped entity stays an entity
      {"&#38;amp;", "&amp;"},   // replaced once, not again
      {"&amp;lt;", "&lt;"},     // "&lt;" comes before "&amp;"
      {"  padded  ", "padded"}, // trimmed first
      {"&unknown;", "&unknown;"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(XMLUnescape(in), out) << in;
}

TEST(XMLParser, ReadsTreesLeniently)
{
  const std::pair<const char*, const char*> cases[] = {
      {"<A x=\"1\"/>", "<A x=\"1\" />"},
      {"<A x=\"1\" y=\"\"></A>", "<A x=\"1\" />"}, // empty values are dropped
      {"<A><B></C></A>", "<A />"},                 // closing names are not compared
      {"<A>  <B/>  </A>", "<A />"},                // blank pieces are no content
      {"<A>t</A><B>ignored</B>", "<A>t</A>"},      // after the root, nothing more is read
      {"</x>lead<A>t</A>", "<A>t</A>"},            // stray closing tags and text before it
      {"<A v=\"a>b\" />", "<A v=\"a&#62;b\" />"},  // ">" inside a quoted value
      {"<A x=\"1\" y=\"2\" X=\"3\"/>", "<A y=\"2\" X=\"3\" />"}, // a repeat replaces
      {"<A x=\"1\" x=\"\"/>", "<A x=\"1\" />"},                  // an empty one does not
      {"", ""},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(Parsed(in), out) << in;

  // Very many attributes in one tag are read in one pass.
  std::string wide = "<A";
  for (int i = 0; i < 100'000; ++i)
    wide += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  wide += " a0=\"last\" />";
  TGXML_Document many("Root");
  many.SetAsString(wide);
  EXPECT_EQ(many.Document().AttributeCount(), 100'000);
  EXPECT_EQ(many.Document().AttributeName(99'999), "a0");
  EXPECT_EQ(many.Document().Attribute("a0"), "last");

  TGXML_Document doc("Root");
  doc.SetAsString("<Globe><Layer Name=\"a\" /></Globe>");
  EXPECT_EQ(doc.DocumentTag(), "Globe");
  EXPECT_EQ(doc.Document().Element("layer")->Attribute("NAME"), "a");
}

TEST(XMLParser, RefusesMalformedTextAndKeepsTheDocument)
{
  const std::pair<const char*, const char*> cases[] = {
      {"<A x=\"1\"", "tag not closed at byte 0"},
      {"<A x=\"1 />", "attribute value not closed at byte 0"},
      {"<A><B></B>", "element \"A\" not closed at byte 10"},
      {"<A><B x=\"1\">", "element \"B\" not closed"},
      {"<A b c=\"1\"/>", "bad attribute name \"b c\""},
      {"<A junk/>", "text \"junk/\" in a tag"},
      {"<A x=\"1\"y>", "text \"y\" in a tag"},
      {"<A =\"1\"/>", "bad attribute name \"\""},
      {"<A\"b/>", "bad element name \"A\"b\""},
      {"<DICT>\"a b\",x</DICT><0 1=\"v\"/>", "bad element name \"a b\""},
      {"<DICT>x,\"a=b\"</DICT><0 1=\"v\"/>", "bad attribute name \"a=b\""},
  };
  for (const auto& [in, message] : cases) {
    TGXML_Document doc("Root");
    doc.Document().AddAttribute("kept", "yes");
    const std::string error = ErrorText([&] { doc.SetAsString(in); });
    EXPECT_NE(error.find(message), std::string::npos) << in << " -> " << error;
    EXPECT_EQ(error.rfind("TGXML_Document: ", 0), 0u) << error;
    EXPECT_EQ(doc.AsString(), "<Root kept=\"yes\" />") << in;
  }
}

std::string Nested(int depth)
{
  std::string text;
  for (int i = 0; i < depth; ++i)
    text += "<E>";
  text += "x";
  for (int i = 0; i < depth; ++i)
    text += "</E>";
  return text;
}

TEST(XMLParser, NestingIsLimitedToAThousandLevels)
{
  TGXML_Document doc("Root");
  doc.SetAsString(Nested(kXMLMaxDepth));
  const TGXML_Element* el = &doc.Document();
  int depth = 1;
  while (el->Element(0)) {
    el = el->Element(0);
    ++depth;
  }
  EXPECT_EQ(depth, kXMLMaxDepth);
  EXPECT_EQ(el->BodyText(), "x");
  EXPECT_EQ(doc.AsString(), Nested(kXMLMaxDepth)); // the writer copes with it too

  for (const int tooDeep : {kXMLMaxDepth + 1, 200'000}) {
    const std::string error = ErrorText([&] { doc.SetAsString(Nested(tooDeep)); });
    EXPECT_NE(error.find("nested deeper than 1000 levels at byte 3000"), std::string::npos)
        << error;
  }
  // Unclosed openings that never end are refused, not followed.
  EXPECT_NE(ErrorText([&] { doc.SetAsString(std::string(100'000, '<')); }), "no exception");
}

TEST(XMLParser, DictionaryFormReadsToTheSameTreeAsThePlainForm)
{
  TGXML_Document doc("Globe");
  TGXML_Element& root = doc.Document();
  root.AddAttribute("SurfaceColor", "clWhite");
  for (int i = 0; i < 3; ++i) {
    TGXML_Element& layer = root.AddElement("Layer");
    layer.AddAttribute("Name", "layer " + std::to_string(i));
    layer.AddAttribute("Class", "TGLayer");
    layer.AddElement("Presenter").AddAttribute("Class", "TGPointPresenter");
    layer.AddElement("Note").SetBodyText("7 < 8, \"quoted\"");
  }
  const std::string plain = doc.AsString();

  doc.SetCompressed(true);
  const std::string compressed = doc.AsString();
  EXPECT_TRUE(compressed.starts_with("<DICT>")) << compressed;
  ASSERT_FALSE(doc.TagTable().empty());
  // Most frequent first, ties in order of first use.
  EXPECT_EQ(doc.TagTable()[0], "Class");
  EXPECT_EQ(doc.TagTable()[1], "Layer");
  EXPECT_EQ(doc.TagTable().back(), "SurfaceColor");
  EXPECT_EQ(compressed.find("Presenter>"), std::string::npos) << compressed;

  TGXML_Document back("X");
  back.SetAsString(compressed);
  EXPECT_EQ(back.DocumentTag(), "Globe");
  EXPECT_EQ(back.AsString(), plain);
  EXPECT_EQ(back.TagTable(), doc.TagTable());
  EXPECT_EQ(back.Document().Element("Layer", 2)->Element("Note")->BodyText(), "7 < 8, \"quoted\"");
}

// ---------------------------------------------------------------------------------------------
// Typed attributes

TEST(XMLAttributes, BooleansReadTAndOneAsTrueAndAnythingElseAsTheDefault)
{
  const std::pair<const char*, int> cases[] = {
      // value, 1 true / 0 false / -1 default
      {"T", 1}, {"t", 1},    {" 1 ", 1},   {"F", 0}, {"f", 0},
      {"0", 0}, {"yes", -1}, {"TRUE", -1}, {"", -1}, {"2", -1},
  };
  for (const auto& [value, expected] : cases) {
    TGXML_Element el("A");
    el.AddAttribute("b", value, true);
    for (const bool def : {false, true}) {
      const bool want = expected == -1 ? def : expected == 1;
      EXPECT_EQ(el.BoolAttribute("b", def), want) << '"' << value << "\" default " << def;
    }
  }
  TGXML_Element none("A");
  EXPECT_TRUE(none.BoolAttribute("b", true));
}

TEST(XMLAttributes, NumbersReadTheirDefaultWhenMissingOrMalformed)
{
  TGXML_Element el("A");
  el.AddAttribute("i", "42");
  el.AddAttribute("neg", " -7 ");
  el.AddAttribute("big", "99999999999");
  el.AddAttribute("frac", "1.5");
  el.AddAttribute("comma", "1,5");
  el.AddAttribute("exp", "-2.5E3");
  el.AddAttribute("word", "ten");
  EXPECT_EQ(el.IntAttribute("i", 0), 42);
  EXPECT_EQ(el.IntAttribute("neg", 0), -7);
  EXPECT_EQ(el.IntAttribute("big", 3), 3);
  EXPECT_EQ(el.IntAttribute("frac", 3), 3);
  EXPECT_EQ(el.IntAttribute("missing", 3), 3);
  EXPECT_EQ(el.FloatAttribute("frac", 0), 1.5L);
  EXPECT_EQ(el.FloatAttribute("comma", 9), 9);
  EXPECT_EQ(el.FloatAttribute("exp", 0), -2500);
  EXPECT_EQ(el.FloatAttribute("word", 9), 9);
  EXPECT_EQ(el.FloatAttribute("missing", 9), 9);

  // A locale with a decimal comma changes nothing in either direction.
  vtrtest::CommaDecimalLocale comma;
  if (!comma.Active()) GTEST_SKIP() << comma.Why();
  TGXML_Element f("A");
  f.AddFloatAttribute("x", 1.25, 0);
  EXPECT_EQ(f.Attribute("x"), "1.25");
  EXPECT_EQ(f.FloatAttribute("x", 0), 1.25L);
}

TEST(XMLAttributes, ColoursAreWrittenByNameOrAsHexAndReadInEveryForm)
{
  const std::pair<TColor, const char*> written[] = {
      {0x000000, "clBlack"},
      {0xFFFF00, "clAqua"},
      {0x808080, "clGray"},
      {0xC0DCC0, "clMoneyGreen"},
      {0x1FFFFFFF, "clNone"},
      {0x20000000, "clDefault"},
      {static_cast<TColor>(0xFF00000Fu), "clBtnFace"},
      {static_cast<TColor>(0xFF00001Eu), "clMenuBar"},
      {static_cast<TColor>(0xFF000019u), "$FF000019"}, // index 25 has no name
      {0x123456, "$00123456"},
      {-1, "$FFFFFFFF"},
  };
  for (const auto& [value, text] : written) {
    EXPECT_EQ(ColorToXMLText(value), text);
    EXPECT_EQ(XMLTextToColor(text), value) << text;
  }

  const std::pair<const char*, std::optional<TColor>> read[] = {
      {"claqua", 0xFFFF00},
      {" CLWHITE ", 0xFFFFFF},
      {"$ff", 0xFF},
      {"255", 255},
      {"-16777201", static_cast<TColor>(0xFF00000Fu)},
      {"4294967295", -1},
      {"$", std::nullopt},
      {"$123456789", std::nullopt},
      {"$12G", std::nullopt},
      {"4294967296", std::nullopt},
      {"clPink", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, value] : read)
    EXPECT_EQ(XMLTextToColor(text), value) << text;

  TGXML_Element el("A");
  el.AddAttribute("c", "bogus");
  EXPECT_EQ(el.ColorAttribute("c", clWhite), clWhite);
  EXPECT_EQ(el.ColorAttribute("missing", clRed), clRed);
}

TEST(XMLAttributes, UnitsAreAbbreviationsReadWithoutRegardToCase)
{
  TGXML_Element el("A");
  el.AddUnitAttribute("ZoomUnits", guNauticalMile, guKilometer);
  EXPECT_EQ(el.Attribute("ZoomUnits"), UnitsToStr(guNauticalMile));
  EXPECT_EQ(el.UnitAttribute("ZoomUnits", guPixel), guNauticalMile);
  el.AddAttribute("Lower", "km");
  EXPECT_EQ(el.UnitAttribute("lower", guPixel), guKilometer);
  EXPECT_EQ(el.UnitAttribute("missing", guPixel), guPixel);
  el.AddAttribute("Bad", "furlong");
  EXPECT_EQ(ErrorText([&] { el.UnitAttribute("Bad", guPixel); }),
            "StrToUnits: Unknown Unit furlong");
}

TEST(XMLAttributes, IllegalNamesAndBadPositionsAreAssertionFailures)
{
  TGXML_Element el("A");
  el.AddAttribute("a", "1");
  el.AddAttribute("b", "2");
  EXPECT_EQ(el.Attribute(1), "2");
  EXPECT_EQ(el.AttributeName(0), "a");
  for (const char* name : {"a=b", "", "a b", "a/b", "a\"b"})
    EXPECT_TRUE(ErrorText([&] {
                  el.AddAttribute(name, "x");
                }).starts_with("Illegal character in Attribute Tag (globe\\GXML, line "))
        << name;
  EXPECT_TRUE(ErrorText([&] {
                el.Attribute(5);
              }).starts_with("No Attribute at Index 3 (globe\\GXML, line "));
  EXPECT_TRUE(
      ErrorText([&] { el.AddElement("B C"); }).starts_with("Illegal character in Element Tag"));
  el.DeleteAttribute("A");
  EXPECT_EQ(el.AttributeCount(), 1);
  el.ClearAttributes();
  EXPECT_EQ(el.AttributeCount(), 0);
}

// ---------------------------------------------------------------------------------------------
// Element operations

TEST(XMLElement, FindsCreatesMovesDeletesAndCopiesChildren)
{
  TGXML_Element root("Root");
  root.AddAttribute("a", "1");
  root.AddElement("Layer").AddAttribute("ID", "{ABC}");
  root.SetBodyText("text");

  // autoCreate appends only what it takes for the instance to exist.
  TGXML_Element* third = root.Element("layer", 2, true);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(root.ElementCount("Layer"), 3);
  EXPECT_EQ(root.Element("Layer", 2, true), third);
  EXPECT_EQ(root.Element("Layer", 3), nullptr);
  EXPECT_EQ(root.Element(-1), nullptr);
  EXPECT_TRUE(root.ElementExists("LAYER", 2));
  EXPECT_FALSE(root.ElementExists("Layer", 3));
  third->AddAttribute("ID", "{def}");
  EXPECT_EQ(root.ElementByID("Layer", "{DEF}"), third);
  EXPECT_EQ(root.ElementByID("Layer", "{xyz}"), nullptr);
  EXPECT_EQ(root.Elements("Layer").size(), 3u);
  EXPECT_EQ(root.BodyText(), "text");

  // A deep copy that does not share anything with its source.
  TGXML_Element copy("Other");
  copy.Assign(root);
  EXPECT_EQ(copy.XMLString(), root.XMLString());
  copy.Element("Layer", 0)->AddAttribute("ID", "{changed}");
  EXPECT_EQ(root.Element("Layer", 0)->Attribute("ID"), "{ABC}");
  // Assigning from its own child replaces the element by that child's copy.
  copy.Assign(*copy.Element("Layer", 2));
  EXPECT_EQ(copy.XMLString(), "<layer ID=\"{def}\" />"); // made by the lookup in its spelling

  TGXML_Element target("Target");
  TGXML_Element* first = root.Element("Layer", 0);
  TGXML_Element::MoveElement(first, root, target);
  EXPECT_EQ(root.ElementCount(), 2);
  EXPECT_EQ(target.Element(0), first);
  EXPECT_NE(ErrorText([&] { TGXML_Element::MoveElement(first, root, target); }), "no exception");
  TGXML_Element& inner = first->AddElement("Inner");
  EXPECT_TRUE(ErrorText([&] {
                TGXML_Element::MoveElement(first, target, inner);
              }).starts_with("MoveElement: target lies inside the element"));

  root.DeleteElement(0);
  EXPECT_EQ(root.ElementCount(), 1);
  root.DeleteElement(&inner); // not a child of root: nothing happens
  EXPECT_EQ(target.Element(0)->ElementCount(), 1);
  root.ClearElements();
  EXPECT_EQ(root.XMLString(), "<Root a=\"1\">text</Root>");
  root.SetBodyText("");
  EXPECT_EQ(root.XMLString(), "<Root a=\"1\" />");
  root.Clear();
  EXPECT_TRUE(root.Empty());
}

// ---------------------------------------------------------------------------------------------
// Files and streams

TEST(XMLDocument, SavesAndLoadsFilesAndStreams)
{
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string file = dir.filePath("temp.env").toStdString();

  TGXML_Document doc("Globe");
  doc.Document().AddAttribute("SurfaceColor", "clAqua");
  doc.Document().AddElement("Projector").AddAttribute("Class", "TGSphericalPrj");
  doc.SaveToFile(file);

  TGXML_Document back("Other");
  back.LoadFromFile(file);
  EXPECT_EQ(back.DocumentTag(), "Globe");
  EXPECT_EQ(back.AsString(), doc.AsString());
  EXPECT_FALSE(std::filesystem::exists(file + ".tmp~"));

  // A missing file loads nothing; the document stays as it was.
  back.LoadFromFile(dir.filePath("missing.env").toStdString());
  EXPECT_EQ(back.AsString(), doc.AsString());

  // A file that is not a document says which file it was.
  const std::string broken = dir.filePath("broken.env").toStdString();
  std::ofstream(broken) << "<Globe><Layer>";
  const std::string error = ErrorText([&] { back.LoadFromFile(broken); });
  EXPECT_EQ(error.rfind("TGXML_Document.LoadFromFile: " + broken + ": TGXML_Document: ", 0), 0u)
      << error;
  EXPECT_EQ(back.AsString(), doc.AsString());

  // Only plain files are read: a folder or a device that never ends is refused.
  for (const std::string& special : {dir.path().toStdString(), std::string("/dev/zero")}) {
    EXPECT_EQ(ErrorText([&] { back.LoadFromFile(special); }),
              "TGXML_Document.LoadFromFile: cannot read " + special);
    EXPECT_EQ(back.AsString(), doc.AsString());
  }

  // A folder that does not exist cannot be written, and no file is left behind.
  const std::string nowhere = dir.filePath("no/such/folder/temp.env").toStdString();
  EXPECT_EQ(ErrorText([&] { doc.SaveToFile(nowhere); }),
            "TGXML_Document.SaveToFile: cannot write " + nowhere);

  // Streams: written at the position, read from the start.
  TGMemoryStream stream;
  doc.SaveToStream(stream);
  EXPECT_EQ(stream.Size(), static_cast<int64_t>(doc.AsString().size()));
  TGXML_Document fromStream("X");
  fromStream.LoadFromStream(stream);
  EXPECT_EQ(fromStream.AsString(), doc.AsString());

  doc.Clear();
  EXPECT_EQ(doc.AsString(), "");
  EXPECT_EQ(doc.Document().ElementTag(), "Globe");
}

// ---------------------------------------------------------------------------------------------
// Components

class TXMLTestComponent : public TGComponent
{
public:
  using TGComponent::TGComponent;
  std::string ClassName() const override { return "TXMLTestComponent"; }
  void SaveToXML(TGXML_Element& el) override
  {
    TGComponent::SaveToXML(el);
    el.AddIntAttribute("Size", size, 6);
    el.AddColorAttribute("Color", color, clBlack);
  }
  void LoadFromXML(const TGXML_Element& el) override
  {
    size = el.IntAttribute("Size", 6);
    color = el.ColorAttribute("Color", clBlack);
  }
  int32_t size = 6;
  TColor color = clBlack;
};

class TXMLOtherComponent : public TXMLTestComponent
{
public:
  using TXMLTestComponent::TXMLTestComponent;
  std::string ClassName() const override { return "TXMLOtherComponent"; }
};

TEST(XMLComponent, WritesItsClassAndIsCreatedByItFromXML)
{
  RegisterGlobeClass<TXMLTestComponent>("TXMLTestComponent", "XML Test Component");
  RegisterGlobeClass<TXMLOtherComponent>("TXMLOtherComponent", "XML Other Component");

  TXMLOtherComponent c;
  c.size = 12;
  c.color = 0xFF0000;
  EXPECT_EQ(c.XML(), "<Component Class=\"TXMLOtherComponent\" Size=\"12\" Color=\"clBlue\" />");

  TXMLTestComponent d;
  d.SetXML(c.XML());
  EXPECT_EQ(d.size, 12);
  EXPECT_EQ(d.color, 0xFF0000);

  TGXML_Document doc("Component");
  doc.SetAsString(c.XML());
  auto made = TGComponent::CreateFromXML(nullptr, &doc.Document());
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->ClassName(), "TXMLOtherComponent");
  EXPECT_EQ(static_cast<TXMLTestComponent&>(*made).size, 12);

  // Unknown, empty or unsuitable classes give the default class, loaded all the same.
  for (const char* cls : {"TNoSuchClass", "", "TGMapPoint"}) {
    doc.Document().DeleteAttribute("Class");
    doc.Document().AddAttribute("Class", cls, true);
    auto fallback =
        CreateFromXMLAs<TXMLTestComponent>(nullptr, &doc.Document(), "TXMLTestComponent");
    ASSERT_NE(fallback, nullptr) << cls;
    EXPECT_EQ(fallback->ClassName(), "TXMLTestComponent") << cls;
    EXPECT_EQ(fallback->size, 12) << cls;
    EXPECT_EQ(TGComponent::CreateFromXML(nullptr, &doc.Document()), nullptr) << cls;
  }
  // No element: the default class, not loaded.
  auto bare = CreateFromXMLAs<TXMLTestComponent>(nullptr, nullptr, "TXMLTestComponent");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->size, 6);
  EXPECT_EQ(TGComponent::CreateFromXML(nullptr, nullptr), nullptr);
}

} // namespace
} // namespace vtr
