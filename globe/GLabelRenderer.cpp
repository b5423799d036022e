#include "globe/GLabelRenderer.h"

#include "globe/GLayer.h"
#include "globe/GObjectSource.h"
#include "globe/GProjector.h"

#include <algorithm>

namespace vtr {

namespace {

// More distinct title fonts than this are dropped at the next Clear rather than kept forever.
constexpr size_t kMaxKeptFonts = 256;

bool RectHolds(const TGRect& r, const TGPoint& p)
{
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

} // namespace

TGLabelRenderer::TGLabelRenderer(TGGlobe* parentGlobe) : TGComponent(parentGlobe) {}

void TGLabelRenderer::Clear()
{
  for (int32_t i = 0; i < FLayerCount; ++i) {
    FLayerTitles[static_cast<size_t>(i)].Layer = nullptr;
    FLayerTitles[static_cast<size_t>(i)].Count = 0;
  }
  FLayerCount = 0;
  if (FFonts.size() > kMaxKeptFonts) {
    FFonts.clear();
    FSelectedFrom = -1;
  }
}

void TGLabelRenderer::BeginLayer(TGLayer& layer)
{
  if (static_cast<size_t>(FLayerCount) == FLayerTitles.size()) FLayerTitles.emplace_back();
  TGLayerTitles& list = FLayerTitles[static_cast<size_t>(FLayerCount++)];
  list.Layer = &layer;
  list.Count = 0;
}

void TGLabelRenderer::ForgetLayer(const TGLayer* layer)
{
  for (int32_t i = 0; i < FLayerCount; ++i) {
    TGLayerTitles& list = FLayerTitles[static_cast<size_t>(i)];
    if (list.Layer != layer) continue;
    list.Layer = nullptr;
    list.Count = 0;
  }
}

const TGLayerTitles& TGLabelRenderer::LayerTitles(int32_t index) const
{
  G_ASSERT(index >= 0 && index < FLayerCount);
  return FLayerTitles[static_cast<size_t>(index)];
}

int32_t TGLabelRenderer::FontIndex(const TGFont& font)
{
  for (size_t i = 0; i < FFonts.size(); ++i)
    if (FFonts[i]->HashValue() == font.HashValue() && FFonts[i]->Equals(font))
      return static_cast<int32_t>(i);
  auto copy = std::make_unique<TGFont>();
  copy->Assign(font);
  FFonts.push_back(std::move(copy));
  return static_cast<int32_t>(FFonts.size() - 1);
}

void TGLabelRenderer::AddLabel(IGMapPoint& mapObj, const std::string& text, int32_t offset,
                               TGUnitTypes offsetUnits, TGTitleAlignment alignment,
                               const TGFont& font)
{
  G_ASSERT_MSG(FLayerCount > 0, "No Layers added to LabelRenderer");
  if (text.empty() || alignment == taNone || !FHost) return;
  TGRenderer& renderer = FHost->Renderer();
  if (renderer.FontRenderSize(font.Size(), font.SizeUnit()) <
      std::max(2, renderer.GetMinTextSize()))
    return;
  const TGPointLL centroid = mapObj.Centroid();
  TGPoint pt;
  if (!FHost->Projector().PointLLToXY(centroid, pt)) return;

  TGLayerTitles& list = FLayerTitles[static_cast<size_t>(FLayerCount - 1)];
  if (list.Layer == nullptr) return; // its layer was forgotten meanwhile
  if (static_cast<size_t>(list.Count) == list.Titles.size())
    list.Titles.resize(list.Titles.size() + kTitleBlock);
  TGTitleEntry& entry = list.Titles[static_cast<size_t>(list.Count)];
  entry.PrimaryKey = mapObj.PrimaryKey();
  entry.Centroid = centroid;
  entry.Selected = mapObj.Selected();
  entry.Text.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      entry.Text += '\n';
      ++i;
    } else {
      entry.Text += text[i];
    }
  }
  entry.FontIndex = FontIndex(font);
  renderer.SetFont(*FFonts[static_cast<size_t>(entry.FontIndex)]);
  renderer.GetTextRect(pt.X, pt.Y, entry.Rect, renderer.ScaleUnitsToDevice(offset, offsetUnits),
                       alignment, entry.Text);
  ++list.Count;
}

void TGLabelRenderer::Render()
{
  if (!FHost) return;
  TGRenderer& renderer = FHost->Renderer();
  const TColor selectedColor = renderer.SelectedPen().Color();
  int32_t drawn = 0;
  for (int32_t i = 0; i < FLayerCount; ++i) {
    const TGLayerTitles& list = FLayerTitles[static_cast<size_t>(i)];
    for (int32_t j = 0; j < list.Count; ++j) {
      const TGTitleEntry& title = list.Titles[static_cast<size_t>(j)];
      const TGFont& font = *FFonts[static_cast<size_t>(title.FontIndex)];
      if (title.Selected) {
        // Made again only when the title font or the selection colour differs.
        if (FSelectedFrom != title.FontIndex || FSelectedFromHash != font.HashValue() ||
            FSelectedFont.Color() != selectedColor) {
          FSelectedFont.Assign(font);
          FSelectedFont.SetColor(selectedColor);
          FSelectedFrom = title.FontIndex;
          FSelectedFromHash = font.HashValue();
        }
        renderer.SetFont(FSelectedFont);
      } else {
        renderer.SetFont(font);
      }
      renderer.DrawTextRect(title.Rect, title.Text);
      if (++drawn % 256 == 0) {
        FHost->PeriodicUpdate();
        if (FHost->RenderMustStop()) return;
      }
    }
  }
}

std::shared_ptr<IGMapPoint> TGLabelRenderer::ObjectAtLL(const TGPointLL& ptLL)
{
  if (!FHost) return nullptr;
  TGPoint pt;
  if (!FHost->Projector().PointLLToXY(ptLL, pt)) return nullptr;
  for (int32_t i = 0; i < FLayerCount; ++i) {
    const TGLayerTitles& list = FLayerTitles[static_cast<size_t>(i)];
    TGLayer* layer = list.Layer;
    if (!layer || !layer->Visible() || !layer->Enabled() || !layer->HasObjectSource()) continue;
    for (int32_t j = 0; j < list.Count; ++j) {
      const TGTitleEntry& title = list.Titles[static_cast<size_t>(j)];
      if (!RectHolds(title.Rect, pt)) continue;
      // A title whose object has gone meanwhile is passed over.
      if (auto obj = layer->ObjectSource().ByPrimaryKey(title.PrimaryKey)) return obj;
    }
  }
  return nullptr;
}

int32_t TGLabelRenderer::SelectObjects(const TGMER& aMER, bool /*firstOnly*/, bool state)
{
  auto obj = ObjectAtLL(MERCenter(aMER));
  if (!obj) return 0;
  obj->SetSelected(state);
  return 1;
}

} // namespace vtr
