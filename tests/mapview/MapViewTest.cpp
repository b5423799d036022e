// Map views on the main window: their layers in the shared database, their presenters, the
// units' two map points, sizes that follow the zoom, and the start-up that opens the database.
#include "mapview/MapView.h"

#include "app/MainWindow.h"
#include "globe/GGlobe.h"
#include "globe/GLYRReader.h"
#include "globe/GLayer.h"
#include "globe/GObjectSource.h"
#include "globe/GSpatialDatabase.h"
#include "mapview/VTRPointPresenter.h"
#include "tools/lyrfile/LYRFileWriter.h"

#include "app/AppFixture.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace vtr {
namespace {

constexpr const char* kKinds[6] = {"uSpace", "uAir",        "uSurface",
                                   "uLand",  "uSubsurface", "uOrdnance"};

class MapView : public vtrtest::AppFixture
{
protected:
  // A program folder with the six symbols (red squares of 32 pixels on white) and a world
  // outline of two squares.
  void SetUp() override
  {
    AppFixture::SetUp();
    QDir(dir.path()).mkpath("icons");
    for (const char* kind : kKinds) {
      QImage symbol(32, 32, QImage::Format_RGB32);
      symbol.fill(Qt::white);
      for (int y = 8; y < 24; ++y)
        for (int x = 8; x < 24; ++x)
          symbol.setPixel(x, y, qRgb(255, 0, 0));
      ASSERT_TRUE(symbol.save(Path(QString("icons/%1.bmp").arg(kind)), "BMP"));
    }
    WriteOutline(2);
  }
  // A world outline of n small squares.
  void WriteOutline(int n)
  {
    QDir(dir.path()).mkpath("GIS");
    TGMemoryObjectSource source;
    for (int i = 0; i < n; ++i) {
      auto poly = std::make_shared<TGMapPoly>();
      TGPointStore& ring = poly->Chains().Last();
      for (const auto& [lon, lat] : {std::pair{0, 0}, {0, 1}, {1, 1}, {1, 0}})
        ring.AddDD(lat + 10 * i, lon);
      poly->SetClosed(true);
      poly->SetPresenterID(1);
      poly->Invalidate();
      source.Add(poly);
    }
    SaveLYRFile(Path("GIS/WorldOutline.lyr").toStdString(), source);
  }
  static TTSSFrame1& View(TfrmMockup03& w, size_t i) { return *w.stl.at(i).second; }
  static TGUID LayerGUID(TTSSFrame1& v, const std::string& name)
  {
    TGLayer* layer = v.Globe->Layers().LayerByName(name);
    return layer ? layer->ObjectSource().UniqueID() : NullGUID;
  }
  static int32_t ObjectCount(TGLayer* layer)
  {
    int32_t n = 0;
    layer->ObjectSource().ForEach(DDToMER(-180, -90, 360, 180), [&n](TGPrimaryKey) {
      ++n;
      return true;
    });
    return n;
  }
  // The presenters of the layer as "number:name" in store order.
  static std::vector<std::string> Presenters(TGLayer* layer)
  {
    std::vector<std::string> out;
    for (int32_t i = 0; i < layer->Presenters().Count(); ++i) {
      const TGPresenter& p = layer->Presenters().GetPresenter(i);
      out.push_back(std::to_string(p.PresenterID()) + ":" + p.Name());
    }
    return out;
  }
};

TEST_F(MapView, StartUpOpensTheDatabaseAndTheFirstViewMakesItsLayers)
{
  TfrmMockup03 w;
  ASSERT_EQ(w.stl.size(), 1u);
  EXPECT_EQ(w.stl[0].first, "0");
  TTSSFrame1& v = View(w, 0);
  EXPECT_EQ(v.objectName(), "Frame0");
  EXPECT_EQ(w.pct1->tabText(0), "Main Map");
  EXPECT_TRUE(QFile::exists(Path("temp.sdb")));

  TGLayer* units = v.UnitsLayer();
  TGLayer* arrows = v.ArrowsLayer();
  ASSERT_TRUE(units && arrows);
  EXPECT_TRUE(units->Selectable() && units->Enabled());
  EXPECT_FALSE(arrows->Selectable() || arrows->Enabled());
  const std::vector<std::string> unitPresenters = Presenters(units);
  ASSERT_EQ(unitPresenters.size(), 6u);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(unitPresenters[i], std::to_string(i + 1) + ":" + kKinds[i]);
  const std::vector<std::string> arrowPresenters = Presenters(arrows);
  ASSERT_EQ(arrowPresenters.size(), 360u);
  EXPECT_EQ(arrowPresenters.front(), "1:Arrow000");
  EXPECT_EQ(arrowPresenters[7], "8:Arrow007");
  EXPECT_EQ(arrowPresenters.back(), "360:Arrow359");

  auto* air = dynamic_cast<TGVTRPointPresenter*>(units->Presenters().ByName("uAir"));
  ASSERT_NE(air, nullptr);
  EXPECT_EQ(air->PointType(), TGVTRPointPresenterType::ppImage);
  EXPECT_EQ(air->MaxPointSize(), 32); // the image's width
  ASSERT_TRUE(air->Image());
  EXPECT_EQ(air->Image()->TransparentColor(), clWhite);
  EXPECT_EQ(air->Image()->AlphaBlend(), 254);
  EXPECT_EQ(air->TitleAlignment(), taTop);
  EXPECT_EQ(air->TitleFont().Color(), 0x00FFFFu); // the inactive data-block colour, yellow

  TGLayer* outline = v.Globe->Layers().LayerByName("WorldOutline");
  ASSERT_NE(outline, nullptr);
  EXPECT_EQ(ObjectCount(outline), 2);
  EXPECT_FALSE(v.edtName->isEnabled()); // no unit shown yet
}

TEST_F(MapView, ASecondViewSharesTheUnitLayersAndImportsTheOutlineAfresh)
{
  TfrmMockup03 w;
  TTSSFrame1& first = View(w, 0);
  const TGUID units = LayerGUID(first, "Units");
  const TGUID outline = LayerGUID(first, "WorldOutline");
  WriteOutline(3);

  TTSSFrame1& second = w.CreateMapView();
  EXPECT_EQ(second.objectName(), "Frame1");
  EXPECT_EQ(w.pct1->tabText(1), "New Map 01");
  EXPECT_EQ(LayerGUID(second, "Units"), units);
  EXPECT_EQ(Presenters(second.UnitsLayer()), Presenters(first.UnitsLayer()));
  EXPECT_EQ(Presenters(second.ArrowsLayer()), Presenters(first.ArrowsLayer()));
  EXPECT_EQ(Presenters(second.ArrowsLayer()).size(), 360u);
  // The outline is replaced for every view, and the database holds it once.
  const TGUID fresh = LayerGUID(second, "WorldOutline");
  EXPECT_NE(fresh, outline);
  EXPECT_EQ(LayerGUID(first, "WorldOutline"), fresh);
  EXPECT_EQ(ObjectCount(first.Globe->Layers().LayerByName("WorldOutline")), 3);
  int outlines = 0;
  for (int i = 0; i < w.SpatialDatabase().Layers().Count(); ++i)
    outlines += w.SpatialDatabase().Layers().Layer(i).Name() == "WorldOutline";
  EXPECT_EQ(outlines, 1);
}

TEST_F(MapView, PlacingANewUnitPutsItsPointsInBothLayersAndTheStore)
{
  TfrmMockup03 w;
  TTSSFrame1& v = View(w, 0);
  int optionsShown = 0;
  w.frmUnit1->OnShowScenarioOptions = [&] { ++optionsShown; };
  w.intUnits = 5;
  const int32_t serial = w.intUnitsSer;
  v.pntSel = DDToPointLL(-0.125, 23.5);
  v.AddObject("Units", "Air 5", "uAir", kNoUnit, true);

  const auto unit = v.UnitsLayer()->ObjectByUserID("5");
  const auto arrow = v.ArrowsLayer()->ObjectByUserID("5");
  ASSERT_TRUE(unit && arrow);
  EXPECT_EQ(unit->GetAttribute(0), "Air 5");
  EXPECT_EQ(unit->PresenterID(), 2);
  EXPECT_EQ(unit->Centroid(), v.pntSel);
  EXPECT_EQ(arrow->PresenterID(), 1); // Arrow000
  EXPECT_EQ(arrow->Centroid(), v.pntSel);
  EXPECT_TRUE(unit->Selected());

  EXPECT_EQ(optionsShown, 1); // the first unit of the scenario asks for its start time
  EXPECT_EQ(w.frmUnit1->GetUnit(5, "Name"), "Air 5");
  EXPECT_EQ(w.frmUnit1->GetUnit(5, "ObjType"), "uAir");
  EXPECT_EQ(w.frmUnit1->GetUnit(5, "Lat"), "23.5");
  EXPECT_EQ(w.frmUnit1->GetUnit(5, "Lon"), "-.125");
  EXPECT_EQ(w.intUnitsSer, serial + 1);
  EXPECT_EQ(v.intUnitsSer, w.intUnitsSer);
  // The panel shows it.
  EXPECT_TRUE(v.edtName->isEnabled());
  EXPECT_EQ(v.edtName->text(), "Air 5");
  EXPECT_EQ(v.edtLat->text(), "23.30.00N");
  EXPECT_EQ(v.edtLon->text(), "0.07.30W");

  // Another view sees the same points.
  TTSSFrame1& other = w.CreateMapView();
  EXPECT_TRUE(other.UnitsLayer()->ObjectByUserID("5"));
  EXPECT_TRUE(other.ArrowsLayer()->ObjectByUserID("5"));
}

TEST_F(MapView, ArrowsOfStoredUnitsFollowHeadingAndMark)
{
  TfrmMockup03 w;
  TTSSFrame1& v = View(w, 0);
  struct Case
  {
    const char* hdg;
    TCheckBoxState mark;
    int32_t presenter; // of the arrow point
  };
  const Case cases[] = {
      {"7", cbChecked, 8},     // Arrow007
      {"359", cbChecked, 360}, // Arrow359
      {"367", cbChecked, 8},   // reduced modulo 360
      {"-90", cbChecked, 271}, // Arrow270
      {"45", cbUnchecked, 0},  // no arrow
      {"45", cbGrayed, 46},    // a grayed mark still shows it
  };
  uint32_t id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.hdg) + " mark " + std::to_string(c.mark));
    w.intUnits = id;
    w.frmUnit1->UnitAdd("uSurface", "Ship", "10", "20");
    w.frmUnit1->UnitHdg(id, c.hdg);
    w.frmUnit1->UnitHdgArrow(id, c.mark);
    w.frmUnit1->UnitAlt(id, "100");
    v.AddObject("Units", "Ship", "uSurface", id, false);
    const auto unit = v.UnitsLayer()->ObjectByUserID(std::to_string(id));
    const auto arrow = v.ArrowsLayer()->ObjectByUserID(std::to_string(id));
    ASSERT_TRUE(unit && arrow);
    EXPECT_EQ(arrow->PresenterID(), c.presenter);
    EXPECT_EQ(unit->PresenterID(), 3);
    EXPECT_EQ(unit->Centroid(), PointLLH(DDToGU(20), DDToGU(10), UnitsToGU(guMeter, 100)));
    EXPECT_EQ(arrow->Centroid(), unit->Centroid());
    EXPECT_FALSE(unit->Selected());
    ++id;
  }
}

TEST_F(MapView, ArrowSwitchOffKeepsThePresentersButDrawsNothing)
{
  TfrmMockup03 w;
  TTSSFrame1& v = View(w, 0);
  w.OptGlobHdgArrowEn = 0;
  v.MakeArrowPresenters();
  ASSERT_EQ(v.ArrowsLayer()->Presenters().Count(), 360);
  for (const char* name : {"Arrow000", "Arrow180"}) {
    auto* p = dynamic_cast<TGPointPresenter*>(v.ArrowsLayer()->Presenters().ByName(name));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->PointPen().Style(), gpsClear);
    EXPECT_EQ(p->PointBrush().Style(), gbsClear);
  }
  w.OptGlobHdgArrowEn = 1;
  v.MakeArrowPresenters();
  auto* p = dynamic_cast<TGPointPresenter*>(v.ArrowsLayer()->Presenters().ByName("Arrow090"));
  EXPECT_EQ(p->PresenterID(), 91);
  EXPECT_EQ(p->PointPen().Style(), gpsSolid);
  EXPECT_EQ(p->PointPen().Width(), 2);
  EXPECT_EQ(p->PointPen().Color(), clWhite);
}

TEST_F(MapView, SymbolsAndArrowsFollowTheZoomAndVanishFarOut)
{
  TfrmMockup03 w;
  TTSSFrame1& v = View(w, 0);
  const TGPoint at = v.Globe->Projector().CenterXY();
  ASSERT_TRUE(v.Globe->Projector().DeviceXYToLL(at.X, at.Y, v.pntSel));
  v.AddObject("Units", "Hawk", "uAir", kNoUnit, false);
  auto* air = dynamic_cast<TGPointPresenter*>(v.UnitsLayer()->Presenters().ByName("uAir"));
  auto* arrow = dynamic_cast<TGPointPresenter*>(v.ArrowsLayer()->Presenters().ByName("Arrow000"));
  // Beside the arrow's shaft, which starts at the unit and points up; the symbol is drawn with
  // alpha 254, so its red comes out a shade darker.
  const auto redAtTheUnit = [&] {
    v.Globe->RenderFrame();
    const TGBitmap& buffer = dynamic_cast<TGDefaultRenderer&>(v.Globe->Renderer()).BackBuffer();
    const TColor c = buffer.GetPixel(at.X - 3, at.Y + 3);
    return (c & 0xFF) > 200 && ((c >> 8) & 0xFF) < 50 && ((c >> 16) & 0xFF) < 50;
  };

  v.Globe->Projector().SetGUPerPixel(2'000'000); // the zoomed event resizes the presenters
  EXPECT_EQ(air->PointSize(), 20);
  EXPECT_EQ(air->TitleOffset(), 10);
  EXPECT_EQ(air->TitleFont().Size(), 10);
  EXPECT_EQ(arrow->PointSize(), 30);
  EXPECT_TRUE(redAtTheUnit());

  // The projector zooms out no further than 20,000,000 GU a pixel; the sizes go on shrinking
  // beyond it, to nothing.
  v.SizeUnitPresenter("uAir", 25'000'000);
  v.SizeArrowPresenters(25'000'000);
  EXPECT_EQ(air->PointSize(), 0);
  EXPECT_EQ(arrow->PointSize(), 0);
  EXPECT_FALSE(redAtTheUnit());

  v.Globe->Projector().SetGUPerPixel(5'000);
  EXPECT_EQ(air->PointSize(), 32);
  EXPECT_EQ(arrow->PointSize(), 65);
}

TEST_F(MapView, ANextStartDropsTheUnitLayersOfThePreviousRun)
{
  {
    TfrmMockup03 w;
    View(w, 0).AddObject("Units", "Hawk", "uAir", kNoUnit, false);
    EXPECT_EQ(ObjectCount(View(w, 0).UnitsLayer()), 1);
  }
  TfrmMockup03 w;
  EXPECT_EQ(ObjectCount(View(w, 0).UnitsLayer()), 0);
  EXPECT_EQ(ObjectCount(View(w, 0).ArrowsLayer()), 0);
  EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
}

TEST_F(MapView, ADatabaseWhoseLayersAreDamagedIsSetAsideToo)
{
  // Its catalog opens, but dropping the old unit layers and compacting read every row.
  {
    TGSpatialDatabase db;
    db.SetDataSourceName(Path("temp.sdb").toStdString());
    db.Open();
    std::unique_ptr<TGFileDataReader> reader =
        DataReaderForFile(nullptr, VTR_PROGRAM_DIR "/GIS/WorldOutline.lyr");
    ASSERT_TRUE(reader);
    db.ImportLayer(reader.get());
    db.CreateLayer("Units");
  }
  {
    QFile f(Path("temp.sdb"));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(4096 + 8192 * 40 + 100));
    f.write(QByteArray(4000, 0x55));
  }
  {
    TGSpatialDatabase check;
    check.SetDataSourceName(Path("temp.sdb").toStdString());
    check.Open();
    ASSERT_ANY_THROW(check.Compact()); // the damage reached the rows
  }
  TfrmMockup03 w;
  EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
  ASSERT_EQ(w.stl.size(), 1u);
  EXPECT_TRUE(View(w, 0).UnitsLayer());
  EXPECT_TRUE(QFile::exists(Path("temp.sdb.bad")));
}

TEST_F(MapView, DamagedOptionalFilesAreReportedAndTheViewIsBuiltWithoutThem)
{
  // A truncated environment file and a cut world outline.
  {
    QFile env(Path("temp.env"));
    ASSERT_TRUE(env.open(QIODevice::WriteOnly));
    env.write("<Globe><Projector Class=\"TGSphericalPrj\"");
    QFile outline(Path("GIS/WorldOutline.lyr"));
    ASSERT_TRUE(outline.open(QIODevice::ReadWrite));
    outline.resize(40);
  }
  TfrmMockup03 w;
  ASSERT_EQ(w.stl.size(), 1u);
  TTSSFrame1& v = View(w, 0);
  EXPECT_TRUE(v.UnitsLayer() && v.ArrowsLayer());
  EXPECT_EQ(v.UnitsLayer()->Presenters().Count(), 6);
  EXPECT_FALSE(v.Globe->Layers().LayerByName("WorldOutline"));
  ASSERT_EQ(messages.size(), 2) << messages.join("\n").toStdString();
  EXPECT_TRUE(messages[1].contains("WorldOutline.lyr")) << messages[1].toStdString();
  // The damaged environment file is kept as it was.
  QFile env(Path("temp.env"));
  ASSERT_TRUE(env.open(QIODevice::ReadOnly));
  EXPECT_EQ(env.readAll(), QByteArray("<Globe><Projector Class=\"TGSphericalPrj\""));
}

TEST_F(MapView, ADatabaseThatCannotBeOpenedIsSetAsideAndANewOneStarted)
{
  {
    QFile junk(Path("temp.sdb"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(20000, 'x'));
  }
  TfrmMockup03 w;
  EXPECT_TRUE(messages.isEmpty()) << messages.join("\n").toStdString();
  ASSERT_EQ(w.stl.size(), 1u);
  EXPECT_TRUE(View(w, 0).UnitsLayer());
  QFile aside(Path("temp.sdb.bad"));
  ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
  EXPECT_EQ(aside.readAll(), QByteArray(20000, 'x'));
  bool logged = false;
  for (const QString& line : w.DebugLog()->Lines())
    logged = logged || line.contains("temp.sdb.bad");
  EXPECT_TRUE(logged);
}

} // namespace
} // namespace vtr
