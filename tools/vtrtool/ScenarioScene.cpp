// vtrtool render SCENARIO: a map view built as the program builds its first tab, on a database
// of its own in a scratch folder, with the scenario's units put on it as loading a scenario
// puts them; the view's own code draws them, nothing is copied.
#include "Command.h"
#include "RenderSetup.h"

#include "app/ProgramFolder.h"
#include "app/Settings.h"
#include "base/Convert.h"
#include "globe/GSpatialDatabase.h"
#include "mapview/MapView.h"
#include "mapview/MapViewHost.h"
#include "scenario/ScenarioFile.h"
#include "scenario/UnitStore.h"
#include "xml/XmlDocument.h"

#include <QTemporaryDir>

#include <algorithm>
#include <optional>

namespace vtrtool {

namespace {

class ScenarioScene : public RenderScene, public vtr::IMapViewHost, public vtr::IUnitStoreHost
{
public:
  explicit ScenarioScene(const std::string& file)
  {
    try {
      vtr::LoadScenarioFile(QString::fromLocal8Bit(file.c_str()), doc);
    } catch (const std::exception& e) {
      throw InputError{e.what()};
    }
    settings.LoadOptGlobal(vtr::ProgramFolder() + "Vantrel.ini");
    if (!scratch.isValid()) throw InputError{"cannot make a scratch folder for the map's database"};
    db.SetDataSourceName((scratch.path() + "/render.sdb").toStdString());
    db.Open();
    view = std::make_unique<vtr::TTSSFrame1>(*this);
  }
  ~ScenarioScene() override
  {
    view.reset(); // before the database it shows
  }

  // Every unit of the document, as loading a scenario puts them on the first view.
  void PutUnitsOnTheMap()
  {
    uint32_t highest = 0;
    bool any = false;
    for (const vtr::XmlNode& unit : doc.Root().ChildByName("units").Children()) {
      const std::string idText = unit.AttributeText("id");
      const std::optional<int64_t> number = vtr::TryStrToInt64(idText);
      if (!number || *number < 0 || *number >= vtr::kNoUnit)
        throw InputError{"unit id \"" + idText + "\" is not a unit identifier"};
      const auto id = static_cast<uint32_t>(*number);
      const vtr::XmlNode status = unit.ChildByName("status");
      view->AddObject("Units", QString::fromStdString(status.ChildText("name")),
                      QString::fromStdString(status.ChildText("objtype")), id, false);
      highest = std::max(highest, id);
      any = true;
    }
    units = any ? highest + 1 : 0;
  }

  vtr::TGGlobe& Globe() override { return *view->Globe; }

  const vtr::GlobalSettings& Settings() const override { return settings; }
  vtr::TfrmUnit1& UnitStore() override { return store; }
  vtr::XmlDocument& ScenarioDocument() override { return doc; }
  vtr::TGSpatialDatabase& SpatialDatabase() override { return db; }
  void LogIt(const QString&) override {}
  uint32_t UnitCounter() const override { return units; }
  int8_t HdgArrowDefault() const override { return settings.OptGlobHdgArrowEn; }
  int32_t UnitsSerial() const override { return serial; }
  int32_t RaiseUnitsSerial() override { return ++serial; }
  int32_t GlobMSUnitsSerial() const override { return 0; }
  // What the map view cannot read makes the picture wrong: the command fails.
  void ReportError(const std::exception& e) override { throw InputError{e.what()}; }
  bool WritesProgramFolder() const override { return false; }

private:
  vtr::XmlDocument doc;
  vtr::GlobalSettings settings;
  vtr::TfrmUnit1 store{*this};
  QTemporaryDir scratch;
  vtr::TGSpatialDatabase db;
  std::unique_ptr<vtr::TTSSFrame1> view;
  uint32_t units = 0;
  int32_t serial = 0;
};

} // namespace

std::unique_ptr<RenderScene> MakeScenarioScene(const RenderOptions& options)
{
  auto scene = std::make_unique<ScenarioScene>(options.scenario);
  try {
    scene->PutUnitsOnTheMap();
  } catch (const std::exception& e) {
    throw InputError{std::string("cannot put the scenario's units on the map: ") + e.what()};
  }
  ConfigureRenderGlobe(scene->Globe(), options);
  return scene;
}

} // namespace vtrtool
