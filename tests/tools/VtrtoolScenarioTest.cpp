// vtrtool convert and info, run as the user runs them.
#include "TestSupport.h"
#include "app/Version.h"
#include "archive/ZipArchive.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QString kFixtures = QStringLiteral(VTR_FIXTURES "/scenario/");

struct ToolRun
{
  int exitCode = -1;
  bool crashed = true;
  QByteArray out;
  QByteArray err;
};

ToolRun Vtrtool(const QStringList& args)
{
  QProcess p;
  p.start(QStringLiteral(VTR_PROGRAM_DIR "/vtrtool"), args);
  ToolRun r;
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.crashed = p.exitStatus() != QProcess::NormalExit;
  r.exitCode = p.exitCode();
  r.out = p.readAllStandardOutput();
  r.err = p.readAllStandardError();
  return r;
}

class VtrtoolScenario : public ::testing::Test
{
protected:
  void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
  QString Path(const QString& name) const { return tmp_.filePath(name); }
  QTemporaryDir tmp_;
};

TEST_F(VtrtoolScenario, ConvertWritesAnArchiveOrAPlainDocument)
{
  vtrtest::WriteFile(Path("legacy.txt"),
                     "VersionSave=5\r\nVersionProg=1.0.0.1\r\n000000000002=ObjType=uAir,Name=A1,"
                     "Lat=10.5,Lon=20.25,Alt=0,Hdg=90,Speed=300,dASR=1,eASR=0\r\nNotes=Brief\r\n");

  ToolRun r = Vtrtool({"convert", Path("legacy.txt"), Path("Out.vtrscz")});
  ASSERT_FALSE(r.crashed);
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "in: v.5 out: v.7\n");
  vtr::ZipArchive zip;
  zip.SetArchiveName(QFile::encodeName(Path("Out.vtrscz")).toStdString());
  ASSERT_EQ(zip.MemberNames(), std::vector<std::string>{"Out.vtrsc"});
  const std::string member = zip.ReadMember("Out.vtrsc");
  EXPECT_EQ(QDir(tmp_.path()).entryList(QDir::Files, QDir::Name),
            (QStringList{"Out.vtrscz", "legacy.txt"}));

  // The archive converts on to a plain document in the readable form, the same text.
  r = Vtrtool({"convert", Path("Out.vtrscz"), Path("Plain.vtrsc")});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(r.out, "in: v.7 out: v.7\n");
  const QByteArray plain = vtrtest::ReadFile(Path("Plain.vtrsc"));
  EXPECT_EQ(plain.toStdString(), member);
  EXPECT_TRUE(plain.startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<QV27Scenario "
                               "versionsave=\"7\" versionprog=\"" +
                               vtr::GetVersion().toUtf8() + "\">\r\n\t<timestamps>\r\n"));
}

TEST_F(VtrtoolScenario, InfoListsVersionUnitsAndNotes)
{
  struct Case
  {
    const char* what;
    QString file;
    QByteArray expected;
  };
  vtrtest::WriteFile(Path("v0.txt"),
                     "5=Name=X,dRad=1,eRad=0,\"Notes=first\r\nsecond\r\nthird\"\r\n");
  const Case cases[] = {
      {"version 7, non-ASCII, units not in id order", kFixtures + "v7-unicode.vtrsc",
       "version\t7\tunits\t2\n"
       "5\tuSurface\t\xC3\x85lesund \xC3\x98\t62.4722\t6.14949\t0\t270\t12\t1\t1,,2,,,,,,,0\t,1,,,,"
       ",,,,\tCaf\xC3\xA9,\"na\xC3\xAFve, line & <tag>\"\n"
       "3\tuAir\tZ\xC3\xBCrich "
       "\xE4\xBA\xAC\t-.5\t1.23457E-5\t10000\t45\t450\t2\t,,,,,,,,,\t,,,,,,,,,"
       "\t\n"
       "notes\t\xC3\x9C"
       "bung Nord,\"Zweite Zeile, mit Komma\"\n"},
      {"version 6", kFixtures + "v6.vtrsc",
       "version\t6\tunits\t1\n4\tuSpace\tSat-1\t10\t20\t400000\t90\t15000\t0\t,,,,,,,,,\t,,,,,,,,,"
       "\t\nnotes\tSix\n"},
      {"version 5 in Windows-1252", kFixtures + "legacy-v5-cp1252.vtrsc",
       "version\t5\tunits\t2\n"
       "2\tuLand\tS\xC3\xA9"
       "bastien\t48.85\t2.35\t35\t180\t4\t1\t1,,,,,,2,,,\t0,,,,,,,,,\tCaf\xC3\xA9"
       " cr\xC3\xA8me\n"
       "3\tuSubsurface\tU 99 \xE2\x80\x93 "
       "\xC3\x86gir\t-33.9\t18.4\t-50\t0\t8\t\t,,,,,,,,,\t,,,,,,,,,1"
       "\t\n"
       "notes\t\"Premi\xC3\xA8re ligne\",\"Ligne \xE2\x82\xAC deux\"\n"},
      {"version 0", Path("v0.txt"),
       "version\t0\tunits\t1\n2\t\tX\t\t\t\t\t\t\t1,1,,,,,,,,\t0,0,,,,,,,,\tfirst,second,third\n"
       "notes\t\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ToolRun r = Vtrtool({"info", c.file});
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toStdString(), c.expected.toStdString());
  }
}

TEST_F(VtrtoolScenario, InfoKeepsEachUnitOnItsLine)
{
  vtrtest::WriteFile(Path("odd.vtrsc"),
                     "<QV27Scenario versionsave=\"7\"><notes><note timestamp=\"0.0\">a&#9;b</note>"
                     "</notes><units><unit id=\"1\"><status><name>two&#13;&#10;lines</name>"
                     "</status></unit></units></QV27Scenario>");
  const ToolRun r = Vtrtool({"info", Path("odd.vtrsc")});
  EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
  EXPECT_EQ(r.out.toStdString(),
            "version\t7\tunits\t1\n1\t\ttwo\\r\\nlines\t\t\t\t\t\t\t,,,,,,,,,\t"
            ",,,,,,,,,\t\nnotes\ta\\tb\n");
}

TEST_F(VtrtoolScenario, UnreadableInputExitsTwoWithAMessage)
{
  vtrtest::WriteFile(Path("v8.vtrsc"), "VersionSave=8\r\n000000000002=Name=A\r\n");
  Vtrtool({"convert", kFixtures + "v6.vtrsc", Path("Good.vtrscz")});
  const QByteArray zip = vtrtest::ReadFile(Path("Good.vtrscz"));
  vtrtest::WriteFile(Path("Cut.vtrscz"), zip.left(zip.size() - 10));
  vtrtest::WriteFile(Path("Damaged.vtrsc"),
                     "<?xml version=\"1.0\"?>\r\n<QV27Scenario versionsave=");
  vtrtest::WriteFile(Path("Bad.vtrsc"), "VersionSave=5\r\n1.5=Name=A\r\n");

  struct Case
  {
    const char* file;
    const char* message;
  };
  const Case cases[] = {
      {"v8.vtrsc", "Scenario Version is 8\r\n This program release can only read through "
                   "Version 7\r\nExiting Program..."},
      {"Cut.vtrscz", "Not a zip archive"},
      {"Missing.vtrsc", "Cannot open file"},
      {"Damaged.vtrsc", "The scenario is damaged"},
      {"Bad.vtrsc", "'1.5' is not a valid integer value"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    for (const QString& cmd : {QStringLiteral("info"), QStringLiteral("convert")}) {
      QStringList args{cmd, Path(c.file)};
      if (cmd == "convert") args << Path("out.vtrscz");
      const ToolRun r = Vtrtool(args);
      ASSERT_FALSE(r.crashed);
      EXPECT_EQ(r.exitCode, 2);
      EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
      EXPECT_NE(r.err.toStdString().find(c.message), std::string::npos) << r.err.toStdString();
      EXPECT_FALSE(QFile::exists(Path("out.vtrscz")));
    }
  }
}

TEST_F(VtrtoolScenario, WrongArgumentsExitOne)
{
  for (const QStringList& args : {QStringList{"convert", "only-one"}, QStringList{"convert"},
                                  QStringList{"info"}, QStringList{"info", "a", "b"}}) {
    const ToolRun r = Vtrtool(args);
    ASSERT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains("usage: vtrtool ")) << r.err.toStdString();
  }
}

} // namespace
