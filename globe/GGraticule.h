#pragma once
// The graticule: meridians and parallels drawn with their own pen, behind the layers or in
// front of them.

#include "globe/GClasses.h"
#include "globe/GRenderer.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vtr {

enum TGGraticuleDraw { gdNone, gdBehind, gdInFront };

class TGGraticule : public TGComponent
{
public:
  explicit TGGraticule(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGGraticule"; }

  // The globe it draws on (borrowed); without one Render draws nothing.
  IGRenderHost* Host() const { return FHost; }
  void SetHost(IGRenderHost* host) { FHost = host; }

  // Degrees between lines; 0 or less draws none of that kind.
  int32_t LongitudeStep() const { return FLongitudeStep; }
  void SetLongitudeStep(int32_t value);
  int32_t LatitudeStep() const { return FLatitudeStep; }
  void SetLatitudeStep(int32_t value);
  TGGraticuleDraw DrawMode() const { return FDrawMode; }
  void SetDrawMode(TGGraticuleDraw value);
  // Silver, solid, 1 pixel by default; changing it fires OnChanged.
  TGPen& GraticulePen() { return FGraticulePen; }
  const TGPen& GraticulePen() const { return FGraticulePen; }

  // Fired after any change (the globe redraws).
  std::function<void()> OnChanged;

  // Copies steps, draw mode and pen of another graticule.
  void Assign(const TGComponent& source) override;
  // XML form: "Class", "LongStep" and "LatStep" (0), "DrawMode" (ordinal; gdBehind) and the
  // child "Pen", each left out at its default; loading sets missing ones to those defaults.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

  // With the graticule pen: meridians every LongitudeStep degrees from -180 (just east of it)
  // from 89 S to 89 N in 180 steps, and parallels every LatitudeStep degrees from the equator
  // up to 85 N and S, each as two half lines of 85 steps through the central meridian 0.
  void Render();

private:
  void Changed();

  IGRenderHost* FHost = nullptr;
  int32_t FLongitudeStep = 10;
  int32_t FLatitudeStep = 10;
  TGGraticuleDraw FDrawMode = gdBehind;
  TGPen FGraticulePen;
};

} // namespace vtr
