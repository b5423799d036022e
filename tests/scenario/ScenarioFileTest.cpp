#include "scenario/ScenarioFile.h"

#include "TestSupport.h"
#include "app/Version.h"
#include "archive/ZipArchive.h"
#include "scenario/ScenarioConvert.h"
#include "scenario/ScenarioDocument.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace vtr {
namespace {

using namespace std::string_literals;

const QString kFixtures = QStringLiteral(VTR_FIXTURES "/scenario/");

std::string Local(const QString& p)
{
  return QFile::encodeName(p).toStdString();
}

QStringList Listing(const QString& dir)
{
  return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

XmlNode UnitStatus(const XmlDocument& doc, int i)
{
  return doc.Root().ChildByName("units").Child(i).ChildByName("status");
}

TEST(DecodeScenarioText, ByMarkElseUtf8ElseWindows1252)
{
  struct Case
  {
    const char* what;
    std::string bytes;
    std::string utf8;
  };
  const Case cases[] = {
      {"plain ASCII", "Name=A\r\n", "Name=A\r\n"},
      {"valid UTF-8 kept", "Z\xC3\xBCrich \xE4\xBA\xAC", "Z\xC3\xBCrich \xE4\xBA\xAC"},
      {"UTF-8 mark dropped", "\xEF\xBB\xBFS\xC3\xA9", "S\xC3\xA9"},
      {"UTF-16 LE", "\xFF\xFEZ\0\xFC\0"s, "Z\xC3\xBC"},
      {"UTF-16 BE", "\xFE\xFF\0Z\0\xFC"s, "Z\xC3\xBC"},
      {"UTF-16 surrogate pair", "\xFF\xFE\x3D\xD8\x00\xDE"s, "\xF0\x9F\x98\x80"},
      {"UTF-16 lone surrogate and odd byte",
       "\xFF\xFE\x00\xD8"
       "A\0"
       "B"s,
       "\xEF\xBF\xBD"
       "A\xEF\xBF\xBD"},
      {"UTF-32 LE", "\xFF\xFE\0\0\x00\xF6\x01\0"s, "\xF0\x9F\x98\x80"},
      {"UTF-32 BE", "\0\0\xFE\xFF\0\0\0\xE9"s, "\xC3\xA9"},
      {"Windows-1252 letters",
       "S\xE9"
       "bastien \xC6gir",
       "S\xC3\xA9"
       "bastien \xC3\x86gir"},
      {"Windows-1252 high block", "\x80\x81\x8A\x93\x94\x9F",
       "\xE2\x82\xAC\xC2\x81\xC5\xA0\xE2\x80\x9C\xE2\x80\x9D\xC5\xB8"},
      {"one bad byte makes the whole file 1252", "\xC3\xA9 \xE9", "\xC3\x83\xC2\xA9 \xC3\xA9"},
      {"overlong form is not UTF-8", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
      {"UTF-8 surrogate is not UTF-8", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
      {"bad bytes after a UTF-8 mark",
       "\xEF\xBB\xBF"
       "a\xFF",
       "a\xEF\xBF\xBD"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeScenarioText(c.bytes), c.utf8) << c.what;
}

TEST(ScenarioArchiveName, ExtensionIgnoresCase)
{
  EXPECT_TRUE(IsScenarioArchiveName("/s/Alpha.vtrscz"));
  EXPECT_TRUE(IsScenarioArchiveName("/s/Alpha.VTRSCZ"));
  EXPECT_FALSE(IsScenarioArchiveName("/s/Alpha.vtrsc"));
  EXPECT_FALSE(IsScenarioArchiveName("/s/Alpha.vtrscz.bak"));
  EXPECT_EQ(ScenarioArchiveMemberName("/s/My.Plan.VTRSCZ"), "My.Plan.vtrsc");
}

TEST(ScenarioFile, Windows1252LegacyFileReadsAccentsRight)
{
  XmlDocument doc;
  const ScenarioFileLoad r = LoadScenarioFile(kFixtures + "legacy-v5-cp1252.vtrsc", doc);
  EXPECT_EQ(r.resultText, "in: v.5 out: v.7");
  EXPECT_EQ(UnitStatus(doc, 0).ChildText("name"), "S\xC3\xA9"
                                                  "bastien");
  EXPECT_EQ(UnitStatus(doc, 0).ChildText("notes"), "Caf\xC3\xA9 cr\xC3\xA8me");
  EXPECT_EQ(UnitStatus(doc, 1).ChildText("name"), "U 99 \xE2\x80\x93 \xC3\x86gir");
  EXPECT_EQ(FromCommaText(ScenarioNoteElement(doc).Text()),
            (TextLines{"Premi\xC3\xA8re ligne", "Ligne \xE2\x82\xAC deux"}));
}

TEST(ScenarioFile, Version7NamesAndNotesSurviveLoadAndSave)
{
  const QByteArray original = vtrtest::ReadFile(kFixtures + "v7-unicode.vtrsc");
  ASSERT_FALSE(original.isEmpty());
  XmlDocument doc;
  doc.SetReadable(true);
  EXPECT_EQ(LoadScenarioFile(kFixtures + "v7-unicode.vtrsc", doc).resultText, "in: v.7 out: v.7");
  QTemporaryDir tmp;
  const QString saved = tmp.filePath("saved.vtrsc");
  doc.SaveToFile(Local(saved));

  // Byte for byte the same file, the program version apart.
  QString expected = QString::fromUtf8(original);
  expected.replace(QRegularExpression("versionprog=\"[^\"]*\""),
                   "versionprog=\"" + GetVersion() + "\"");
  EXPECT_EQ(vtrtest::ReadFile(saved), expected.toUtf8());
}

TEST(ScenarioFile, Utf16FileWithMarkReadsLikeItsUtf8Twin)
{
  const QByteArray utf8 = vtrtest::ReadFile(kFixtures + "v7-unicode.vtrsc");
  const QString text = QString::fromUtf8(utf8);
  QByteArray utf16("\xFF\xFE", 2);
  utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
  QTemporaryDir tmp;
  vtrtest::WriteFile(tmp.filePath("u16.vtrsc"), utf16);
  EXPECT_EQ(ReadScenarioLines(tmp.filePath("u16.vtrsc")),
            ReadScenarioLines(kFixtures + "v7-unicode.vtrsc"));
}

class ScenarioArchiveTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    ASSERT_TRUE(tmp_.isValid());
    LoadScenarioFile(kFixtures + "v7-unicode.vtrsc", doc_);
    doc_.SetReadable(true);
  }
  QString Path(const QString& name) const { return tmp_.filePath(name); }

  QTemporaryDir tmp_;
  XmlDocument doc_;
};

TEST_F(ScenarioArchiveTest, ArchiveRoundTripNeverTouchesThePlainFileBeside)
{
  // The user keeps a plain B.vtrsc of his own beside the archive.
  const QByteArray users = "VersionSave=5\r\n000000000002=Name=Mine\r\n";
  vtrtest::WriteFile(Path("B.vtrsc"), users);
  const QDateTime stamp = QFileInfo(Path("B.vtrsc")).lastModified();

  SaveScenarioArchive(doc_, Path("B.vtrscz"));
  EXPECT_EQ(Listing(tmp_.path()), (QStringList{"B.vtrsc", "B.vtrscz"}));
  ZipArchive zip;
  zip.SetArchiveName(Local(Path("B.vtrscz")));
  EXPECT_EQ(zip.MemberNames(), std::vector<std::string>{"B.vtrsc"});

  XmlDocument back;
  back.SetReadable(true);
  EXPECT_EQ(LoadScenarioFile(Path("B.vtrscz"), back).resultText, "in: v.7 out: v.7");
  EXPECT_EQ(back.SaveToText(), doc_.SaveToText());

  EXPECT_EQ(vtrtest::ReadFile(Path("B.vtrsc")), users);
  EXPECT_EQ(QFileInfo(Path("B.vtrsc")).lastModified(), stamp);
  EXPECT_EQ(Listing(tmp_.path()), (QStringList{"B.vtrsc", "B.vtrscz"}));
}

TEST_F(ScenarioArchiveTest, UpdateKeepsOtherMembersReplaceDoesNot)
{
  ZipArchive zip;
  zip.SetArchiveName(Local(Path("B.vtrscz")));
  zip.AddData("readme.txt", "extra");
  SaveScenarioArchive(doc_, Path("B.vtrscz"));
  EXPECT_EQ(zip.MemberNames(), (std::vector<std::string>{"readme.txt", "B.vtrsc"}));
  SaveScenarioArchive(doc_, Path("B.vtrscz"), ArchiveWrite::Replace);
  EXPECT_EQ(zip.MemberNames(), std::vector<std::string>{"B.vtrsc"});
}

TEST_F(ScenarioArchiveTest, RenamedArchiveReadsItsOnlyScenarioMember)
{
  SaveScenarioArchive(doc_, Path("Old.vtrscz"));
  QFile::rename(Path("Old.vtrscz"), Path("New.VTRSCZ"));
  XmlDocument back;
  back.SetReadable(true);
  LoadScenarioFile(Path("New.VTRSCZ"), back);
  EXPECT_EQ(back.SaveToText(), doc_.SaveToText());

  // Two candidates and neither named for the archive: which one is meant is unknown.
  ZipArchive zip;
  zip.SetArchiveName(Local(Path("New.VTRSCZ")));
  zip.AddData("Other.vtrsc", "x");
  try {
    ReadScenarioLines(Path("New.VTRSCZ"));
    FAIL() << "picked one of two scenario members";
  } catch (const EScenarioFileError& e) {
    EXPECT_NE(std::string(e.what()).find("New.vtrsc"), std::string::npos) << e.what();
  }
}

TEST_F(ScenarioArchiveTest, UnreadableFilesGiveAClearError)
{
  SaveScenarioArchive(doc_, Path("Good.vtrscz"));
  QByteArray z = vtrtest::ReadFile(Path("Good.vtrscz"));
  vtrtest::WriteFile(Path("Cut.vtrscz"), z.left(z.size() / 2));
  vtrtest::WriteFile(Path("Text.vtrscz"), "VersionSave=5\r\n");
  vtrtest::WriteFile(Path("Binary.vtrsc"), QByteArray("\x7F"
                                                      "ELF\x02\x01\x01\0\0\0",
                                                      10));
  QDir(tmp_.path()).mkdir("Folder.vtrsc");

  struct Case
  {
    const char* file;
    const char* message;
  };
  const Case cases[] = {
      {"Cut.vtrscz", "Not a zip archive"},    {"Text.vtrscz", "Not a zip archive"},
      {"Missing.vtrscz", "Cannot open file"}, {"Missing.vtrsc", "Cannot open file"},
      {"Binary.vtrsc", "binary data"},        {"Folder.vtrsc", "folder"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    try {
      ReadScenarioLines(Path(c.file));
      FAIL() << "read an unreadable file";
    } catch (const EScenarioFileError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find(c.message), std::string::npos) << what;
      EXPECT_NE(what.find(c.file), std::string::npos) << what;
    }
  }
}

TEST_F(ScenarioArchiveTest, ArchiveThatCannotBeWrittenLeavesNoFile)
{
  vtrtest::WriteFile(Path("Foreign.vtrscz"), "not an archive");
  EXPECT_THROW(SaveScenarioArchive(doc_, Path("Foreign.vtrscz")), EScenarioFileError);
  EXPECT_EQ(vtrtest::ReadFile(Path("Foreign.vtrscz")), "not an archive");
  EXPECT_THROW(SaveScenarioArchive(doc_, Path("no/such/folder/B.vtrscz")), EScenarioFileError);
  EXPECT_EQ(Listing(tmp_.path()), QStringList{"Foreign.vtrscz"});
}

} // namespace
} // namespace vtr
