// The layer tree: stores and their lookups, flags and properties, presenters found through the
// tree, hit tests and selection over overlapping layers, and the layer and globe selections.
#include "globe/GLayer.h"

#include "GLayerTestSupport.h"
#include "GlobeTestSupport.h"

#include <gtest/gtest.h>

namespace vtr {
namespace {

constexpr int32_t D = GU_DEGREE;
using vtrtest::AddLayer;
using vtrtest::AddPoint;
using vtrtest::ErrorText;
using vtrtest::IDOf;
using vtrtest::Watch;
using vtrtest::WatchedSource;

// A presenter whose symbol needs a wider tolerance.
class WidePresenter : public TGPresenter
{
public:
  explicit WidePresenter(int32_t half) : FHalf(half) {}
  void AdjustTolerance(int32_t& t) override { t = std::max(t, FHalf); }

private:
  int32_t FHalf;
};

std::shared_ptr<TGMapPoly> AddSquare(TGLayer& layer, const std::string& userID, int32_t west,
                                     int32_t south, int32_t side)
{
  auto poly = std::make_shared<TGMapPoly>();
  auto ring = std::make_unique<TGPointStore>();
  for (const auto& p : {PointLL(west, south), PointLL(west + side, south),
                        PointLL(west + side, south + side), PointLL(west, south + side)})
    ring->Add(p);
  poly->Chains().Add(std::move(ring));
  poly->SetClosed(true);
  poly->SetUserID(userID);
  layer.ObjectSource().Add(poly);
  return poly;
}

// ---------------------------------------------------------------------------------------------
// Layer store

TEST(LayerStore, LookupsByNameAreCaseFreeAndStayInTheStore)
{
  TGLayer root;
  TGLayer& units = AddLayer(root, "Units");
  AddLayer(units, "Nested");
  AddLayer(root, "  DirArrows \t");
  TGLayerStore& store = root.LayerStore();
  EXPECT_EQ(store.LayerByName("units"), &units);
  EXPECT_EQ(store.IndexByName("DIRARROWS"), 1);
  EXPECT_EQ(store.LayerByName("Nested"), nullptr);
  EXPECT_EQ(store.IndexByName("none"), -1);
  EXPECT_EQ(&store.GetLayer(0), &units);
  EXPECT_EQ(ErrorText([&] { store.GetLayer(2); }), "TGGlobe.GetLayer: Bad layer index 2");
  EXPECT_EQ(ErrorText([&] { store.GetLayer(-1); }), "TGGlobe.GetLayer: Bad layer index -1");
  EXPECT_EQ(store.GetLayer(1).Name(), "DirArrows");
}

TEST(LayerStore, AddMoveAndRemoveKeepOwnershipSound)
{
  TGLayer root;
  TGLayer& a = AddLayer(root, "a");
  TGLayer& b = AddLayer(root, "b");
  TGLayer& c = AddLayer(a, "c");
  TGLayerStore& store = root.LayerStore();

  EXPECT_EQ(ErrorText([&] {
              store.Add(std::unique_ptr<TGLayer>());
            }).rfind("TGLayerStore.Add passed nil layer (globe\\GLayer, line ", 0),
            0u);
  EXPECT_EQ(store.Add(&a), 0); // already here: keeps its place
  EXPECT_EQ(store.Add(&c), 2); // moved up from a's store, on top
  EXPECT_EQ(c.ParentLayer(), &root);
  EXPECT_EQ(a.LayerStore().Count(), 0);

  // A layer cannot go below itself, and the refused move loses nothing.
  EXPECT_NE(ErrorText([&] { b.LayerStore().Add(&root); }), "no exception");
  AddLayer(b, "d");
  EXPECT_NE(ErrorText([&] { b.LayerStore().GetLayer(0).LayerStore().Add(&b); }), "no exception");
  EXPECT_EQ(store.IndexOf(&b), 1);

  store.Move(2, 0);
  EXPECT_EQ(c.Index(), 0);
  EXPECT_EQ(a.Index(), 1);
  store.Move(0, 3); // out of range: nothing, no error
  store.Move(-1, 0);
  EXPECT_EQ(c.Index(), 0);
  b.SetIndex(0);
  EXPECT_EQ(store.LayerByName("b")->Index(), 0);
  EXPECT_EQ(root.Index(), 0);

  std::unique_ptr<TGLayer> taken = store.Remove(&a);
  ASSERT_EQ(taken.get(), &a);
  EXPECT_EQ(taken->ParentLayer(), nullptr);
  EXPECT_EQ(store.Remove(&a), nullptr);
  store.Delete(&c);
  EXPECT_EQ(store.Count(), 1);
  EXPECT_EQ(root.LayerDepth(), 0);
  EXPECT_EQ(store.GetLayer(0).LayerStore().GetLayer(0).LayerDepth(), 2);
}

TEST(LayerStore, FindsLayersByIDAndByPresenterDepthFirst)
{
  TGLayer root;
  TGLayer& a = AddLayer(root, "a");
  TGLayer& deep = AddLayer(a, "deep");
  TGLayer& b = AddLayer(root, "b");
  const TGUID deepID = deep.ObjectSource().UniqueID();
  EXPECT_EQ(root.LayerStore().LayerByID(deepID), &deep);
  EXPECT_EQ(root.LayerStore().LayerByID(b.ObjectSource().UniqueID()), &b);
  EXPECT_EQ(root.LayerStore().LayerByID(NewGUID()), nullptr);
  EXPECT_FALSE(a.HasObjectSource()); // looking did not create sources

  auto p = std::make_unique<TGPresenter>();
  const TGPresenter* raw = p.get();
  deep.Presenters().Add(std::move(p));
  EXPECT_EQ(root.LayerStore().LayerFromPresenter(raw), &deep);
  EXPECT_EQ(root.LayerStore().LayerFromPresenter(nullptr), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Layer properties

TEST(LayerProperties, FlagsByIndexMarkModified)
{
  struct Case
  {
    int32_t index;
    bool (TGLayer::*get)() const;
  };
  const Case cases[] = {{lfSelectable, &TGLayer::Selectable},
                        {lfVisible, &TGLayer::Visible},
                        {lfShowTitles, &TGLayer::ShowTitles},
                        {lfEnabled, &TGLayer::Enabled}};
  for (const auto& c : cases) {
    TGLayer layer;
    EXPECT_TRUE((layer.*c.get)()) << c.index;
    layer.SetFlag(c.index, true);
    EXPECT_FALSE(layer.Modified()) << c.index;
    layer.SetFlag(c.index, false);
    EXPECT_FALSE((layer.*c.get)()) << c.index;
    EXPECT_FALSE(layer.Flag(c.index));
    EXPECT_TRUE(layer.Modified()) << c.index;
  }
  TGLayer layer;
  EXPECT_FALSE(layer.NoInterrupt());
  layer.SetFlag(lfNoInterrupt, true);
  EXPECT_TRUE(layer.NoInterrupt());
  layer.SetModified(false);
  layer.SetFlag(2, false); // names no flag
  layer.SetFlag(9, false);
  EXPECT_FALSE(layer.Modified());

  layer.SetVisible(false);
  layer.SetZoomMin(5);
  layer.Clear();
  EXPECT_TRUE(layer.Visible());
  EXPECT_EQ(layer.ZoomMin(), 0u);
  EXPECT_FALSE(layer.Modified());
}

TEST(LayerProperties, ZoomUnitsConvertTheLimits)
{
  TGLayer layer;
  EXPECT_EQ(layer.ZoomUnits(), guKilometer);
  layer.SetZoomMin(100);
  layer.SetZoomMax(1000);
  layer.SetModified(false);
  layer.SetZoomUnits(guNauticalMile);
  EXPECT_EQ(layer.ZoomMin(), 54u);
  EXPECT_EQ(layer.ZoomMax(), 540u);
  EXPECT_TRUE(layer.Modified());
  // Whole units each way, by the unit table (48,565.06 GU per km): 54 NM is 100.07 km and
  // 540 NM 1000.72 km.
  layer.SetZoomUnits(guKilometer);
  EXPECT_EQ(layer.ZoomMin(), 100u);
  EXPECT_EQ(layer.ZoomMax(), 1001u);
}

TEST(LayerProperties, NameIndexAlphaAndTitleColumns)
{
  TGLayer root;
  TGLayer& layer = AddLayer(root, "");
  layer.ObjectSource().SetName("WorldOutline");
  EXPECT_EQ(layer.Name(), "WorldOutline");
  layer.SetModified(false);
  layer.SetName("  Coast  ");
  EXPECT_EQ(layer.Name(), "Coast");
  EXPECT_TRUE(layer.Modified());

  EXPECT_EQ(root.AdjustedAlphaBlend(), 255);
  root.SetAlphaBlend(128);
  EXPECT_EQ(layer.AdjustedAlphaBlend(), 128); // opaque itself: the parent's value
  layer.SetAlphaBlend(128);
  EXPECT_EQ(layer.AdjustedAlphaBlend(), 64);
  TGLayer& inner = AddLayer(layer, "inner");
  inner.SetAlphaBlend(51);
  EXPECT_EQ(inner.AdjustedAlphaBlend(), 13); // 64 * 51 / 255 = 12.8

  layer.ObjectSource().SetColumnNames("Title,Depth,Name");
  EXPECT_EQ(layer.TitleColumnToIndex("depth"), 1);
  EXPECT_EQ(layer.TitleColumnToIndex("none"), -1);
  layer.SetTitleColumnName("Name");
  EXPECT_EQ(layer.TitleColumn(), 2);
  EXPECT_EQ(layer.TitleColumnName(), "Name");
  layer.SetTitleColumnName("missing");
  EXPECT_EQ(layer.TitleColumn(), 2);
}

TEST(LayerProperties, UpdatesNestAndTheLastEndPosts)
{
  TGLayer layer;
  WatchedSource& source = Watch(layer);
  layer.BeginUpdate();
  layer.BeginUpdate();
  layer.EndUpdate();
  EXPECT_EQ(source.posts, 0);
  layer.EndUpdate();
  EXPECT_EQ(source.posts, 1);
  EXPECT_EQ(ErrorText([&] {
              layer.EndUpdate();
            }).rfind("Mismatched BeginUpdate/EndUpdate (globe\\GLayer, line ", 0),
            0u);
  layer.Post();
  EXPECT_EQ(source.posts, 2);
}

TEST(LayerProperties, ReplacingTheSourceAndValidity)
{
  TGLayer layer;
  EXPECT_FALSE(layer.IsValid());
  auto p = AddPoint(layer, "p", 0, 0);
  EXPECT_TRUE(layer.IsValid());
  p->SetSelected(true);
  layer.SetObjectSource(std::make_unique<TGMemoryObjectSource>());
  EXPECT_EQ(layer.Selection().Count(), 0); // keys of the old source
  EXPECT_EQ(layer.ObjectSource().Layer(), &layer);
  EXPECT_EQ(p->ObjectSource(), nullptr); // the old source is gone
}

// ---------------------------------------------------------------------------------------------
// Presenters through the tree

TEST(PresenterStore, NumbersReplacementAndNames)
{
  TGPresenterStore store;
  EXPECT_EQ(store.Add(nullptr), 0);
  for (int32_t id : {1, 5}) {
    auto p = std::make_unique<TGPresenter>();
    p->SetPresenterID(id);
    p->SetName("n" + std::to_string(id));
    store.Add(std::move(p));
  }
  EXPECT_EQ(store.Add(std::make_unique<TGPresenter>()), 6);
  auto again = std::make_unique<TGPresenter>();
  again->SetPresenterID(5);
  again->SetName("Units");
  EXPECT_EQ(store.Add(std::move(again)), 5);
  EXPECT_EQ(store.Count(), 3);
  EXPECT_EQ(store.ByID(5)->Name(), "Units");
  EXPECT_EQ(store.IndexOf(store.ByID(5)), 2); // appended
  EXPECT_EQ(store.ByName("Units"), store.ByID(5));
  EXPECT_EQ(store.ByName("units"), nullptr);
  EXPECT_EQ(store.ByID(0), nullptr);
  EXPECT_TRUE(store.Modified());

  TGPresenterStore negatives;
  for (int32_t id : {-1, -2}) {
    auto p = std::make_unique<TGPresenter>();
    p->SetPresenterID(id);
    negatives.Add(std::move(p));
  }
  EXPECT_EQ(negatives.Add(std::make_unique<TGPresenter>()), 1);

  auto probe = std::make_unique<TGPresenter>();
  probe->SetTitleColumn(3);
  EXPECT_EQ(store.FindMatch(*probe), 0);
  store.GetPresenter(1).SetTitleColumn(3);
  EXPECT_EQ(store.FindMatch(*probe), 6);

  TGPresenterStore copy;
  copy.AddPresenters(store);
  EXPECT_EQ(copy.Count(), 3);
  EXPECT_NE(copy.ByID(5), store.ByID(5));
  EXPECT_EQ(copy.ByID(5)->Name(), "Units");
  copy.Delete(0);
  copy.Delete(7);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_EQ(ErrorText([&] { copy.GetPresenter(2); }), "TGPresenterStore: Bad presenter index 2");
}

TEST(PresenterStore, FindPresenterLooksUpTheTreeThenAtTheSource)
{
  TGLayer root;
  TGLayer& mid = AddLayer(root, "mid");
  TGLayer& leaf = AddLayer(mid, "leaf");
  const auto add = [](TGPresenterStore& store, int32_t id, const std::string& name) {
    auto p = std::make_unique<TGPresenter>();
    p->SetPresenterID(id);
    p->SetName(name);
    store.Add(std::move(p));
  };
  add(root.Presenters(), 1, "root1");
  add(root.Presenters(), 2, "root2");
  add(mid.Presenters(), 2, "mid2");
  add(leaf.ObjectSource().Presenters(), 2, "source2");
  add(leaf.ObjectSource().Presenters(), 3, "source3");
  EXPECT_EQ(leaf.FindPresenter(0), nullptr);
  EXPECT_EQ(leaf.FindPresenter(1)->Name(), "root1");
  EXPECT_EQ(leaf.FindPresenter(2)->Name(), "mid2");
  EXPECT_EQ(leaf.FindPresenter(3)->Name(), "source3");
  EXPECT_EQ(mid.FindPresenter(3), nullptr);
  EXPECT_EQ(leaf.FindPresenter(4), nullptr);
}

TEST(PresenterBase, DefaultHitTestGrowsTheRectangleOnEverySide)
{
  TGPresenter presenter;
  EXPECT_EQ(presenter.Name(), "TGPresenter");
  auto p = std::make_shared<TGMapPoint>();
  p->SetCentroid(PointLL(0, 0)); // rectangle 0..1
  EXPECT_TRUE(presenter.LLInObject(PointLL(-5, 0), *p, 5));
  EXPECT_TRUE(presenter.LLInObject(PointLL(6, 6), *p, 5));
  EXPECT_FALSE(presenter.LLInObject(PointLL(7, 0), *p, 5));
  EXPECT_FALSE(presenter.LLInObject(PointLL(0, -6), *p, 5));
  p->SetHidden(true);
  EXPECT_FALSE(presenter.LLInObject(PointLL(0, 0), *p, 5));

  presenter.SetPresenterID(9);
  presenter.SetTitleAlignment(taBottomRight);
  auto copy = presenter.Clone();
  EXPECT_EQ(copy->PresenterID(), 9);
  EXPECT_TRUE(copy->Equals(presenter));
  copy->SetTitleOffset(4);
  EXPECT_FALSE(copy->Equals(presenter));
}

// ---------------------------------------------------------------------------------------------
// Finding objects

TEST(LayerHitTests, OverlappingLayersTopmostForPositionLowestForUserID)
{
  TGLayer root;
  TGLayer& lower = AddLayer(root, "lower");
  TGLayer& upper = AddLayer(root, "upper");
  AddPoint(lower, "same", 10 * D, 10 * D)->SetAttribute(0, "Lower");
  AddPoint(upper, "same", 10 * D, 10 * D)->SetAttribute(0, "Upper");
  AddPoint(lower, "only-lower", 20 * D, 20 * D);

  EXPECT_EQ(root.ObjectAtLL(PointLL(10 * D, 10 * D))->GetAttribute(0), "Upper");
  EXPECT_EQ(root.LayerStore().ObjectByUserID("same")->GetAttribute(0), "Lower");
  EXPECT_EQ(root.LayerStore().ObjectByTitle("Upper")->Layer(), &upper);
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(20 * D, 20 * D))), "only-lower");
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(20 * D, 21 * D))), "none");
  EXPECT_EQ(IDOf(root.LayerStore().ObjectByUserID("SAME")), "none"); // exact text

  upper.SetEnabled(false);
  EXPECT_EQ(root.ObjectAtLL(PointLL(10 * D, 10 * D))->GetAttribute(0), "Lower");
  EXPECT_EQ(IDOf(upper.ObjectByUserID("same")), "same"); // the layer itself still answers
  lower.SetVisible(false);
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(10 * D, 10 * D))), "none");
  root.SetEnabled(false);
  lower.SetVisible(true);
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(20 * D, 20 * D))), "none");
}

TEST(LayerHitTests, HiddenObjectsAreSkippedForTheNextOne)
{
  TGLayer layer;
  auto hidden = AddPoint(layer, "hidden", 0, 0);
  AddPoint(layer, "shown", 0, 0);
  hidden->SetHidden(true);
  EXPECT_EQ(IDOf(layer.ObjectAtLL(PointLL(0, 0))), "shown");
  EXPECT_EQ(layer.SelectObjects(MER(-10, -10, 20, 20), false, false, true), 1);
  EXPECT_FALSE(hidden->Selected());
  EXPECT_EQ(IDOf(layer.Selection().First()), "shown");
}

TEST(LayerHitTests, OnlyTheSquareAroundThePointIsAskedFor)
{
  TGLayer layer;
  WatchedSource& source = Watch(layer);
  auto wide = std::make_unique<WidePresenter>(1000);
  wide->SetPresenterID(1);
  layer.Presenters().Add(std::move(wide));
  AddPoint(layer, "a", 0, 0)->SetPresenterID(1);
  EXPECT_EQ(layer.LayerTolerance(), 1000);

  // Outside the layer's rectangle grown by the tolerance: the source is not asked.
  EXPECT_EQ(IDOf(layer.ObjectAtLL(PointLL(5000, 0))), "none");
  EXPECT_TRUE(source.queries.empty());

  EXPECT_EQ(IDOf(layer.ObjectAtLL(PointLL(0, 0))), "a");
  ASSERT_EQ(source.queries.size(), 1u);
  EXPECT_EQ(source.queries[0], MER(-4000, -4000, 8001, 8001));

  // Near the meridian the square starts west of it and runs across.
  AddPoint(layer, "edge", GU_180, 0);
  EXPECT_EQ(IDOf(layer.ObjectAtLL(PointLL(-GU_180 + 10, 0))), "none"); // beyond the tolerance 0
  ASSERT_EQ(source.queries.size(), 2u);
  EXPECT_EQ(source.queries[1].iLongX, GU_180 - 4000 + 10);
  EXPECT_EQ(source.queries[1].iWidthX, 8001);

  // Selection asks for the rectangle grown by four tolerances on each side, once.
  source.queries.clear();
  EXPECT_EQ(layer.SelectObjects(MER(-100, -100, 200, 200), false, false, true), 1);
  ASSERT_EQ(source.queries.size(), 1u);
  EXPECT_EQ(source.queries[0], MER(-4100, -4100, 8200, 8200));
}

TEST(LayerHitTests, PresentersAnswerForTheirObjectsAndUnknownNumbersForThemselves)
{
  // A presenter that claims every object it is asked about.
  class Greedy : public TGPresenter
  {
  public:
    bool LLInObject(const TGPointLL&, IGMapPoint&, int32_t) override
    {
      ++asked;
      return true;
    }
    int asked = 0;
  };
  TGLayer layer;
  auto greedy = std::make_unique<Greedy>();
  greedy->SetPresenterID(4);
  Greedy* g = greedy.get();
  layer.Presenters().Add(std::move(greedy));
  auto far = AddPoint(layer, "far", 90 * D, 0);
  auto near = AddPoint(layer, "near", 0, 0);
  near->SetPresenterID(77); // no such presenter: the object itself answers
  EXPECT_EQ(IDOf(layer.ObjectAtLL(PointLL(0, 0))), "near");
  EXPECT_EQ(g->asked, 0);
  far->SetPresenterID(4); // first in the source's order, and its presenter says yes
  EXPECT_EQ(IDOf(layer.ObjectAtLL(PointLL(0, 0))), "far");
  EXPECT_EQ(g->asked, 1);
}

TEST(LayerHitTests, PolygonAcrossTheMeridianFoundFromBothSides)
{
  TGLayer root;
  TGLayer& layer = AddLayer(root, "sea");
  auto poly = std::make_shared<TGMapPoly>();
  auto ring = std::make_unique<TGPointStore>();
  for (const auto& p :
       {PointLL(179 * D, 0), PointLL(-179 * D, 0), PointLL(-179 * D, D), PointLL(179 * D, D)})
    ring->Add(p);
  poly->Chains().Add(std::move(ring));
  poly->SetClosed(true);
  poly->SetUserID("dateline");
  layer.ObjectSource().Add(poly);
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(179 * D + D / 2, D / 2))), "dateline");
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(-179 * D - D / 2, D / 2))), "dateline");
  EXPECT_EQ(IDOf(root.ObjectAtLL(PointLL(0, D / 2))), "none");
  EXPECT_EQ(root.SelectObjects(MER(-179 * D - D / 4, D / 4, 100, 100), true, true, true), 1);
  EXPECT_TRUE(poly->Selected());
}

// ---------------------------------------------------------------------------------------------
// Selection

TEST(LayerSelect, ContainedOrProbedObjectsAreSelected)
{
  TGLayer layer;
  auto inside = AddPoint(layer, "inside", 100, 100);
  auto around = AddSquare(layer, "around", -10 * D, -10 * D, 20 * D); // covers the centre
  auto outside = AddPoint(layer, "outside", 5 * D, 5 * D);
  auto line = AddSquare(layer, "line", -D, -D, 2 * D);
  line->SetClosed(false); // its edges run outside the box, its interior is not hit

  const TGMER box = MER(0, 0, 1000, 1000);
  EXPECT_EQ(layer.SelectObjects(box, false, false, true), 2);
  EXPECT_TRUE(inside->Selected());
  EXPECT_TRUE(around->Selected());
  EXPECT_FALSE(outside->Selected());
  EXPECT_FALSE(line->Selected());

  EXPECT_EQ(layer.SelectObjects(box, false, false, false), 2);
  EXPECT_EQ(layer.Selection().Count(), 0);
  EXPECT_EQ(layer.SelectObjects(box, false, true, true), 1);
  EXPECT_EQ(layer.Selection().Count(), 1);

  layer.SetSelectable(false);
  EXPECT_EQ(layer.SelectObjects(box, false, false, true), 0);
}

TEST(LayerSelect, QuarterProbesFindAPolygonAwayFromTheCentre)
{
  TGLayer layer;
  // A triangle filling the box's south-west corner only; the box's centre is outside it.
  auto tri = std::make_shared<TGMapPoly>();
  auto ring = std::make_unique<TGPointStore>();
  for (const auto& p : {PointLL(-100, -100), PointLL(4000, -100), PointLL(-100, 4000)})
    ring->Add(p);
  tri->Chains().Add(std::move(ring));
  tri->SetClosed(true);
  layer.ObjectSource().Add(tri);
  auto wide = std::make_unique<WidePresenter>(10);
  layer.Presenters().Add(std::move(wide)); // gives the layer a tolerance of 10
  EXPECT_EQ(layer.SelectObjects(MER(0, 0, 10000, 10000), false, false, true), 1);
}

TEST(LayerSelect, SubLayersFromTheTopAndFirstOnlyStops)
{
  TGLayer root;
  TGLayer& a = AddLayer(root, "a");
  TGLayer& b = AddLayer(root, "b");
  auto pa = AddPoint(a, "pa", 0, 0);
  auto pb = AddPoint(b, "pb", 0, 0);
  const TGMER box = MER(-5, -5, 10, 10);
  EXPECT_EQ(root.SelectObjects(box, false, false, true), 0);
  EXPECT_EQ(root.SelectObjects(box, true, true, true), 1);
  EXPECT_TRUE(pb->Selected());
  EXPECT_FALSE(pa->Selected());
  EXPECT_EQ(root.SelectObjects(box, true, false, true), 2);

  // ClearSelected reaches sub-layers even when the layer's own selection is empty.
  EXPECT_TRUE(root.ClearSelected());
  EXPECT_FALSE(pa->Selected());
  EXPECT_FALSE(root.ClearSelected());

  b.SetVisible(false);
  EXPECT_EQ(root.SelectObjects(box, true, false, true), 1);
  EXPECT_TRUE(pa->Selected());
}

TEST(LayerSelection, BucketsByKeyModulo67InInsertionOrder)
{
  TGLayer layer;
  for (int i = 1; i <= 140; ++i)
    AddPoint(layer, std::to_string(i), i, 0);
  TGLayerSelection& sel = layer.Selection();
  for (TGPrimaryKey k : {70, 3, 68, 1, 135, 1})
    sel.Add(k);
  EXPECT_EQ(sel.Count(), 5);
  EXPECT_TRUE(sel.Contains(135));
  EXPECT_FALSE(sel.Contains(2));

  // Bucket 1: 68, 1, 135 in insertion order; bucket 3: 70, 3.
  std::vector<std::string> forward, backward;
  for (auto obj = sel.First(); obj; obj = sel.Next())
    forward.push_back(obj->UserID());
  for (auto obj = sel.Last(); obj; obj = sel.Prior())
    backward.push_back(obj->UserID());
  EXPECT_EQ(forward, (std::vector<std::string>{"68", "1", "135", "70", "3"}));
  EXPECT_EQ(backward, (std::vector<std::string>{"3", "70", "135", "1", "68"}));

  // A key whose object went away is passed over.
  layer.ObjectSource().Remove(*layer.ObjectSource().ByPrimaryKey(135));
  sel.Add(135); // stale key
  forward.clear();
  for (auto obj = sel.First(); obj; obj = sel.Next())
    forward.push_back(obj->UserID());
  EXPECT_EQ(forward, (std::vector<std::string>{"68", "1", "70", "3"}));

  sel.Remove(68);
  EXPECT_EQ(sel.Count(), 4);
  EXPECT_TRUE(sel.Clear());
  EXPECT_FALSE(sel.Clear());
  EXPECT_EQ(sel.First(), nullptr);
}

TEST(GlobeSelection, WalksTheTreeInPreOrder)
{
  TGLayer root;
  TGLayer& a = AddLayer(root, "a");
  TGLayer& a1 = AddLayer(a, "a1");
  TGLayer& b = AddLayer(root, "b");
  AddLayer(root, "empty");
  for (TGLayer* l : {&root, &a, &a1, &b})
    for (int i = 0; i < 2; ++i)
      AddPoint(*l, l->Name() + std::to_string(i), 0, 0)->SetSelected(true);
  root.Selection().Remove(1);

  TGGlobeSelection sel(root);
  EXPECT_EQ(sel.Count(), 7);
  std::vector<std::string> forward, backward;
  for (auto obj = sel.First(); obj; obj = sel.Next())
    forward.push_back(obj->UserID());
  EXPECT_EQ(forward, (std::vector<std::string>{"1", "a0", "a1", "a10", "a11", "b0", "b1"}));
  for (auto obj = sel.Last(); obj; obj = sel.Prior())
    backward.push_back(obj->UserID());
  EXPECT_EQ(backward, (std::vector<std::string>(forward.rbegin(), forward.rend())));
  EXPECT_TRUE(sel.Clear());
  EXPECT_EQ(sel.Count(), 0);
  EXPECT_EQ(sel.First(), nullptr);
}

TEST(LayerMER, UnitesTheSourceAndEverySubLayer)
{
  TGLayer root;
  EXPECT_EQ(root.LayerMER(), TGMER{});
  AddPoint(root, "r", 0, 0);
  TGLayer& sub = AddLayer(root, "sub");
  AddPoint(sub, "s", 100, 200);
  EXPECT_EQ(root.LayerMER(), MER(0, 0, 101, 201));
}

} // namespace
} // namespace vtr
