// The environment document's elements: the globe's root attributes, the projector, graticule
// and renderer elements, layers with their settings, sub-layers and "User" data, layer-store
// loading (reuse by GUID or name, invalid layers dropped, classes that cannot be made), object
// sources with their data readers, and the older "LayerStore" documents.
#include "globe/GGlobe.h"
#include "globe/GGraticule.h"
#include "globe/GLayer.h"
#include "globe/GObjectSource.h"
#include "globe/GPresenter.h"
#include "globe/GXML.h"

#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

#include <set>

namespace vtr {
namespace {

using vtrtest::ErrorText;

// The names of an element's attributes.
std::set<std::string> AttributeNames(const TGXML_Element& el)
{
  std::set<std::string> names;
  for (int32_t i = 0; i < el.AttributeCount(); ++i)
    names.insert(el.AttributeName(i));
  return names;
}

std::unique_ptr<TGXML_Element> Parsed(std::string_view text)
{
  auto out = std::make_unique<TGXML_Element>("Root");
  LoadXMLDocumentText(text, [&out](const TGXML_Element& root) { out->Assign(root); });
  return out;
}

// A layer under root with its own memory source.
TGLayer& AddLayer(TGLayer& parent, const std::string& name)
{
  auto layer = std::make_unique<TGLayer>(parent.ParentGlobe());
  layer->SetName(name);
  TGLayer& ref = *layer;
  parent.LayerStore().Add(std::move(layer));
  ref.ObjectSource();
  return ref;
}

// ---------------------------------------------------------------------------------------------
// The globe's own element

TEST(EnvironmentXML, ANewGlobeWritesOnlyWhatDiffersFromTheDefaults)
{
  TGGlobe globe;
  globe.SetClientSize(300, 200);
  TGXML_Document doc("Globe");
  globe.SaveToXML(doc.Document());
  const TGXML_Element& root = doc.Document();

  // Aqua surface and grey small objects are the defaults; the client size is always written.
  EXPECT_EQ(AttributeNames(root), (std::set<std::string>{"Width", "Height"}));
  EXPECT_EQ(root.Attribute("Width"), "300");
  EXPECT_EQ(root.Attribute("Height"), "200");
  std::vector<std::string> children;
  for (const TGXML_Element* child : root.Elements())
    children.push_back(child->ElementTag());
  EXPECT_EQ(children,
            (std::vector<std::string>{"Graticule", "Projector", "Renderer", "GlobeLayer"}));

  // Steps of 10 differ from the element's default of 0; the silver pen is not the pen default.
  EXPECT_EQ(root.Element("Graticule")->XMLString(),
            "<Graticule Class=\"TGGraticule\" LongStep=\"10\" LatStep=\"10\"><Pen "
            "Color=\"clSilver\" /></Graticule>");
  EXPECT_EQ(root.Element("Renderer")->XMLString(), "<Renderer Class=\"TGDefaultRenderer\" />");

  // The projector starts tilted by 23.5 degrees and fitted: the rest is at the defaults.
  const TGXML_Element& projector = *root.Element("Projector");
  EXPECT_EQ(AttributeNames(projector),
            (std::set<std::string>{"Class", "ScaleFactor", "XRotation", "XOrigin", "YOrigin"}));
  EXPECT_EQ(projector.Attribute("Class"), "TGProjector");
  EXPECT_EQ(projector.Attribute("XRotation"), "23.5");
  EXPECT_EQ(projector.Element("ProjectionModel")->XMLString(),
            "<ProjectionModel Class=\"TGSphericalPrj\" />");

  // The root layer: its two default presenters and its (memory) source; no sub-layers, and
  // the empty "User" elements are not written.
  const TGXML_Element& layer = *root.Element("GlobeLayer");
  EXPECT_EQ(AttributeNames(layer), (std::set<std::string>{"Class", "Index"}));
  EXPECT_EQ(layer.Attribute("Index"), "0");
  EXPECT_EQ(layer.Element("Presenters")->ElementCount("Presenter"), 2);
  EXPECT_EQ(layer.Element("ObjectSource")->Attribute("Class"), "TGMemoryObjectSource");
  EXPECT_EQ(layer.Element("Layers"), nullptr);
  EXPECT_EQ(doc.AsString().find("<User"), std::string::npos);
}

TEST(EnvironmentXML, MissingProjectorAttributesLoadAsTheirDefaults)
{
  TGGlobe globe;
  TGProjector& p = globe.Projector();
  p.SetFieldOfViewAngle(30);
  p.SetSpheroid(TGSpheroid::Airy1830);
  p.SetMaxLatitude(60);
  p.SetZRotation(12);
  p.SetYAxisChanges(yaNoAction);

  p.LoadFromXML(*Parsed("<Projector><ProjectionModel Class=\"TGMercatorPrj\" /></Projector>"));
  EXPECT_EQ(p.ProjectionClass(), "TGMercatorPrj");
  EXPECT_EQ(p.FieldOfViewAngle(), 50);
  EXPECT_EQ(p.Spheroid(), TGSpheroid::WGS84);
  EXPECT_EQ(p.MaxLatitude(), 90);
  EXPECT_EQ(p.XRotation(), 0);
  EXPECT_EQ(p.ZRotation(), 0);
  EXPECT_EQ(p.YAxisChanges(), yaCentralMeridian);
  EXPECT_EQ(p.CenterXY(), (TGPoint{0, 0}));

  // A model class that is unknown, or no model, gives the spherical model; malformed numbers
  // and ordinals out of range read as the defaults.
  for (const char* cls : {"TNoSuchPrj", "TGLayer", ""}) {
    p.SetProjectionClass("TGCartesianPrj");
    p.LoadFromXML(*Parsed(std::string("<Projector FOV=\"wide\" Spheroid=\"17\" XOrigin=\"1e3\" "
                                      "YOrigin=\"40\"><ProjectionModel Class=\"") +
                          cls + "\" /></Projector>"));
    EXPECT_EQ(p.ProjectionClass(), "TGSphericalPrj") << cls;
    EXPECT_EQ(p.FieldOfViewAngle(), 50) << cls;
    EXPECT_EQ(p.Spheroid(), TGSpheroid::WGS84) << cls;
    EXPECT_EQ(p.CenterXY(), (TGPoint{0, 40})) << cls;
  }
}

TEST(EnvironmentXML, TheGraticuleIsMadeFromItsClassAndAMissingPenIsTheDefaultPen)
{
  TGGlobe globe;
  TGGraticule* before = &globe.Graticule();
  TGXML_Document doc("Globe");
  globe.SaveToXML(doc.Document());
  TGXML_Element& graticule = *doc.Document().Element("Graticule");
  graticule.DeleteAttribute("LongStep");
  graticule.AddAttribute("DrawMode", "2");
  graticule.DeleteElement(graticule.Element("Pen"));

  globe.LoadFromXML(doc.Document());
  EXPECT_NE(&globe.Graticule(), before);
  EXPECT_EQ(globe.Graticule().LongitudeStep(), 0);
  EXPECT_EQ(globe.Graticule().LatitudeStep(), 10);
  EXPECT_EQ(globe.Graticule().DrawMode(), gdInFront);
  // Not the graticule's silver: the pen element was left out because it held the pen defaults.
  EXPECT_EQ(globe.Graticule().GraticulePen().Color(), clBlack);
  // The new graticule draws on the globe and tells it of changes.
  EXPECT_EQ(globe.Graticule().Host(), &globe);
  EXPECT_TRUE(static_cast<bool>(globe.Graticule().OnChanged));
}

// ---------------------------------------------------------------------------------------------
// Layers

TEST(EnvironmentXML, LayersWriteEverySettingAndReadItBack)
{
  TGLayer root;
  TGLayer& layer = AddLayer(root, "Coast");
  AddLayer(root, "Below");
  root.LayerStore().Move(0, 1); // "Coast" now at index 1
  layer.SetAlphaBlend(128);
  layer.SetEnabled(false);
  layer.SetNoInterrupt(true);
  layer.SetRenderAllObjects(true);
  layer.SetSelectable(false);
  layer.SetShowTitles(false);
  layer.SetTitleColumn(2);
  layer.SetVisible(false);
  layer.SetZoomUnits(guNauticalMile);
  layer.SetZoomMin(10);
  layer.SetZoomMax(4'000'000'000u);
  layer.SetSurfaceAlpha(70);
  layer.SetSurfaceTransparentColor(static_cast<TColor>(0xFF000005u));
  layer.Presenters().Add(std::make_unique<TGPolygonPresenter>());
  layer.ObjectSource().SetName("coast source");
  layer.UserXML().AddAttribute("Owner", "ops <cell> & \"co\"");
  layer.UserXML().AddElement("Note").SetBodyText("keep");
  AddLayer(layer, "Ports").SetVisible(false);
  AddLayer(layer, ""); // no name: not written
  ASSERT_TRUE(layer.Modified());

  TGXML_Element el("Layer");
  layer.SaveToXML(el);
  EXPECT_FALSE(layer.Modified());
  EXPECT_EQ(el.Attribute("Class"), "TGLayer");
  EXPECT_EQ(el.Attribute("ZoomUnits"), "NM");
  EXPECT_EQ(el.Attribute("ZoomMax"), "4000000000");
  EXPECT_EQ(el.Attribute("Enabled"), "F");
  EXPECT_EQ(el.Attribute("Index"), "1");
  EXPECT_EQ(el.Attribute("ImageColor"), "-16777211"); // an integer, not a colour name
  EXPECT_EQ(el.Element("Layers")->Attribute("Class"), "TGLayerStore");
  EXPECT_EQ(el.Element("Layers")->ElementCount("Layer"), 1);
  std::vector<std::string> children;
  for (const TGXML_Element* child : el.Elements())
    children.push_back(child->ElementTag());
  EXPECT_EQ(children, (std::vector<std::string>{"Presenters", "ObjectSource", "Layers", "User"}));

  // Into a fresh tree: the layer is made by class and placed by its index.
  TGLayer other;
  AddLayer(other, "first");
  AddLayer(other, "second");
  TGXML_Element store("Layers");
  store.AddElement("Layer").Assign(el);
  other.LayerStore().LoadFromXML(store);
  ASSERT_EQ(other.LayerStore().Count(), 3);
  TGLayer& back = other.LayerStore().GetLayer(1);
  EXPECT_EQ(back.Name(), "Coast");
  EXPECT_EQ(back.AlphaBlend(), 128);
  for (int32_t flag : {lfSelectable, lfVisible, lfShowTitles, lfEnabled})
    EXPECT_FALSE(back.Flag(flag)) << flag;
  EXPECT_TRUE(back.NoInterrupt());
  EXPECT_TRUE(back.RenderAllObjects());
  EXPECT_EQ(back.TitleColumn(), 2);
  EXPECT_EQ(back.ZoomUnits(), guNauticalMile);
  EXPECT_EQ(back.ZoomMin(), 10u);
  EXPECT_EQ(back.ZoomMax(), 4'000'000'000u);
  EXPECT_EQ(back.SurfaceAlpha(), 70);
  EXPECT_EQ(back.SurfaceTransparentColor(), static_cast<TColor>(0xFF000005u));
  EXPECT_EQ(back.Presenters().GetPresenter(0).ClassName(), "TGPolygonPresenter");
  EXPECT_EQ(back.ObjectSource().Name(), "coast source");
  EXPECT_EQ(back.UserXML().Attribute("Owner"), "ops <cell> & \"co\"");
  EXPECT_EQ(back.UserXML().Element("Note")->BodyText(), "keep");
  ASSERT_EQ(back.LayerStore().Count(), 1);
  EXPECT_EQ(back.LayerStore().GetLayer(0).Name(), "Ports");
  EXPECT_FALSE(back.LayerStore().GetLayer(0).Visible());
  EXPECT_FALSE(back.Modified());
}

TEST(EnvironmentXML, LayerBooleansReadTAndOneAsTrueAndAnythingElseAsTheDefault)
{
  TGLayer root;
  TGLayer& layer = AddLayer(root, "x");
  layer.LoadFromXML(*Parsed("<Layer Name=\" trimmed \n\" NoInterrupt=\"t\" RenderAll=\"yes\" "
                            "Visible=\"no\" Selectable=\"0\" Alpha=\"999\" ZoomMin=\"-5\" "
                            "ZoomMax=\"12.5\" />"));
  EXPECT_EQ(layer.Name(), "trimmed");
  EXPECT_TRUE(layer.NoInterrupt());
  EXPECT_FALSE(layer.RenderAllObjects()); // "yes" is the default, false
  EXPECT_TRUE(layer.Visible());           // "no" is the default, true
  EXPECT_FALSE(layer.Selectable());
  EXPECT_EQ(layer.AlphaBlend(), 255);
  EXPECT_EQ(layer.ZoomMin(), 0u);
  EXPECT_EQ(layer.ZoomMax(), 0u);
}

TEST(EnvironmentXML, AnUnknownZoomUnitRaisesBeforeTheLayerChanges)
{
  TGLayer root;
  TGLayer& layer = AddLayer(root, "kept");
  EXPECT_EQ(
      ErrorText([&] { layer.LoadFromXML(*Parsed("<Layer Name=\"new\" ZoomUnits=\"XX\" />")); }),
      "StrToUnits: Unknown Unit XX");
  EXPECT_EQ(layer.Name(), "kept");
}

TEST(EnvironmentXML, StoresReuseLayersByGUIDThenByNameAndDropInvalidOnes)
{
  TGLayer root;
  TGLayer& a = AddLayer(root, "A");
  TGLayer& d = AddLayer(a, "D"); // deeper in the tree
  TGLayer& b = AddLayer(root, "B");
  const std::string idD = GUIDToString(d.ObjectSource().UniqueID());
  const std::string idNew = GUIDToString(NewGUID());

  const auto doc = Parsed(
      "<Layers>"
      "<Layer Class=\"TGLayer\" Name=\"Renamed\"><ObjectSource Class=\"TGMemoryObjectSource\" "
      "ID=\"" +
      idD +
      "\" /></Layer>"
      "<Layer Class=\"TGLayer\" Name=\"b\" Visible=\"F\"><ObjectSource ID=\"not a GUID\" /></Layer>"
      "<Layer Class=\"TGLayer\" Name=\"New\"><ObjectSource Class=\"TGMemoryObjectSource\" ID=\"" +
      idNew +
      "\" /></Layer>"
      "<Layer Class=\"TGLayer\" Name=\"NoSource\" />"
      "</Layers>");
  TGLayerStore& store = root.LayerStore();
  store.LoadFromXML(*doc);

  // D moved up from under A and took the new name; B was found by name (its GUID text was
  // none) and keeps its place; "New" was made; "NoSource" had no valid source and is gone.
  ASSERT_EQ(store.Count(), 4);
  EXPECT_EQ(&store.GetLayer(0), &a);
  EXPECT_EQ(&store.GetLayer(1), &b);
  EXPECT_FALSE(b.Visible());
  EXPECT_EQ(&store.GetLayer(2), &d);
  EXPECT_EQ(d.Name(), "Renamed");
  EXPECT_EQ(a.LayerStore().Count(), 0);
  EXPECT_EQ(store.GetLayer(3).Name(), "New");
  EXPECT_EQ(GUIDToString(store.GetLayer(3).ObjectSource().UniqueID()), idNew);
  EXPECT_EQ(store.LayerByName("NoSource"), nullptr);
}

TEST(EnvironmentXML, ALayerOfAClassThatCannotBeMadeIsAnAssertionFailure)
{
  for (const char* cls : {"TNoSuchLayer", "TGPointPresenter", ""}) {
    TGLayer root;
    const std::string text = std::string("<Layers><Layer Class=\"") + cls +
                             "\" Name=\"x\"><ObjectSource ID=\"" + GUIDToString(NewGUID()) +
                             "\" /></Layer></Layers>";
    const std::string error = ErrorText([&] { root.LayerStore().LoadFromXML(*Parsed(text)); });
    EXPECT_TRUE(error.starts_with("Assertion failure (globe\\GLayer, line ")) << cls << error;
    EXPECT_EQ(root.LayerStore().Count(), 0) << cls;
  }
}

TEST(EnvironmentXML, ALayerKeepsItsSourceUnlessTheElementNamesAnotherClass)
{
  TGLayer root;
  TGLayer& layer = AddLayer(root, "x");
  TGObjectSource* source = &layer.ObjectSource();
  for (const char* cls : {"TGMemoryObjectSource", "tgmemoryobjectsource", ""}) {
    layer.LoadFromXML(*Parsed(std::string("<Layer><ObjectSource Class=\"") + cls +
                              "\" Name=\"same\" ID=\"" + GUIDToString(NewGUID()) +
                              "\" /></Layer>"));
    EXPECT_EQ(&layer.ObjectSource(), source) << cls;
    EXPECT_EQ(layer.ObjectSource().Name(), "same") << cls;
  }
  // An unknown class differs from the present one: a new source of the default class.
  layer.LoadFromXML(
      *Parsed("<Layer><ObjectSource Class=\"TNoSuchSource\" Name=\"other\" /></Layer>"));
  EXPECT_NE(&layer.ObjectSource(), source);
  EXPECT_EQ(layer.ObjectSource().ClassName(), "TGMemoryObjectSource");
  EXPECT_EQ(layer.ObjectSource().Layer(), &layer);
  EXPECT_EQ(layer.ObjectSource().Name(), "other");
}

// ---------------------------------------------------------------------------------------------
// Object sources

TEST(EnvironmentXML, ObjectSourcesStopReadingAtAnIDThatIsNoGUID)
{
  TGMemoryObjectSource source;
  source.SetName("World");
  source.SetColumnNames("Name,Pop");
  source.UserXML().AddAttribute("Style", "coast");
  TGXML_Element el("ObjectSource");
  source.SaveToXML(el);
  EXPECT_EQ(AttributeNames(el), (std::set<std::string>{"Class", "ID", "Name", "ColumnNames"}));
  EXPECT_EQ(el.Attribute("ID"), GUIDToString(source.UniqueID()));
  EXPECT_EQ(el.Element("User")->Attribute("Style"), "coast");

  struct Case
  {
    const char* id;
    bool restRead;
  };
  for (const Case& c : {Case{nullptr, true}, Case{"{1234}", false}, Case{"", false}}) {
    TGXML_Element changed("ObjectSource");
    changed.Assign(el);
    if (c.id) {
      changed.DeleteAttribute("ID");
      changed.AddAttribute("ID", c.id);
    }
    TGMemoryObjectSource loaded;
    const TGUID before = loaded.UniqueID();
    loaded.LoadFromXML(changed);
    const std::string label = c.id ? c.id : "(same ID)";
    EXPECT_EQ(loaded.Name(), "World") << label; // read before the ID
    EXPECT_EQ(loaded.UniqueID() == source.UniqueID(), c.restRead) << label;
    EXPECT_EQ(loaded.UniqueID() == before, !c.restRead) << label;
    EXPECT_EQ(loaded.ColumnNames(), c.restRead ? "Name,Pop" : "") << label;
    EXPECT_EQ(loaded.UserXML().Attribute("Style"), c.restRead ? "coast" : "") << label;
  }
}

// A data reader of n points whose user identifiers are its name and a number; its XML form
// carries the count.
class EnvTestReader : public TGCustomDataReader
{
public:
  explicit EnvTestReader(TGGlobe* parentGlobe = nullptr) : TGCustomDataReader(parentGlobe) {}
  std::string ClassName() const override { return "TEnvTestReader"; }
  void SaveToXML(TGXML_Element& el) override
  {
    TGCustomDataReader::SaveToXML(el);
    el.AddAttribute("ReaderName", Name());
    el.AddIntAttribute("Count", count, 0);
  }
  void LoadFromXML(const TGXML_Element& el) override
  {
    SetName(el.Attribute("ReaderName"));
    count = el.IntAttribute("Count", 0);
  }
  double ProgressPercent() override { return count ? 100.0 * read / count : 0; }
  int count = 0;
  int read = 0;

protected:
  bool OpenReader() override
  {
    read = 0;
    return TGCustomDataReader::OpenReader();
  }
  std::shared_ptr<IGMapPoint> ReadObject() override
  {
    if (read >= count) return nullptr;
    auto p = std::make_shared<TGMapPoint>();
    p->SetUserID(Name() + std::to_string(read++));
    return p;
  }
};

TEST(EnvironmentXML, AMemorySourceRecreatesItsDataReaderBeforeTakingItsOwnSettings)
{
  RegisterGlobeClass<EnvTestReader>("TEnvTestReader", "Environment Test Reader");
  TGMemoryObjectSource source;
  auto reader = std::make_unique<EnvTestReader>();
  reader->SetName("World");
  reader->count = 3;
  source.SetDataReader(std::move(reader));
  source.SetName("Renamed");
  TGXML_Element el("ObjectSource");
  source.SaveToXML(el);
  EXPECT_EQ(el.Element("DataReader")->XMLString(),
            "<DataReader Class=\"TEnvTestReader\" ReaderName=\"World\" Count=\"3\" />");

  TGMemoryObjectSource loaded;
  loaded.LoadFromXML(el);
  ASSERT_NE(loaded.DataReader(), nullptr);
  EXPECT_EQ(loaded.ObjectCount(), 3);
  EXPECT_EQ(loaded.FirstObject()->UserID(), "World0");
  EXPECT_EQ(loaded.Name(), "Renamed"); // the element's name wins over the reader's
  EXPECT_EQ(loaded.UniqueID(), source.UniqueID());

  // A reader class that is not registered gives no reader; the rest still loads.
  el.Element("DataReader")->AddAttribute("Class", "TNoSuchReader");
  TGMemoryObjectSource unknown;
  unknown.LoadFromXML(el);
  EXPECT_EQ(unknown.DataReader(), nullptr);
  EXPECT_EQ(unknown.ObjectCount(), 0);
  EXPECT_EQ(unknown.Name(), "Renamed");

  // Without a reader there is no "DataReader" element.
  TGXML_Element plain("ObjectSource");
  unknown.SaveToXML(plain);
  EXPECT_EQ(plain.Element("DataReader"), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Older documents

TEST(EnvironmentXML, OlderLayerStoreDocumentsLoadIntoTheRootLayerWithOldPresenterNames)
{
  TGGlobe globe;
  const std::string id = GUIDToString(NewGUID());
  globe.LoadFromXML(*Parsed(
      "<Globe><Presenters>"
      "<Presenter Class=\"TPointPresenter\" PresenterID=\"5\" Size=\"9\" />"
      "<Presenter Class=\"TPolygonPresenter\" PresenterID=\"6\" />"
      "</Presenters><LayerStore>"
      "<Layer Class=\"TGLayer\" Name=\"Old\"><ObjectSource Class=\"TGMemoryObjectSource\" ID=\"" +
      id + "\" /></Layer></LayerStore></Globe>"));

  TGPresenterStore& presenters = globe.GlobeLayer().Presenters();
  ASSERT_EQ(presenters.Count(), 2);
  auto* point = dynamic_cast<TGPointPresenter*>(presenters.ByID(5));
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->ClassName(), "TGPointPresenter");
  EXPECT_EQ(point->PointSize(), 9);
  EXPECT_EQ(presenters.ByID(6)->ClassName(), "TGPolygonPresenter");
  ASSERT_EQ(globe.Layers().Count(), 1);
  EXPECT_EQ(globe.Layers().GetLayer(0).Name(), "Old");
  EXPECT_EQ(GUIDToString(globe.Layers().GetLayer(0).ObjectSource().UniqueID()), id);
}

} // namespace
} // namespace vtr
