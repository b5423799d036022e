// XML forms of map objects and of point and chain stores: what is written (and left out at its
// default), round trips of points, polys and rasters through the XML property, creation by
// class name, and loading into objects that already hold data.
#include "globe/GMapObject.h"

#include "globe/GXML.h"

#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

constexpr int32_t D = GU_DEGREE;
using vtrtest::ErrorText;

std::vector<TGPointLL> PointsOf(const TGPointStore& store)
{
  return {store.Points().begin(), store.Points().end()};
}

std::unique_ptr<TGPointStore> Ring(std::initializer_list<TGPointLL> points, bool height = false)
{
  auto ring = std::make_unique<TGPointStore>();
  ring->SetStoreHeight(height);
  for (const TGPointLL& p : points)
    ring->Add(p);
  return ring;
}

TEST(PointStoreXML, WritesOneLLPerPointWithTheHeightOnlyWhenNotZero)
{
  auto store = Ring({{D, 2 * D, 0}, {-3 * D, 4 * D, 17}}, true);
  TGXML_Element el("Chain");
  store->SaveToXML(el);
  EXPECT_EQ(el.XMLString(),
            "<Chain><LL>5400000,10800000</LL><LL>-16200000,21600000,17</LL></Chain>");

  TGPointStore back;
  back.SetStoreHeight(true);
  back.LoadFromXML(el);
  EXPECT_EQ(PointsOf(back), PointsOf(*store));

  // Without heights the third number is not kept.
  TGPointStore flat;
  flat.LoadFromXML(el);
  EXPECT_EQ(flat.GetLL(1), (TGPointLL{-3 * D, 4 * D, 0}));
}

TEST(PointStoreXML, ReadsMissingOrBadNumbersAsZeroAndWrapsLongitudes)
{
  TGXML_Document doc("Chain");
  doc.SetAsString("<Chain><LL>1,x,3</LL><LL>7</LL><LL></LL><Other>9,9</Other>"
                  "<LL>1944000001,5</LL></Chain>");
  TGPointStore store;
  store.SetStoreHeight(true);
  store.Add({1, 1, 1}); // replaced
  store.LoadFromXML(doc.Document());
  EXPECT_EQ(PointsOf(store), (std::vector<TGPointLL>{{1, 0, 3}, {7, 0, 0}, {0, 0, 0}, {1, 5, 0}}));
}

TEST(ChainStoreXML, RoundTripsChainsAndWritesStoreHeightOnlyWhenSet)
{
  TGChainStore chains;
  chains.Add(Ring({{0, 0, 0}, {D, 0, 0}, {D, D, 0}}));
  chains.Add(Ring({{5, 6, 0}}));
  TGXML_Element el("Chains");
  chains.SaveToXML(el);
  EXPECT_FALSE(el.HasAttribute("StoreHeight"));
  EXPECT_EQ(el.ElementCount("Chain"), 2);

  chains.SetStoreHeight(true);
  chains.GetChain(1).PutLL(0, {5, 6, -40});
  TGXML_Element high("Chains");
  chains.SaveToXML(high);
  EXPECT_EQ(high.Attribute("StoreHeight"), "T");

  TGChainStore back;
  back.Add(Ring({{9, 9, 0}})); // replaced
  TGXML_Document doc("Chains");
  doc.SetAsString(high.XMLString());
  back.LoadFromXML(doc.Document());
  ASSERT_EQ(back.Count(), 2);
  EXPECT_TRUE(back.StoreHeight());
  EXPECT_TRUE(back.GetChain(0).StoreHeight());
  EXPECT_EQ(PointsOf(back.GetChain(0)), PointsOf(chains.GetChain(0)));
  EXPECT_EQ(back.GetChain(1).GetLL(0), (TGPointLL{5, 6, -40}));
}

TEST(MapObjectXML, APointWritesOnlyWhatDiffersFromTheDefaults)
{
  TGMapPoint point;
  point.SetCentroid({D, -D / 2, 0});
  point.SetPresenterID(3);
  point.SetUserID("17");
  EXPECT_EQ(point.XML(), "<MapObject Class=\"TGMapPoint\" Centroid=\"5400000,-2700000\" "
                         "PresenterID=\"3\" UserID=\"17\" />");
}

TEST(MapObjectXML, APointRoundTripsThroughItsXMLProperty)
{
  TGMapPoint point;
  point.SetCentroid({-170 * D, 45 * D, 250});
  point.SetHidden(true);
  point.SetObjectDataCSL("\"Task force, north\",12.5");
  point.SetPresenterID(-4);
  point.SetUserID("  id with spaces");
  const std::string xml = point.XML();

  TGMapPoint back;
  back.SetXML(xml);
  EXPECT_EQ(back.Centroid(), (TGPointLL{-170 * D, 45 * D, 250}));
  EXPECT_TRUE(back.Hidden());
  EXPECT_EQ(back.GetAttribute(0), "Task force, north");
  EXPECT_EQ(back.GetValue(1), 12.5);
  EXPECT_EQ(back.PresenterID(), -4);
  EXPECT_EQ(back.UserID(), "id with spaces"); // values lose surrounding white space
  EXPECT_EQ(back.ObjectMER(), (TGMER{-170 * D, 45 * D, 1, 1}));
  point.SetUserID("id with spaces");
  EXPECT_EQ(back.XML(), point.XML());

  // Loading sets what the text leaves out back to its default.
  back.SetXML("<MapObject Class=\"TGMapPoint\" />");
  EXPECT_EQ(back.Centroid(), (TGPointLL{0, 0, 0}));
  EXPECT_FALSE(back.Hidden());
  EXPECT_EQ(back.ObjectDataCSL(), "");
  EXPECT_EQ(back.PresenterID(), 0);
  EXPECT_EQ(back.UserID(), "");

  EXPECT_NE(ErrorText([&] { back.SetXML("<MapObject Centroid=\"1,2\""); }).find("TGXML_Document"),
            std::string::npos);
}

TEST(MapObjectXML, APolyRoundTripsItsChainsAndIsHitWhereItsChainsAre)
{
  TGMapPoly poly;
  poly.SetClosed(true);
  poly.Chains().Add(Ring({{179 * D, 0, 0},
                          {-179 * D, 0, 0},
                          {-179 * D, 2 * D, 0},
                          {179 * D, 2 * D, 0}})); // across the meridian
  poly.Chains().Add(Ring({{10 * D, 10 * D, 0}, {12 * D, 10 * D, 0}, {11 * D, 12 * D, 0}}));
  poly.SetUserID("area");
  const std::string xml = poly.XML();
  EXPECT_NE(xml.find("Closed=\"T\""), std::string::npos);

  TGXML_Document doc("MapObject");
  doc.SetAsString(xml);
  auto back = std::dynamic_pointer_cast<IGMapPoly>(TGMapPoint::CreateFromXML(&doc.Document()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->ClassName(), "TGMapPoly");
  EXPECT_TRUE(back->Closed());
  ASSERT_EQ(back->Chains().Count(), 2);
  for (int32_t i = 0; i < 2; ++i)
    EXPECT_EQ(PointsOf(back->Chains().GetChain(i)), PointsOf(poly.Chains().GetChain(i)));
  EXPECT_EQ(back->Centroid(), poly.Centroid());
  // The rectangle comes from the chains read, not from the centroid alone.
  EXPECT_EQ(back->ObjectMER(), poly.ObjectMER());
  EXPECT_TRUE(back->LLInObject({-179 * D - D / 2, D, 0}, 0));
  EXPECT_TRUE(back->LLInObject({179 * D + D / 2, D, 0}, 0));
  EXPECT_TRUE(back->LLInObject({11 * D, 11 * D, 0}, 0));
  EXPECT_FALSE(back->LLInObject({0, D, 0}, 0));
  EXPECT_EQ(back->XML(), xml);
}

TEST(MapObjectXML, APolyWithoutChainsWritesNoneAndLoadsAsNone)
{
  TGMapPoly empty;
  empty.SetCentroid({D, D, 0});
  const std::string xml = empty.XML();
  EXPECT_EQ(xml.find("Chains"), std::string::npos);

  // Loaded into a poly that has chains, the text leaves it with none.
  TGMapPoly poly;
  poly.Chains().Add(Ring({{0, 0, 0}, {D, 0, 0}}));
  poly.SetXML(xml);
  EXPECT_EQ(poly.Chains().Count(), 0);
  EXPECT_EQ(poly.Centroid(), (TGPointLL{D, D, 0}));
  EXPECT_EQ(poly.ObjectMER(), (TGMER{D, D, 1, 1}));
}

TEST(MapObjectXML, ARasterRoundTripsItsImageSettingsAndMorph)
{
  TGMapRaster raster;
  raster.SetCentroid({2 * D, 3 * D, 0});
  raster.Morph().SetOffsets(-D, 4 * D);
  raster.Morph().SetScales(1500, 0.25);
  raster.SetTransparentColor(0x00FF00);
  raster.SetAlphaBlend(128);
  const std::string xml = raster.XML();
  EXPECT_NE(xml.find("TransparentColor=\"65280\""), std::string::npos) << xml;
  EXPECT_NE(xml.find("<Morph XOffset=\"-5400000\" YOffset=\"21600000\" XScale=\"1500\" "
                     "YScale=\"0.25\" />"),
            std::string::npos)
      << xml;

  TGMapRaster back;
  back.SetXML(xml);
  EXPECT_EQ(back.TransparentColor(), 0x00FF00);
  EXPECT_EQ(back.AlphaBlend(), 128);
  EXPECT_EQ(back.Morph().XOffset(), -D);
  EXPECT_EQ(back.Morph().YOffset(), 4 * D);
  EXPECT_EQ(back.Morph().XScale(), 1500);
  EXPECT_EQ(back.Morph().YScale(), 0.25L);
  EXPECT_EQ(back.Centroid(), (TGPointLL{2 * D, 3 * D, 0}));
  EXPECT_EQ(back.XML(), xml);

  // Defaults leave everything raster-specific out; loading them resets the raster.
  const std::string plain = TGMapRaster().XML();
  EXPECT_EQ(plain, "<MapObject Class=\"TGMapRaster\" Centroid=\"0,0\" />");
  back.SetXML(plain);
  EXPECT_EQ(back.TransparentColor(), clNone);
  EXPECT_EQ(back.AlphaBlend(), 255);
  EXPECT_EQ(back.Morph().XOffset(), 0);
  EXPECT_EQ(back.Morph().XScale(), 1);
}

TEST(MapObjectXML, ARasterRefusesABadMorphBeforeChangingAnything)
{
  TGMapRaster raster;
  raster.SetAlphaBlend(7);
  raster.SetUserID("kept");
  const std::string xml = "<MapObject Class=\"TGMapRaster\" UserID=\"new\" Alpha=\"9\">"
                          "<Morph XScale=\"-2\" /></MapObject>";
  EXPECT_EQ(ErrorText([&] { raster.SetXML(xml); }), "TGBeierNeelyMorph: bad scale");
  EXPECT_EQ(raster.AlphaBlend(), 7);
  EXPECT_EQ(raster.UserID(), "kept");

  // Numbers that do not parse, or do not fit, read as the defaults.
  raster.SetXML("<MapObject Alpha=\"300\" TransparentColor=\"red\" PresenterID=\"x\">"
                "<Morph XScale=\"wide\" XOffset=\"1.5\" /></MapObject>");
  EXPECT_EQ(raster.AlphaBlend(), 255);
  EXPECT_EQ(raster.TransparentColor(), clNone);
  EXPECT_EQ(raster.PresenterID(), 0);
  EXPECT_EQ(raster.Morph().XScale(), 1);
  EXPECT_EQ(raster.Morph().XOffset(), 0);
}

TEST(MapObjectXML, CreationFollowsTheClassAttributeAndFallsBackToTheDefault)
{
  const auto make = [](const std::string& text, std::string_view defaultClass) {
    TGXML_Document doc("MapObject");
    doc.SetAsString(text);
    return TGMapPoint::CreateFromXML(&doc.Document(), defaultClass);
  };
  const struct
  {
    const char* text;
    const char* defaultClass;
    const char* made; // "" for none
  } cases[] = {
      {"<MapObject Class=\"TGMapRaster\" UserID=\"r\" />", "TGMapPoint", "TGMapRaster"},
      {"<MapObject Class=\"tgmappoly\" UserID=\"r\" />", "TGMapPoint", "TGMapPoly"},
      {"<MapObject Class=\"TNoSuchObject\" UserID=\"r\" />", "TGMapPoint", "TGMapPoint"},
      {"<MapObject Class=\"TGMemoryObjectSource\" UserID=\"r\" />", "TGMapPoly", "TGMapPoly"},
      {"<MapObject UserID=\"r\" />", "", ""},
      {"<MapObject Class=\"TNoSuchObject\" UserID=\"r\" />", "TGLayer", ""},
  };
  for (const auto& c : cases) {
    auto obj = make(c.text, c.defaultClass);
    if (*c.made == '\0') {
      EXPECT_EQ(obj, nullptr) << c.text;
      continue;
    }
    ASSERT_NE(obj, nullptr) << c.text;
    EXPECT_EQ(obj->ClassName(), c.made) << c.text;
    EXPECT_EQ(obj->UserID(), "r") << c.text;
  }
  auto bare = TGMapPoint::CreateFromXML(nullptr, "TGMapPoly");
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->ClassName(), "TGMapPoly");
}

} // namespace
} // namespace vtr
