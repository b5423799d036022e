// The engine's persisted classes, entered in the class registry on its first use. Registering
// here rather than from static objects in each unit keeps the linker from dropping them out of
// the static library. Each unit adds its classes in the order of the engine's units.
#include "globe/GClasses.h"
#include "globe/GGraticule.h"
#include "globe/GLYRReader.h"
#include "globe/GLayer.h"
#include "globe/GMapObject.h"
#include "globe/GObjectSource.h"
#include "globe/GPresenter.h"
#include "globe/GProjector.h"
#include "globe/GRenderer.h"
#include "globe/GSDBObjectSource.h"

namespace vtr {

void RegisterGlobeClasses()
{
  RegisterGlobeClass<TGGraticule>("TGGraticule", "Graticule");
  RegisterGlobeClass<TGSDBObjectSource>("TGSDBObjectSource", "SDB Object Source");
  RegisterGlobeClass<TGPointPresenter>("TGPointPresenter", "Point Presenter");
  RegisterGlobeClass<TGPolyPresenter>("TGPolyPresenter", "Poly Presenter");
  RegisterGlobeClass<TGPolygonPresenter>("TGPolygonPresenter", "Polygon Presenter");
  RegisterGlobeClass<TGPolylinePresenter>("TGPolylinePresenter", "Polyline Presenter");
  RegisterGlobeClass<TGCartesianPrj>("TGCartesianPrj", "Cartesian Projection");
  RegisterGlobeClass<TGMercatorPrj>("TGMercatorPrj", "Mercator Projection");
  RegisterGlobeClass<TGSphericalPrj>("TGSphericalPrj", "Spherical Projection");
  RegisterGlobeClass<TGMemoryObjectSource>("TGMemoryObjectSource", "Memory Object Source");
  RegisterGlobeClass<TGPen>("TGPen", "Globe Pen");
  RegisterGlobeClass<TGBrush>("TGBrush", "Globe Brush");
  RegisterGlobeClass<TGFont>("TGFont", "Globe Font");
  RegisterGlobeClass<TGLayer>("TGLayer", "Layer");
  RegisterGlobeClass<TGMapPoint>("TGMapPoint", "Map Point");
  RegisterGlobeClass<TGMapPoly>("TGMapPoly", "Map Poly");
  RegisterGlobeClass<TGMapRaster>("TGMapRaster", "Map Raster");
  RegisterGlobeClass<TGLYRFileReader>("TGLYRFileReader", "LYR File Reader");
}

} // namespace vtr
