#include "globe/GGraticule.h"

#include "globe/GXML.h"

namespace vtr {

TGGraticule::TGGraticule(TGGlobe* parentGlobe) : TGComponent(parentGlobe)
{
  FGraticulePen.Define(clSilver, gpsSolid, 1, guPixel);
  FGraticulePen.SetModified(false);
  FGraticulePen.OnChange = [this] { Changed(); };
}

void TGGraticule::Changed()
{
  if (OnChanged) OnChanged();
}

void TGGraticule::SetLongitudeStep(int32_t value)
{
  if (value == FLongitudeStep) return;
  FLongitudeStep = value;
  Changed();
}

void TGGraticule::SetLatitudeStep(int32_t value)
{
  if (value == FLatitudeStep) return;
  FLatitudeStep = value;
  Changed();
}

void TGGraticule::SetDrawMode(TGGraticuleDraw value)
{
  if (value == FDrawMode) return;
  FDrawMode = value;
  Changed();
}

void TGGraticule::Assign(const TGComponent& source)
{
  const auto* other = dynamic_cast<const TGGraticule*>(&source);
  if (!other || other == this) return;
  FLongitudeStep = other->FLongitudeStep;
  FLatitudeStep = other->FLatitudeStep;
  FDrawMode = other->FDrawMode;
  FGraticulePen.Assign(other->FGraticulePen); // fires OnChanged
}

void TGGraticule::SaveToXML(TGXML_Element& el)
{
  TGComponent::SaveToXML(el);
  el.AddIntAttribute("LongStep", FLongitudeStep, 0);
  el.AddIntAttribute("LatStep", FLatitudeStep, 0);
  el.AddIntAttribute("DrawMode", FDrawMode, gdBehind);
  FGraticulePen.SaveToXML(el.AddElement("Pen"));
}

void TGGraticule::LoadFromXML(const TGXML_Element& el)
{
  SetLongitudeStep(el.IntAttribute("LongStep", 0));
  SetLatitudeStep(el.IntAttribute("LatStep", 0));
  SetDrawMode(EnumAttribute(el, "DrawMode", gdBehind, gdInFront + 1));
  LoadElementOrDefaults(FGraticulePen, el, "Pen");
}

void TGGraticule::Render()
{
  if (!FHost) return;
  FHost->Renderer().SetPen(FGraticulePen);
  constexpr int32_t kWest = -971'999'999, kEast = 971'999'999;
  constexpr int32_t kMeridianEnd = 480'600'000; // 89 degrees
  if (FLongitudeStep > 0) {
    const int64_t step = int64_t{FLongitudeStep} * GU_DEGREE;
    for (int64_t L = kWest; L < GU_180; L += step) {
      const auto iLong = static_cast<int32_t>(L);
      FHost->RenderLine({iLong, -kMeridianEnd, 0}, {iLong, kMeridianEnd, 0}, 180);
    }
  }
  if (FLatitudeStep > 0) {
    const int64_t step = int64_t{FLatitudeStep} * GU_DEGREE;
    auto parallel = [this](int32_t iLat) {
      FHost->RenderLine({kEast, iLat, 0}, {0, iLat, 0}, 85);
      FHost->RenderLine({0, iLat, 0}, {kWest, iLat, 0}, 85);
    };
    for (int64_t phi = 0; phi < 459'000'000; phi += step) {
      parallel(static_cast<int32_t>(phi));
      if (phi != 0) parallel(static_cast<int32_t>(-phi)); // the equator only once
    }
  }
}

} // namespace vtr
