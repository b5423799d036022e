#include "app/Settings.h"

#include "app/IniFile.h"
#include "base/Convert.h"

#include <algorithm>

namespace vtr {

namespace {

const QString kSection = QStringLiteral("OPTGLOBAL");

int HexPair(const QString& two)
{
  bool ok = false;
  const int v = two.toInt(&ok, 16);
  if (!ok || two.size() != 2 || two.startsWith(u'+') || two.startsWith(u'-'))
    ThrowNotInteger(("$" + two).toStdString());
  return v;
}

QColor ReadColor(const IniFile& ini, const QString& key, const QColor& def)
{
  const QString text = ini.ReadString(kSection, key, TColorToStrRGB(def));
  // Anything but "#RRGGBB" keeps the default rather than failing start-up.
  return IsColorText(text) ? StrRGBToTColor(text) : def;
}

int8_t ReadInt8(const IniFile& ini, const QString& key, int8_t def)
{
  const int32_t v = ini.ReadInteger(kSection, key, def);
  return (v < INT8_MIN || v > INT8_MAX) ? def : static_cast<int8_t>(v);
}

} // namespace

QString TColorToStrRGB(const QColor& ClrIn)
{
  const QColor c = ClrIn.toRgb();
  return QStringLiteral("#%1%2%3")
      .arg(c.red(), 2, 16, QChar(u'0'))
      .arg(c.green(), 2, 16, QChar(u'0'))
      .arg(c.blue(), 2, 16, QChar(u'0'))
      .toUpper();
}

QColor StrRGBToTColor(const QString& strClrIn)
{
  const QString hex = strClrIn.mid(1, 6);
  return QColor(HexPair(hex.mid(0, 2)), HexPair(hex.mid(2, 2)), HexPair(hex.mid(4, 2)));
}

bool IsColorText(const QString& text)
{
  if (text.size() != 7 || text[0] != u'#')
    return false;
  auto hex = [](QChar c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
  };
  return std::all_of(text.begin() + 1, text.end(), hex);
}

void GlobalSettings::LoadOptGlobal(const QString& path)
{
  *this = GlobalSettings();
  IniFile ini(path);
  if (!ini.Exists())
    return;
  const GlobalSettings d;
  OptGlobHdgArrowEn = ReadInt8(ini, QStringLiteral("HdgArrowEn"), d.OptGlobHdgArrowEn);
  OptGlobHdgArrowClr = ReadColor(ini, QStringLiteral("HdgArrowClr"), d.OptGlobHdgArrowClr);
  OptGlobHdgArrowLen = ini.ReadInteger(kSection, QStringLiteral("HdgArrowLen"), d.OptGlobHdgArrowLen);
  OptGlobUDBActiveClr = ReadColor(ini, QStringLiteral("UDBActiveClr"), d.OptGlobUDBActiveClr);
  OptGlobUDBInactiveClr = ReadColor(ini, QStringLiteral("UDBInactiveClr"), d.OptGlobUDBInactiveClr);
  OptGlobMSUnits = ini.ReadString(kSection, QStringLiteral("MSUnits"), d.OptGlobMSUnits);
  OptGlobAutoUpdEn = ReadInt8(ini, QStringLiteral("AutoUpdEn"), d.OptGlobAutoUpdEn);
}

void GlobalSettings::SaveOptGlobal(const QString& path) const
{
  IniFile ini(path);
  ini.WriteInteger(kSection, QStringLiteral("HdgArrowEn"), OptGlobHdgArrowEn);
  ini.WriteString(kSection, QStringLiteral("HdgArrowClr"), TColorToStrRGB(OptGlobHdgArrowClr));
  ini.WriteInteger(kSection, QStringLiteral("HdgArrowLen"), OptGlobHdgArrowLen);
  ini.WriteString(kSection, QStringLiteral("UDBActiveClr"), TColorToStrRGB(OptGlobUDBActiveClr));
  ini.WriteString(kSection, QStringLiteral("UDBInactiveClr"), TColorToStrRGB(OptGlobUDBInactiveClr));
  ini.WriteString(kSection, QStringLiteral("MSUnits"), OptGlobMSUnits);
  ini.WriteInteger(kSection, QStringLiteral("AutoUpdEn"), OptGlobAutoUpdEn);
  ini.UpdateFile();
}

} // namespace vtr
