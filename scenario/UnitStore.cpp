#include "scenario/UnitStore.h"

#include "base/Convert.h"

namespace vtr {

namespace {

std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }
QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

XmlNode FindChildByAttribute(XmlNode parent, std::string_view childName, std::string_view attrName,
                             std::string_view attrValue)
{
  for (XmlNode c : parent.Children())
    if (c.Name() == childName && c.AttributeText(attrName) == attrValue)
      return c;
  return {};
}

XmlNode TfrmUnit1::UnitsElement() const { return host_.ScenarioDocument().Root().ChildByName("units"); }

XmlNode TfrmUnit1::FindUnit(uint32_t intUnitID) const
{
  for (XmlNode u : UnitsElement().Children()) {
    // A damaged id stops the lookup with the conversion error.
    const int64_t id = StrToInt64(u.AttributeText("id"));
    if (static_cast<uint64_t>(id) == intUnitID)
      return u;
  }
  return {};
}

void TfrmUnit1::UnitAdd(const QString& strType, const QString& strName, const QString& strLat,
                        const QString& strLon)
{
  XmlNode units = UnitsElement();
  if (units.ChildCount() > 0 && OnShowScenarioOptions)
    OnShowScenarioOptions();

  // Convert first, so bad text leaves the document as it was.
  const std::string lat = FloatToNumText(StrToFloat(Utf8(strLat)));
  const std::string lon = FloatToNumText(StrToFloat(Utf8(strLon)));

  XmlNode unit = units.AppendChild("unit");
  unit.AppendAttribute("id", std::to_string(host_.UnitCounter()));
  unit.AppendAttribute("timecreate", "0.0");
  unit.AppendAttribute("timecurrent", "0.0");
  XmlNode status = unit.AppendChild("status");
  status.AppendAttribute("timestamp", "0.0");
  status.AppendAttribute("revision", "0.0");
  status.AppendChild("objtype").SetText(Utf8(strType));
  status.AppendChild("name").SetText(Utf8(strName));
  status.AppendChild("class");
  status.AppendChild("lat").SetText(lat);
  status.AppendChild("lon").SetText(lon);
  status.AppendChild("alt").SetText("0");
  status.AppendChild("hdg").SetText("0");
  status.AppendChild("speed").SetText("0");
  status.AppendChild("hdgarrow").SetTextInt(host_.HdgArrowDefault());
  XmlNode sensors = status.AppendChild("sensors");
  for (const char* type : kSensorTypes) {
    XmlNode s = sensors.AppendChild("sensor");
    s.AppendAttribute("type", type);
    s.AppendChild("d");
    s.AppendChild("e");
  }
  status.AppendChild("notes");
}

void TfrmUnit1::SetStatusItem(uint32_t intUnitID, std::string_view item, const std::string& text)
{
  XmlNode child = FindUnit(intUnitID).ChildByName("status").ChildByName(item);
  child.SetText(text);
}

void TfrmUnit1::UnitName(uint32_t intUnitID, const QString& strName)
{
  SetStatusItem(intUnitID, "name", Utf8(strName));
}

void TfrmUnit1::UnitNotes(uint32_t intUnitID, const QString& strNotes)
{
  SetStatusItem(intUnitID, "notes", Utf8(strNotes));
}

void TfrmUnit1::UnitLat(uint32_t intUnitID, const QString& strLat)
{
  SetStatusItem(intUnitID, "lat", FloatToNumText(StrToFloat(Utf8(strLat))));
}

void TfrmUnit1::UnitLon(uint32_t intUnitID, const QString& strLon)
{
  SetStatusItem(intUnitID, "lon", FloatToNumText(StrToFloat(Utf8(strLon))));
}

void TfrmUnit1::UnitAlt(uint32_t intUnitID, const QString& strAlt)
{
  SetStatusItem(intUnitID, "alt", IntToStr(StrToInt(Utf8(strAlt))));
}

void TfrmUnit1::UnitHdg(uint32_t intUnitID, const QString& strHdg)
{
  SetStatusItem(intUnitID, "hdg", IntToStr(StrToInt(Utf8(strHdg))));
}

void TfrmUnit1::UnitSpeed(uint32_t intUnitID, const QString& strSpeed)
{
  SetStatusItem(intUnitID, "speed", IntToStr(StrToInt(Utf8(strSpeed))));
}

void TfrmUnit1::UnitSensor(uint32_t intUnitID, const QString& strSens, int chkState)
{
  const std::string sens = Utf8(strSens);
  if (sens.empty())
    return;
  XmlNode sensors = FindUnit(intUnitID).ChildByName("status").ChildByName("sensors");
  XmlNode sensor = FindChildByAttribute(sensors, "sensor", "type", sens.substr(1));
  sensor.ChildByName(sens[0] == 'e' ? "e" : "d").SetText(CheckStateText(chkState));
}

void TfrmUnit1::UnitHdgArrow(uint32_t intUnitID, int chkState)
{
  SetStatusItem(intUnitID, "hdgarrow", CheckStateText(chkState));
}

QString TfrmUnit1::GetUnitSensXML(XmlNode xndSensors, const QString& strItem)
{
  const std::string item = Utf8(strItem);
  if (item.empty())
    return {};
  XmlNode sensor = FindChildByAttribute(xndSensors, "sensor", "type", item.substr(1));
  return FromUtf8(sensor.ChildText(item[0] == 'e' ? "e" : "d"));
}

QString TfrmUnit1::GetUnit(uint32_t intUnitID, const QString& strItem, double /*dtWhen*/) const
{
  XmlNode status = FindUnit(intUnitID).ChildByName("status");
  if (!status || strItem.isEmpty())
    return {};
  if (strItem[0] == u'd' || strItem[0] == u'e')
    return GetUnitSensXML(status.ChildByName("sensors"), strItem);
  return FromUtf8(status.ChildText(Utf8(strItem.toLower())));
}

TCheckBoxState TfrmUnit1::GetUnitSens(uint32_t intUnitID, const QString& strItem) const
{
  return CheckStateFromText(Utf8(GetUnit(intUnitID, strItem)));
}

TCheckBoxState TfrmUnit1::GetUnitHdgArrow(uint32_t intUnitID) const
{
  const TCheckBoxState fallback = host_.HdgArrowDefault() != 0 ? cbChecked : cbUnchecked;
  return CheckStateFromText(Utf8(GetUnit(intUnitID, QStringLiteral("HdgArrow"))), fallback);
}

} // namespace vtr
