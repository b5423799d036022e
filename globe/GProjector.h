#pragma once
// The projector (the view geometry of one globe control: scale, device origin, rotations,
// central meridian, zoom and extent limits, spheroid) and the projection models that turn
// geographic points into device points and back: TGSphericalPrj (orthographic view of the
// globe), TGCartesianPrj (plate carree) and TGMercatorPrj.
//
// Units used throughout: positions in GU (GSysUtils.h; longitudes in (-GU_180, GU_180] once
// wrapped, latitudes in [-GU_90, GU_90], heights in GU above the sphere); device points in
// pixels with y pointing down; angles of the view in degrees (long double); the scale factor in
// pixels per GU, kept within [5e-8, 1].
//
// Every projection writes its result into the renderer's point buffer (GRenderer.h) at the
// index the caller gives; the projector's own point operations use index 0.

#include "globe/GClasses.h"
#include "globe/GProjectorHost.h"
#include "globe/GRenderer.h"
#include "globe/GSysUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vtr {

class TGBitmap;
class TGPointStore;
class TGProjector;
class TGXML_Element;

// Index of each settable quantity, passed to the model's PropertyChanged.
enum TGProjectionProperty {
  ppXRotation = 0,
  ppYRotation = 1,
  ppZRotation = 2,
  ppScaleFactor = 3,
  ppXOrigin = 4,
  ppYOrigin = 5,
  ppCentralMeridian = 6,
  ppCentralParallel = 7,
  ppFirstParallel = 8,
  ppSecondParallel = 9,
  ppSpheroid = 10,
  ppXAxisChanges = 11,
  ppYAxisChanges = 12,
  ppMaxLatitude = 13,
  ppMinLatitude = 14,
  ppMaxLongitude = 15,
  ppMinLongitude = 16,
  ppMaxZoom = 17,
  ppMinZoom = 18
};
inline constexpr int kProjectionPropertyCount = 19;

// What a flat projection does when the X (latitude) or Y (longitude) rotation changes.
enum TGXAxisChanges { xaYOrigin, xaCentralParallel, xaNoAction };
enum TGYAxisChanges { yaXOrigin, yaCentralMeridian, yaNoAction };

// A captured view (GetPOZ / SetPOZ), used to carry a view over to a control of another size.
// Held in memory only.
struct TGPOZ
{
  long double eSF = 0; // scale factor, pixels per GU
  TGPoint CenterXY;    // the device origin (XOrigin, YOrigin)
  int32_t iRotX = 0;   // rotations in GU (degrees * 5,400,000); the flat models keep the
  int32_t iRotY = 0;   // centre latitude in iRotX and the centre longitude in iRotY
  int32_t iRotZ = 0;
  int32_t iWidth = 0; // client size in pixels when captured
  int32_t iHeight = 0;
  friend bool operator==(const TGPOZ&, const TGPOZ&) = default;
};

// ---------------------------------------------------------------------------------------------
// Projection models

// The operations every projection model provides. A model belongs to one projector, which
// attaches itself when it installs the model; the model reads the view (scale, origins,
// rotations) from it and reaches the renderer and the globe through it.
class TGCustomProjectionModel : public TGRoot
{
public:
  explicit TGCustomProjectionModel(TGGlobe* globe) : FGlobe(globe) {}
  TGCustomProjectionModel(const TGCustomProjectionModel&) = delete;
  TGCustomProjectionModel& operator=(const TGCustomProjectionModel&) = delete;
  std::string ClassName() const override { return "TGCustomProjectionModel"; }

  // The globe control the model was created for (null for a free-standing model).
  TGGlobe* Globe() const { return FGlobe; }
  // The projector this model is installed in (an assertion failure before that).
  TGProjector& Projector() const;

  // The base accepts any model and copies nothing; models with cached state copy it from a
  // model of their own class.
  virtual void Assign(const TGCustomProjectionModel& source);
  // XML form: only the attribute "Class"; loading reads nothing (the projector holds the view).
  virtual void SaveToXML(TGXML_Element& el) const;
  virtual void LoadFromXML(const TGXML_Element& el) { (void)el; }

  // Projects the store's points into the buffer from index iStart on and returns the next free
  // index (see each model for which points are written).
  virtual int32_t PointStoreToXY(const TGPointStore& points, int32_t iStart) = 0;
  // The runs of consecutive visible points of the store (visible as PointLLToXY sees them),
  // each projected into the buffer from index 0 and handed to run with its point count before
  // the next one is projected; an invisible point ends a run. closed: the first point follows
  // the last once more. Within a run a point on the same pixel as the one before is dropped;
  // a run of one point is not handed on, but a run of several points on one pixel comes as
  // that pixel twice.
  virtual void PointStoreRunsToXY(const TGPointStore& points, bool closed,
                                  const std::function<void(int32_t count)>& run) = 0;
  // Writes the device point of ptLL at iIndex (always, also when the result is false) and
  // returns whether the point is visible. Longitudes need not be wrapped.
  virtual bool PointLLToXY(const TGPointLL& ptLL, int32_t iIndex) = 0;
  // As PointLLToXY with height 0 / with the given height.
  virtual bool LLToXY(int32_t iLong, int32_t iLat, int32_t iIndex) = 0;
  virtual bool LLHToXY(int32_t iLong, int32_t iLat, int32_t iHeight, int32_t iIndex) = 0;
  // Device point to (longitude, latitude) in GU at iIndex; false (nothing written) when the
  // point lies off the projection.
  virtual bool XYToLL(int32_t iX, int32_t iY, int32_t iIndex) = 0;
  // The projection's extent in GU as (Left, Top, Right, Bottom); Top is the southern edge.
  virtual TGRect ExtentsLL() const = 0;
  virtual TGPOZ GetPOZ() = 0;
  // Restores a captured view, scaled to the current client size; never raises.
  virtual void SetPOZ(const TGPOZ& POZ) = 0;
  // Whether any part of MER can be seen; sets rsFace / rsBackFace in State.
  virtual bool VisibleMER(const TGMER& MER, TGRenderStateSet& State) = 0;
  // Called with the index of every projector property that changed, and for all of them in
  // order when the model is installed.
  virtual void PropertyChanged(TGProjectionProperty ProjectionProperty) = 0;
  // Draws image over the map's surface with the globe's RenderTextureTriangle; the image spans
  // the world (-180..180 degrees left to right, 90..-90 top to bottom).
  virtual void PaintSurfaceImage(TGBitmap& image) = 0;
  // Fills the map's surface (the disc or the world rectangle) with the renderer's current
  // brush and pen.
  virtual void PaintSurface() = 0;
  // A new model of the same class for projector, with this one's state.
  virtual std::unique_ptr<TGCustomProjectionModel> Clone(TGProjector& projector) const = 0;
  // True when the map has no edge meridian (the sphere).
  virtual bool IsContinuous() const = 0;

protected:
  // The renderer's point buffer.
  TGPointBuffer& Points() const;

private:
  friend class TGProjector;       // attaches the models it installs
  friend class TGProjectionModel; // attaches its clones

  TGGlobe* FGlobe = nullptr;
  TGProjector* FProjector = nullptr; // the owner; set on installation
};

// The world rectangle in GU as (Left, Top, Right, Bottom): (-971,999,999, -486,000,000,
// 972,000,000, 486,000,000).
TGRect WorldExtentsLL();

// The shared behaviour of the models: height 0 and height forwarding, the world extents, the
// sampled rectangle test, whole-store projection point by point, and cloning.
class TGProjectionModel : public TGCustomProjectionModel
{
public:
  using TGCustomProjectionModel::TGCustomProjectionModel;
  std::string ClassName() const override { return "TGProjectionModel"; }

  // Each point through PointLLToXY at the next free index; only visible points advance it.
  int32_t PointStoreToXY(const TGPointStore& points, int32_t iStart) override;
  // Each point through PointLLToXY.
  void PointStoreRunsToXY(const TGPointStore& points, bool closed,
                          const std::function<void(int32_t count)>& run) override;
  bool LLToXY(int32_t iLong, int32_t iLat, int32_t iIndex) override;
  bool LLHToXY(int32_t iLong, int32_t iLat, int32_t iHeight, int32_t iIndex) override;
  // (-971,999,999, -486,000,000, 972,000,000, 486,000,000).
  TGRect ExtentsLL() const override;
  // A MER 360 degrees wide is visible outright; others are sampled every 5 degrees along their
  // edges (split in two when they cross +-180) and must have a visible sample and a sample box
  // that meets the view. Any failure during the test counts as visible.
  bool VisibleMER(const TGMER& MER, TGRenderStateSet& State) override;
  std::unique_ptr<TGCustomProjectionModel> Clone(TGProjector& projector) const override;
  bool IsContinuous() const override { return false; }

  TGMatrix Transform;
  TGMatrix InvTransform;

protected:
  // A default-constructed model of the same class for the globe.
  virtual std::unique_ptr<TGCustomProjectionModel> NewInstance(TGGlobe* globe) const = 0;

private:
  bool VisibleRect(int64_t west, int64_t south, int64_t east, int64_t north,
                   TGRenderStateSet& State);
};

// Orthographic view of the globe (a sphere of radius EarthRadiusGU), turned by the three
// rotations: with ZRotation 0, XRotation is the latitude and YRotation the longitude shown at
// the device origin. ZRotation turns the globe about its axis through (0, 0) ahead of the other
// two (the program keeps it at 0). Only the near hemisphere is visible; points above the
// surface stay visible beyond the rim.
class TGSphericalPrj : public TGProjectionModel
{
public:
  explicit TGSphericalPrj(TGGlobe* globe = nullptr) : TGProjectionModel(globe) {}
  std::string ClassName() const override { return "TGSphericalPrj"; }

  void Assign(const TGCustomProjectionModel& source) override;
  // From the store's cached 3-D points in one pass: points behind the globe are pulled onto
  // the rim, a point landing on the same pixel as the last one written is dropped. Returns
  // iStart + the number written.
  int32_t PointStoreToXY(const TGPointStore& points, int32_t iStart) override;
  // From the store's cached 3-D points, without trigonometry per point.
  void PointStoreRunsToXY(const TGPointStore& points, bool closed,
                          const std::function<void(int32_t count)>& run) override;
  bool PointLLToXY(const TGPointLL& ptLL, int32_t iIndex) override;
  // False for a device point off the disc.
  bool XYToLL(int32_t iX, int32_t iY, int32_t iIndex) override;
  // The globe's radius in GU on every side of (0, 0), so fitting fills the smaller side.
  TGRect ExtentsLL() const override;
  TGPOZ GetPOZ() override;
  void SetPOZ(const TGPOZ& POZ) override;
  // X rotation clamped into [-90, 90], Y and Z wrapped; rotations and scale rebuild the
  // matrices.
  void PropertyChanged(TGProjectionProperty ProjectionProperty) override;
  // An octahedron subdivided 4 to 7 times by scale, faces wholly off the view dropped early.
  void PaintSurfaceImage(TGBitmap& image) override;
  // A 180-point polygon just inside the rim.
  void PaintSurface() override;
  bool IsContinuous() const override { return true; }

  // Disc radius in pixels (ScaleFactor * EarthRadiusGU) and its square.
  long double GlobeRadius = 0;
  long double GlobeRadiusSquared = 0;

protected:
  std::unique_ptr<TGCustomProjectionModel> NewInstance(TGGlobe* globe) const override
  {
    return std::make_unique<TGSphericalPrj>(globe);
  }

private:
  void RebuildMatrices();
  void SubdivideFace(const TGPoint3D& a, const TGPoint3D& b, const TGPoint3D& c, int depth,
                     bool western, TGBitmap& image);
};

// Plate carree: one GU east or north is ScaleFactor pixels right or up; the device origin shows
// (CentralMeridian, 0). The map runs from CentralMeridian - 180 to CentralMeridian + 180, the
// east edge exclusive. The rotations move the map as XAxisChanges / YAxisChanges say.
class TGCartesianPrj : public TGProjectionModel
{
public:
  explicit TGCartesianPrj(TGGlobe* globe = nullptr) : TGProjectionModel(globe) {}
  std::string ClassName() const override { return "TGCartesianPrj"; }

  void Assign(const TGCustomProjectionModel& source) override;
  bool PointLLToXY(const TGPointLL& ptLL, int32_t iIndex) override;
  bool XYToLL(int32_t iX, int32_t iY, int32_t iIndex) override;
  TGPOZ GetPOZ() override;
  void SetPOZ(const TGPOZ& POZ) override;
  void PropertyChanged(TGProjectionProperty ProjectionProperty) override;
  // 36 x 18 cells of 10 degrees, two triangles each.
  void PaintSurfaceImage(TGBitmap& image) override;
  // The extent rectangle's outline sampled every 10 degrees (108 points).
  void PaintSurface() override;

  // The rotations seen at the previous change (degrees).
  long double LastXrotation = 0;
  long double LastYrotation = 0;

protected:
  std::unique_ptr<TGCustomProjectionModel> NewInstance(TGGlobe* globe) const override
  {
    return std::make_unique<TGCartesianPrj>(globe);
  }
  // Longitude offset of iLong from the central meridian, wrapped into (-GU_180, GU_180].
  int32_t MeridianOffset(int32_t iLong) const;
};

// Mercator on the sphere; latitudes beyond +-89 degrees are drawn at +-89. All extent edges are
// inclusive. Everything but the forward and inverse projection is the Cartesian model's.
class TGMercatorPrj : public TGCartesianPrj
{
public:
  explicit TGMercatorPrj(TGGlobe* globe = nullptr) : TGCartesianPrj(globe) {}
  std::string ClassName() const override { return "TGMercatorPrj"; }

  bool PointLLToXY(const TGPointLL& ptLL, int32_t iIndex) override;
  bool XYToLL(int32_t iX, int32_t iY, int32_t iIndex) override;

protected:
  std::unique_ptr<TGCustomProjectionModel> NewInstance(TGGlobe* globe) const override
  {
    return std::make_unique<TGMercatorPrj>(globe);
  }
};

// ---------------------------------------------------------------------------------------------
// Projector

class TGProjector : public TGRoot
{
public:
  // host: the globe control, which outlives the projector; globe: the same control as the
  // engine's globe class, handed to the models it creates by class name (may be null).
  explicit TGProjector(IGProjectorHost& host, TGGlobe* globe = nullptr);
  ~TGProjector() override;
  TGProjector(const TGProjector&) = delete;
  TGProjector& operator=(const TGProjector&) = delete;
  std::string ClassName() const override { return "TGProjector"; }

  IGProjectorHost& Host() const { return FHost; }
  TGGlobe* Globe() const { return FGlobe; }

  // Copies the view (origins, rotations, limits, zooms, scale, field of view, central meridian
  // and parallels, spheroid, axis rules) and takes a clone of the other's model; the altitude
  // and UseMinMaxLimits stay. No events, no redraw.
  void Assign(const TGProjector& source);
  // A projector for the same globe with this one's view.
  std::unique_ptr<TGProjector> Clone() const;

  // XML form (element "Projector"): "Class", the view as attributes, each left out at its
  // default ("ScaleFactor" 0, "MaxLatitude" 90, "FOV" 50, "Spheroid" 16, "YAxisChanges" 1,
  // everything else 0 or its limit), and the child "ProjectionModel" with the model's class.
  // Loading installs a new model of that class (TGSphericalPrj when it names no model), then
  // sets spheroid, axis rules, scale, limits, UseMinMaxLimits, field of view, rotations,
  // origins, central parallels and meridian; a missing or malformed attribute gives its
  // default.
  void SaveToXML(TGXML_Element& el) const;
  void LoadFromXML(const TGXML_Element& el);

  // --- Properties. Setters with a property index store the value (when it differs), tell the
  // model, update the scroll bars and redraw; rotations also fire OnRotated.

  // Device point (pixels) where the projection's centre lands. Setting fires OnPanned and
  // redraws (no scroll-bar update).
  int32_t XOrigin() const { return FXOrigin; }
  int32_t YOrigin() const { return FYOrigin; }
  void SetXOrigin(int32_t value);
  void SetYOrigin(int32_t value);
  // Both origins; a change updates the scroll bars and redraws.
  TGPoint CenterXY() const { return {FXOrigin, FYOrigin}; }
  void SetCenterXY(const TGPoint& pt);

  // Viewing height in GU derived from the last zoom (0 until then); read by layers and
  // presenters.
  uint32_t Altitude() const { return FAltitude; }

  // Degrees. YRotation is wrapped into [-180, 180) on every set.
  long double XRotation() const { return FXRotation; }
  long double YRotation() const { return FYRotation; }
  long double ZRotation() const { return FZRotation; }
  void SetXRotation(long double value) { SetProperty(ppXRotation, value); }
  void SetYRotation(long double value) { SetProperty(ppYRotation, value); }
  void SetZRotation(long double value) { SetProperty(ppZRotation, value); }

  // Degrees; each set is capped at the world's edge (90 / -90 / 180 / -180).
  long double MaxLatitude() const { return FMaxLatitude; }
  long double MinLatitude() const { return FMinLatitude; }
  long double MaxLongitude() const { return FMaxLongitude; }
  long double MinLongitude() const { return FMinLongitude; }
  void SetMaxLatitude(long double value) { SetProperty(ppMaxLatitude, value); }
  void SetMinLatitude(long double value) { SetProperty(ppMinLatitude, value); }
  void SetMaxLongitude(long double value) { SetProperty(ppMaxLongitude, value); }
  void SetMinLongitude(long double value) { SetProperty(ppMinLongitude, value); }

  // Zoom limits (scale factors): MaxZoom at most 1, MinZoom at least 5e-8; they bound
  // SetScaleFactor only while MaxZoom > MinZoom (both start at 0).
  long double MaxZoom() const { return FMaxZoom; }
  long double MinZoom() const { return FMinZoom; }
  void SetMaxZoom(long double value) { SetProperty(ppMaxZoom, value); }
  void SetMinZoom(long double value) { SetProperty(ppMinZoom, value); }

  // Pixels per GU.
  long double ScaleFactor() const { return FScaleFactor; }
  // Ignores negative values and values within 1e-10 of the current one; clamps into the zoom
  // limits; 0 fits the model's extents into the renderer, centred. Zooms about the renderer's
  // centre.
  void SetScaleFactor(long double x);
  // Zooms by delta about ptXY (the position under it stays there): the new scale is clamped
  // into [5e-8, 1] and so that the renderer spans under 2^31 GU; delta 0 does nothing. Fires
  // OnPanned (when an origin moves) and OnZoomed.
  void AdjustScaleFactor(const TGPoint& ptXY, double delta);

  // Degrees. Only the Cartesian model reads them (and moves them by the rotations).
  long double CentralMeridian() const { return FCentralMeridian; }
  long double CentralParallel() const { return FCentralParallel; }
  void SetCentralMeridian(long double value) { SetProperty(ppCentralMeridian, value); }
  void SetCentralParallel(long double value) { SetProperty(ppCentralParallel, value); }
  // Stored and copied; no model reads them.
  long double FirstParallel() const { return FFirstParallel; }
  long double SecondParallel() const { return FSecondParallel; }
  void SetFirstParallel(long double value) { SetProperty(ppFirstParallel, value); }
  void SetSecondParallel(long double value) { SetProperty(ppSecondParallel, value); }

  // Plain fields (the spheroid serves distance computations, not the projection).
  TGSpheroid Spheroid() const { return FSpheroid; }
  void SetSpheroid(TGSpheroid value) { FSpheroid = value; }
  long double FieldOfViewAngle() const { return FFieldOfViewAngle; }
  void SetFieldOfViewAngle(long double value) { FFieldOfViewAngle = value; }

  TGXAxisChanges XAxisChanges() const { return FXAxisChanges; }
  TGYAxisChanges YAxisChanges() const { return FYAxisChanges; }
  void SetXAxisChanges(TGXAxisChanges value);
  void SetYAxisChanges(TGYAxisChanges value);

  // Any settable quantity by index (ppScaleFactor through SetScaleFactor, the origins through
  // their setters, ppSpheroid as its ordinal, the axis rules as their ordinals).
  long double Property(TGProjectionProperty index) const;
  void SetProperty(TGProjectionProperty index, long double value);

  // The installed model's class name (empty before the first). Setting a name (letter case
  // ignored) installs a new model of that registered class; an unknown name raises
  // EGException "Class %s does not inherit from TProjectionModel" and changes nothing; a
  // registered class that is not a projection model is ignored.
  std::string ProjectionClass() const;
  void SetProjectionClass(std::string_view name);
  TGCustomProjectionModel* ProjectionModel() const { return FProjectionModel.get(); }
  // Installs model (null: a new TGSphericalPrj), keeping the geographic position at the
  // client centre when it replaces a model of another class.
  void SetProjectionModel(std::unique_ptr<TGCustomProjectionModel> model);

  // Setting true switches to the Cartesian model with the limits in force (origins follow the
  // rotations, central meridian and parallel 0); installing another model clears it.
  bool UseMinMaxLimits() const { return FUseMinMaxLimits; }
  void SetUseMinMaxLimits(bool value);

  // Degrees at the client centre; 2,147,483,647.0 when the centre is off the map. Setting
  // moves the map so that the given latitude / longitude comes to the client centre.
  long double CenterLatitude();
  long double CenterLongitude();
  void SetCenterLatitude(long double x);
  void SetCenterLongitude(long double x);
  // Puts the position at the client centre: longitude first (wrapped), then latitude.
  void LocateToLL(int32_t iLong, int32_t iLat);
  void LocateToLL(const TGPointLL& ptLL) { LocateToLL(ptLL.iLongX, ptLL.iLatY); }

  // GU per pixel and per inch of the renderer, rounded. Setting a value of 0 or less does
  // nothing; GUPerInch is set against the screen's pixel density.
  int32_t GUPerPixel() const;
  void SetGUPerPixel(int32_t value);
  int32_t GUPerInch() const;
  void SetGUPerInch(int32_t value);
  // GU covered by two pixels: the hit-test tolerance.
  int32_t PixelTolerance() const;

  // --- Point operations (buffer index 0). With no model installed the forward operations
  // and DeviceXYToLL return false.

  // Device point of ptLL, set even when the result (visibility) is false.
  bool PointLLToXY(const TGPointLL& ptLL, TGPoint& ptXY);
  bool LLToDeviceXY(int32_t iLong, int32_t iLat, TGPoint& ptXY);
  // Degrees rounded to GU (DDToGU).
  bool DDToDeviceXY(TGDecimalDegree Long, TGDecimalDegree Lat, TGPoint& ptXY);
  // Position under a device point. Off the map: false and (972,000,000, 972,000,000, 0),
  // which no caller may take for a position.
  bool DeviceXYToLL(int32_t iX, int32_t iY, TGPointLL& ptLL);
  // In degrees; off the map both are 180.0. Height 0.
  bool DeviceXYToDD(int32_t iX, int32_t iY, TGPointDD& ptDD);
  // The three corners at buffer indexes 0-2; false at the first invisible one (screenTri then
  // unchanged).
  bool TriangleLLToXY(const TGTriangleLL& worldTri, TGTriangle& screenTri);
  // The model's extents (the world rectangle without a model).
  TGRect ExtentsLL() const;
  bool IsContinuous() const;
  TGPOZ GetPOZ();
  void SetPOZ(const TGPOZ& POZ);

  // Events the globe control connects to its own: rotated (a rotation was set), panned (an
  // origin moved), zoomed (AdjustScaleFactor changed the scale).
  std::function<void()> OnRotated;
  std::function<void()> OnPanned;
  std::function<void()> OnZoomed;

private:
  void SetOrigin(TGProjectionProperty index, int32_t value);
  void ModelChanged(TGProjectionProperty index);
  void Redraw() { FHost.RedrawLayers(); }
  int32_t RendererWidth() const;
  int32_t RendererHeight() const;

  IGProjectorHost& FHost;
  TGGlobe* FGlobe = nullptr;

  int32_t FXOrigin = 0;
  int32_t FYOrigin = 0;
  uint32_t FAltitude = 0;
  long double FXRotation = 23.5L;
  long double FYRotation = 0;
  long double FZRotation = 0;
  long double FMaxLatitude = 90;
  long double FMinLatitude = -90;
  long double FMaxLongitude = 180;
  long double FMinLongitude = -180;
  long double FMaxZoom = 0;
  long double FMinZoom = 0;
  long double FScaleFactor = 0;
  long double FCentralMeridian = 0;
  long double FCentralParallel = 0;
  long double FFirstParallel = 0;
  long double FSecondParallel = 0;
  TGSpheroid FSpheroid = TGSpheroid::WGS84;
  TGXAxisChanges FXAxisChanges = xaYOrigin;
  TGYAxisChanges FYAxisChanges = yaCentralMeridian;
  std::unique_ptr<TGCustomProjectionModel> FProjectionModel;
  bool FUseMinMaxLimits = false;
  long double FFieldOfViewAngle = 50;
};

} // namespace vtr
