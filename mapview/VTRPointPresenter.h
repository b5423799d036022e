#pragma once
// The point presenter that draws unit symbols and heading arrows: the engine's point shapes
// plus an arrow at a fixed screen angle, and images drawn with the transparency set on them
// (the map view makes white transparent), not recomputed at every draw.

#include "globe/GPresenter.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vtr {

// The engine's point shapes with the same ordinals, plus ppArrow (scoped: the names are the
// engine enumeration's).
enum class TGVTRPointPresenterType : uint8_t {
  ppNone,
  ppFontSymbol,
  ppImage,
  ppDot,
  ppCircle,
  ppSquare,
  ppDiamond,
  ppTriangleUp,
  ppTriangleDown,
  ppTriangleLeft,
  ppTriangleRight,
  ppArrow
};
inline constexpr int kVTRPointPresenterTypeCount = 12;

class TGVTRPointPresenter : public TGPointPresenter
{
public:
  explicit TGVTRPointPresenter(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGVTRPointPresenter"; }

  // The shape drawn; the engine point type underneath is not consulted.
  TGVTRPointPresenterType PointType() const { return FPointType; }
  void SetPointType(TGVTRPointPresenterType value) { FPointType = value; }
  // Direction of ppArrow in degrees clockwise from the top of the view; it does not turn
  // with the projection.
  int16_t AngleDeg() const { return FiAngleDeg; }
  void SetAngleDeg(int16_t value) { FiAngleDeg = value; }

  void Assign(const TGComponent& source) override;
  bool Equals(const TGPresenter& other) const override;

  // Draws the shape centred on device point (X, Y), Size pixels across (c = Size div 2;
  // nothing below 2 pixels). ppArrow: a shaft of c pixels from (X, Y) and a closed head of
  // two c/3 barbs 155 degrees off the shaft.
  virtual void DrawSymbolXY(int32_t X, int32_t Y, TGRenderStateSet State, int32_t Size);
  void RenderPoint(int32_t x, int32_t y, TGRenderStateSet State, int32_t size) final
  {
    DrawSymbolXY(x, y, State, size);
  }

  // The point presenter's form, with "Type" holding this class's shape and "Angle" (0).
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

protected:
  std::unique_ptr<TGPresenter> NewInstance() const override;
  TGSymbolTools SymbolTools() const override;

private:
  int16_t FiAngleDeg = 0;
  TGVTRPointPresenterType FPointType = TGVTRPointPresenterType::ppNone;
};

// Enters the map view's classes in the engine's class registry (once per process).
void RegisterMapViewClasses();

} // namespace vtr
