#pragma once
// The label renderer: collects the titles of the objects drawn during a render, layer by
// layer, and draws them after all layers, so that no layer paints over another's titles. The
// drawn titles then answer hit tests (a click on a title finds its object).
//
// The lists keep their storage from render to render: a render that adds the same titles again
// allocates nothing.

#include "globe/GClasses.h"
#include "globe/GMapObject.h"
#include "globe/GRenderer.h"
#include "globe/GSysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vtr {

class TGLayer;

// One collected title. Rect is the text's device rectangle (pixels) at the render it was added
// in; FontIndex names the label renderer's copy of the title font.
struct TGTitleEntry
{
  TGPrimaryKey PrimaryKey = 0;
  TGPointLL Centroid;
  bool Selected = false;
  std::string Text; // line breaks where the title had "\n"
  TGRect Rect;
  int32_t FontIndex = 0;
};

// The titles of one rendered layer; Titles grows in steps of 512 entries, Count are in use.
struct TGLayerTitles
{
  TGLayer* Layer = nullptr;
  std::vector<TGTitleEntry> Titles;
  int32_t Count = 0;
};

class TGLabelRenderer : public TGComponent
{
public:
  static constexpr int32_t kTitleBlock = 512;

  explicit TGLabelRenderer(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGLabelRenderer"; }

  // The globe it draws on and projects with (borrowed); without one nothing is added or drawn.
  IGRenderHost* Host() const { return FHost; }
  void SetHost(IGRenderHost* host) { FHost = host; }

  // Forgets every title (at the start of a render, and whenever the layer tree changes: the
  // lists name their layers).
  void Clear();
  // The titles added next belong to layer (borrowed until the next Clear or ForgetLayer).
  void BeginLayer(TGLayer& layer);
  // Drops the titles of a layer that is going away.
  void ForgetLayer(const TGLayer* layer);

  // Adds the title of mapObj to the current layer's list: nothing for empty text or taNone,
  // for a font that renders below max (2, the renderer's minimum text size), or when the
  // object's centroid does not project visibly. "\n" in text becomes a line break; the
  // rectangle is placed at the centroid's device point by alignment, with offset in
  // offsetUnits converted to pixels. Before any BeginLayer: assertion failure "No Layers added
  // to LabelRenderer".
  void AddLabel(IGMapPoint& mapObj, const std::string& text, int32_t offset,
                TGUnitTypes offsetUnits, TGTitleAlignment alignment, const TGFont& font);

  // Draws every title, layers in order, each with its font (in the selection pen's colour for
  // a selected object). Every 256 titles the globe's periodic update runs, and a render that
  // must stop ends the drawing.
  void Render();

  // The object whose title lies under the position: the first title (layers in order, titles
  // in order) of a visible and enabled layer whose rectangle holds the position's device point.
  std::shared_ptr<IGMapPoint> ObjectAtLL(const TGPointLL& ptLL);
  // Sets the selected flag of the object whose title lies under aMER's centre to state;
  // returns 1, or 0 when no title lies there.
  int32_t SelectObjects(const TGMER& aMER, bool firstOnly, bool state);

  // The lists in use.
  int32_t LayerCount() const { return FLayerCount; }
  const TGLayerTitles& LayerTitles(int32_t index) const;
  const TGFont& TitleFont(int32_t fontIndex) const
  {
    return *FFonts[static_cast<size_t>(fontIndex)];
  }

private:
  int32_t FontIndex(const TGFont& font);

  IGRenderHost* FHost = nullptr;
  std::vector<TGLayerTitles> FLayerTitles; // slots beyond FLayerCount keep their storage
  int32_t FLayerCount = 0;
  std::vector<std::unique_ptr<TGFont>> FFonts; // distinct title fonts
  TGFont FSelectedFont;                        // a title font in the selection colour
  int32_t FSelectedFrom = -1;                  // the font it was made from
  uint64_t FSelectedFromHash = 0;
};

} // namespace vtr
