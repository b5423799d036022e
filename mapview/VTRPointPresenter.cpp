#include "mapview/VTRPointPresenter.h"

#include "globe/GRenderer.h"
#include "globe/GSysUtils.h"
#include "globe/GXML.h"

#include <cmath>
#include <numbers>

namespace vtr {

using VT = TGVTRPointPresenterType;

TGVTRPointPresenter::TGVTRPointPresenter(TGGlobe* parentGlobe) : TGPointPresenter(parentGlobe) {}

std::unique_ptr<TGPresenter> TGVTRPointPresenter::NewInstance() const
{
  return std::make_unique<TGVTRPointPresenter>(ParentGlobe());
}

void TGVTRPointPresenter::Assign(const TGComponent& source)
{
  TGPointPresenter::Assign(source);
  if (const auto* other = dynamic_cast<const TGVTRPointPresenter*>(&source)) {
    FPointType = other->FPointType;
    FiAngleDeg = other->FiAngleDeg;
  }
}

bool TGVTRPointPresenter::Equals(const TGPresenter& other) const
{
  const auto* o = dynamic_cast<const TGVTRPointPresenter*>(&other);
  return o && TGPointPresenter::Equals(other) && FPointType == o->FPointType &&
         FiAngleDeg == o->FiAngleDeg;
}

TGPointPresenter::TGSymbolTools TGVTRPointPresenter::SymbolTools() const
{
  switch (FPointType) {
  case VT::ppFontSymbol:
    return TGSymbolTools::Font;
  case VT::ppImage:
    return TGSymbolTools::None;
  default:
    return TGSymbolTools::PenAndBrush;
  }
}

void TGVTRPointPresenter::DrawSymbolXY(int32_t X, int32_t Y, TGRenderStateSet State, int32_t Size)
{
  (void)State;
  const int32_t c = Size / 2;
  TGRenderer* r = Renderer();
  if (c <= 0 || !r) return;
  if (FPointType != VT::ppArrow) {
    // The engine's shapes share their ordinals with ours.
    DrawShape(static_cast<TGPointPresenterType>(FPointType), X, Y, c);
    return;
  }
  // Offsets of c pixels at deg degrees clockwise from up; screen y grows downward.
  const auto offset = [c](long double deg) {
    const long double a = deg * std::numbers::pi_v<long double> / 180;
    return TGPoint{RoundToInt32(c * std::sin(a)), -RoundToInt32(c * std::cos(a))};
  };
  const TGPoint d = offset(FiAngleDeg);
  const TGPoint tip{X + d.X, Y + d.Y};
  const TGPoint b1 = offset(FiAngleDeg - 155), b2 = offset(FiAngleDeg + 155);
  const TGPoint head[4] = {
      tip, {tip.X + b1.X / 3, tip.Y + b1.Y / 3}, {tip.X + b2.X / 3, tip.Y + b2.Y / 3}, tip};
  const TGPoint shaft[2] = {{X, Y}, tip};
  r->DrawPoly(shaft, 2, false);
  r->DrawPoly(head, 4, true);
}

void TGVTRPointPresenter::SaveToXML(TGXML_Element& el)
{
  TGPointPresenter::SaveToXML(el);
  el.DeleteAttribute("Type");
  el.AddIntAttribute("Type", static_cast<int>(FPointType), static_cast<int>(VT::ppNone));
  el.AddIntAttribute("Angle", FiAngleDeg, 0);
}

void TGVTRPointPresenter::LoadFromXML(const TGXML_Element& el)
{
  TGPointPresenter::LoadFromXML(el);
  FPointType = EnumAttribute(el, "Type", VT::ppNone, kVTRPointPresenterTypeCount);
  FiAngleDeg = static_cast<int16_t>(el.IntAttribute("Angle", 0));
}

void RegisterMapViewClasses()
{
  RegisterGlobeClass<TGVTRPointPresenter>("TGVTRPointPresenter", "VTR Point Presenter");
}

} // namespace vtr
