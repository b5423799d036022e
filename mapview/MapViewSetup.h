#pragma once
// What every map view's globe starts with, and how its symbol and arrow sizes follow the zoom.
// Shared by the view and by vtrtool's headless rendering, so both draw alike.

#include <cstdint>

namespace vtr {

class TGGlobe;

// Spherical projection at its design scale, centre latitude and x rotation 23.5, field of view
// 50, origin (156, 153) at the 312 x 306 design size, text heights 5 to 50, a red 2-pixel
// selection pen with a clear selection brush, a silver 1-pixel graticule every 10 degrees,
// culling below 0.75 pixels and grey 1.5-pixel minimum objects, a blue surface, the centre
// kept on resize. The globe is left at the design size; its owner sizes it afterwards.
void ApplyMapViewConfiguration(TGGlobe& globe);

// Pixel sizes at g globe units per pixel (g >= 1): the unit symbol's, and the heading arrow's
// for arrows arrowLength pixels long at most. Far out they shrink toward 0.
int32_t UnitSymbolSize(int32_t guPerPixel);
int32_t ArrowSize(int32_t guPerPixel, int32_t arrowLength);

} // namespace vtr
