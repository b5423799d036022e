#include "AppFixture.h"
#include "TestSupport.h"

#include "app/Settings.h"
#include "base/Convert.h"

using namespace vtr;
using vtrtest::AppFixture;

namespace {

class Settings : public AppFixture
{
};

} // namespace

TEST_F(Settings, MissingFileGivesDefaultsAndSavingWritesTheSevenKeys)
{
  GlobalSettings s;
  s.OptGlobHdgArrowLen = 3;
  s.LoadOptGlobal(Path("Vantrel.ini"));
  EXPECT_EQ(s.OptGlobHdgArrowEn, 1);
  EXPECT_EQ(TColorToStrRGB(s.OptGlobHdgArrowClr), "#FFFFFF");
  EXPECT_EQ(s.OptGlobHdgArrowLen, 75);
  EXPECT_EQ(TColorToStrRGB(s.OptGlobUDBActiveClr), "#FF0000");
  EXPECT_EQ(TColorToStrRGB(s.OptGlobUDBInactiveClr), "#FFFF00");
  EXPECT_EQ(s.OptGlobMSUnits, "mniMSnm");
  EXPECT_EQ(s.OptGlobAutoUpdEn, 1);

  s.SaveOptGlobal(Path("Vantrel.ini"));
  EXPECT_EQ(vtrtest::ReadFile(Path("Vantrel.ini")),
            "[OPTGLOBAL]\r\nHdgArrowEn=1\r\nHdgArrowClr=#FFFFFF\r\nHdgArrowLen=75\r\n"
            "UDBActiveClr=#FF0000\r\nUDBInactiveClr=#FFFF00\r\nMSUnits=mniMSnm\r\n"
            "AutoUpdEn=1\r\n");
}

TEST_F(Settings, ReadsValuesAndKeepsTheRestOfTheFile)
{
  vtrtest::WriteFile(Path("Vantrel.ini"), "; user comment\r\n"
                                          "[Other]\r\nKeep=me\r\n\r\n"
                                          "[optglobal]\r\n"
                                          "hdgarrowclr = #00ff80\r\n"
                                          "HdgArrowEn=0\r\n"
                                          "Extra=kept\r\n"
                                          "HdgArrowLen=120\r\n"
                                          "MSUnits=mniFurlong\r\n"
                                          "[Last]\r\nx=1\r\n");
  GlobalSettings s;
  s.LoadOptGlobal(Path("Vantrel.ini"));
  EXPECT_EQ(s.OptGlobHdgArrowEn, 0);
  EXPECT_EQ(s.OptGlobHdgArrowClr, QColor(0, 255, 128));
  EXPECT_EQ(s.OptGlobHdgArrowLen, 120);
  EXPECT_EQ(s.OptGlobMSUnits, "mniFurlong"); // kept as read
  EXPECT_EQ(s.OptGlobAutoUpdEn, 1);

  s.SaveOptGlobal(Path("Vantrel.ini"));
  EXPECT_EQ(vtrtest::ReadFile(Path("Vantrel.ini")),
            "; user comment\r\n"
            "[Other]\r\nKeep=me\r\n\r\n"
            "[optglobal]\r\n"
            "HdgArrowClr=#00FF80\r\n"
            "HdgArrowEn=0\r\n"
            "Extra=kept\r\n"
            "HdgArrowLen=120\r\n"
            "MSUnits=mniFurlong\r\n"
            "UDBActiveClr=#FF0000\r\n"
            "UDBInactiveClr=#FFFF00\r\n"
            "AutoUpdEn=1\r\n"
            "[Last]\r\nx=1\r\n");
}

TEST_F(Settings, UnreadableValuesGiveTheirDefaults)
{
  vtrtest::WriteFile(Path("Vantrel.ini"), "[OPTGLOBAL]\n"
                                          "HdgArrowEn=yes\n"
                                          "HdgArrowLen=7.5\n"
                                          "HdgArrowClr=00FF80\n"
                                          "UDBActiveClr=#GG0000\n"
                                          "UDBInactiveClr=#12345\n"
                                          "AutoUpdEn=300\n");
  GlobalSettings s;
  s.LoadOptGlobal(Path("Vantrel.ini"));
  const GlobalSettings d;
  EXPECT_EQ(s.OptGlobHdgArrowEn, d.OptGlobHdgArrowEn);
  EXPECT_EQ(s.OptGlobHdgArrowLen, d.OptGlobHdgArrowLen);
  EXPECT_EQ(s.OptGlobHdgArrowClr, d.OptGlobHdgArrowClr);
  EXPECT_EQ(s.OptGlobUDBActiveClr, d.OptGlobUDBActiveClr);
  EXPECT_EQ(s.OptGlobUDBInactiveClr, d.OptGlobUDBInactiveClr);
  EXPECT_EQ(s.OptGlobAutoUpdEn, d.OptGlobAutoUpdEn);
}

TEST_F(Settings, ColourText)
{
  EXPECT_EQ(TColorToStrRGB(QColor(1, 171, 255)), "#01ABFF");
  EXPECT_EQ(StrRGBToTColor("#01abFF"), QColor(1, 171, 255));
  EXPECT_EQ(StrRGBToTColor("x102030"), QColor(0x10, 0x20, 0x30)); // the first character is skipped
  EXPECT_THROW(StrRGBToTColor("#zz0000"), EConvertError);
  EXPECT_TRUE(IsColorText("#a0B0c0"));
  for (const char* bad : {"", "#", "#12345", "#1234567", "12345678", "#12 456", "#+12345"})
    EXPECT_FALSE(IsColorText(bad)) << bad;
}

TEST_F(Settings, UnwritableFileIsReported)
{
  QDir(dir.path()).mkdir("Vantrel.ini"); // a folder where the file should be
  GlobalSettings s;
  try {
    s.SaveOptGlobal(Path("Vantrel.ini"));
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(QString::fromUtf8(e.what()), "Unable to write to " + Path("Vantrel.ini"));
  }
}
