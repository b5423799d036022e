#pragma once
// The unit store: the one place that reads and writes unit records, the `unit` elements of the
// main window's scenario document. It holds no state: every call looks the unit up afresh.

#include "base/CheckState.h"
#include "base/DateTime.h"
#include "base/TextLists.h"
#include "xml/XmlDocument.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>

namespace vtr {

// What the store needs from its owner (the main window).
class IUnitStoreHost
{
public:
  virtual ~IUnitStoreHost() = default;
  virtual XmlDocument& ScenarioDocument() = 0;
  // Identifier the next new unit receives (`intUnits`).
  virtual uint32_t UnitCounter() const = 0;
  // `OptGlobHdgArrowEn`: 1 gives new units a heading arrow.
  virtual int8_t HdgArrowDefault() const = 0;
};

// 4,294,967,295 stands for "no unit".
inline constexpr uint32_t kNoUnit = 0xFFFFFFFFu;

class TfrmUnit1
{
public:
  explicit TfrmUnit1(IUnitStoreHost& host) : host_(host) {}
  TfrmUnit1(const TfrmUnit1&) = delete;
  TfrmUnit1& operator=(const TfrmUnit1&) = delete;

  // Shows the scenario options dialog modally; set by the application.
  std::function<void()> OnShowScenarioOptions;

  void UnitAdd(const QString& strType, const QString& strName, const QString& strLat,
               const QString& strLon);
  void UnitName(uint32_t intUnitID, const QString& strName);
  void UnitNotes(uint32_t intUnitID, const QString& strNotes);
  void UnitLat(uint32_t intUnitID, const QString& strLat);
  void UnitLon(uint32_t intUnitID, const QString& strLon);
  void UnitAlt(uint32_t intUnitID, const QString& strAlt);
  void UnitHdg(uint32_t intUnitID, const QString& strHdg);
  void UnitSpeed(uint32_t intUnitID, const QString& strSpeed);
  void UnitSensor(uint32_t intUnitID, const QString& strSens, int chkState);
  void UnitHdgArrow(uint32_t intUnitID, int chkState);

  // dtWhen has no effect; callers pass 0.
  QString GetUnit(uint32_t intUnitID, const QString& strItem, double dtWhen = 0) const;
  TCheckBoxState GetUnitSens(uint32_t intUnitID, const QString& strItem) const;
  TCheckBoxState GetUnitHdgArrow(uint32_t intUnitID) const;
  static QString GetUnitSensXML(XmlNode xndSensors, const QString& strItem);

  // Converts the lines of a scenario file (any version, 0 to 7) into the version-7 document
  // and returns "in: v." + the version found + " out: v.7". stlScenIn is left holding
  // intermediate text; xmlScenIn is changed only on success. Raises EScenarioTooNew for a
  // newer file (the caller shows its message and ends the program), EConvertError or
  // EXmlError for damaged input (ScenarioConvert.h).
  QString VersionSaveConvert(TextLines& stlScenIn, XmlDocument& xmlScenIn);
  // Stores the scenario start time in the "start" timestamp, creating it when missing.
  void SetScenTime(TDateTime dtScen);

  // The unit element with that identifier, or a null node.
  XmlNode FindUnit(uint32_t intUnitID) const;

private:
  // Sets the text of the status child named item (ignoring case), when unit and child exist.
  void SetStatusItem(uint32_t intUnitID, std::string_view item, const std::string& text);
  XmlNode UnitsElement() const;

  IUnitStoreHost& host_;
};

// The first child of parent named childName (compared with case) whose attribute attrName
// (name ignoring case, missing reads as empty) equals attrValue exactly; null when none.
XmlNode FindChildByAttribute(XmlNode parent, std::string_view childName, std::string_view attrName,
                             std::string_view attrValue);

// The ten sensor kinds in document order.
inline constexpr const char* kSensorTypes[10] = {"ASR", "SSR", "AS",  "PS",  "TS",
                                                 "ESM", "Vis", "IR", "MAD", "Oth"};

} // namespace vtr
