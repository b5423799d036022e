#pragma once
// The seven global settings of "Vantrel.ini", section [OPTGLOBAL].

#include <QColor>
#include <QString>

#include <cstdint>

namespace vtr {

// Map-scale keys and the options dialog's entries for them, in the dialog's order.
struct MapScaleKey
{
  const char* entry;
  const char* key;
};
inline constexpr MapScaleKey kMapScaleKeys[9] = {
    {"Auto Mile/Yard/Foot", "mniMSAutoMYF"}, {"Auto NM/Foot", "mniMSAutonmF"},
    {"Auto KM/M", "mniMSAutokmm"},           {"Nautical Mile", "mniMSnm"},
    {"Statute Mile", "mniMSsm"},             {"Yard", "mniMSy"},
    {"Foot", "mniMSf"},                      {"Kilometer", "mniMSkm"},
    {"Meter", "mniMSm"}};

// Fields of the main window; the defaults are those of a missing file.
struct GlobalSettings
{
  int8_t OptGlobHdgArrowEn = 1;
  QColor OptGlobHdgArrowClr{0xFF, 0xFF, 0xFF};
  int32_t OptGlobHdgArrowLen = 75;
  QColor OptGlobUDBActiveClr{0xFF, 0x00, 0x00};
  QColor OptGlobUDBInactiveClr{0xFF, 0xFF, 0x00};
  QString OptGlobMSUnits = QStringLiteral("mniMSnm");
  int8_t OptGlobAutoUpdEn = 1;

  // Reads the file at path; a missing file, key or unreadable value gives its default.
  void LoadOptGlobal(const QString& path);
  // Writes the seven keys in order, keeping everything else in the file. Raises
  // std::runtime_error "Unable to write to <path>" when the file cannot be written.
  void SaveOptGlobal(const QString& path) const;
};

// "#RRGGBB" with upper-case hexadecimal digits.
QString TColorToStrRGB(const QColor& ClrIn);
// Reads the six characters after the first as red, green, blue in hexadecimal (either case).
// Raises EConvertError when they are not hexadecimal.
QColor StrRGBToTColor(const QString& strClrIn);
// Whether text is "#" followed by exactly six hexadecimal digits.
bool IsColorText(const QString& text);

} // namespace vtr
