#pragma once
// Map objects: points (TGMapPoint), polylines and polygons (TGMapPoly) and georeferenced images
// (TGMapRaster), handed out as reference-counted interfaces (IGMapPoint, IGMapPoly,
// IGMapRaster); the abstract link to a stored record (TGDataLink) that the spatial database
// implements; the raster's image-to-world morph and image sources.
// No Qt in this header (the bitmap is only named), so storage code may include it.
//
// Coordinates are TGPointLL / TGMER in globe units (GSysUtils.h). Objects belong to an object
// source (GObjectSource.h), which gives them their layer and so their selection.

#include "base/DateTime.h"
#include "globe/GClasses.h"
#include "globe/GPointStore.h"
#include "globe/GRenderer.h"
#include "globe/GStreams.h"
#include "globe/GSysUtils.h"

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vtr {

class TGBitmap;
class TGLayer;
class TGObjectSource;
class TGMapRaster;
class TGProjector;

// Row identifier of an object in its source; 0 = not stored.
using TGPrimaryKey = int64_t;

// Bits of an object's state byte.
enum TGMapObjectState : uint8_t { osClosed = 1, osHidden = 2 };
using TGMapObjectStates = uint8_t;

// Object kinds as stored with the record.
enum TGDBObjectKind : uint8_t { tgokPoint = 0, tgokPoly = 1, tgokRaster = 2 };

// The CSL of an object whose attributes are still in its stored record.
inline const std::string NotFetched = "\t";
// Centroid height meaning "not computed".
inline constexpr int32_t UnsetHeight = -2147483647;

// The rectangle grown by tolerance GU on every side, its start brought back into
// (-GU_180, GU_180] so that a rectangle reaching west of -180 runs across the meridian instead
// (the form in which the MER algebra reads rectangles that cross it).
TGMER InflatedMER(const TGMER& m, int32_t tolerance);

// ---------------------------------------------------------------------------------------------
// The link between one object and its stored record. The setters of an implementation set
// Modified; Post writes the record when Modified is set and then clears it.

class TGDataLink
{
public:
  TGDataLink() = default;
  virtual ~TGDataLink() = default;
  TGDataLink(const TGDataLink&) = delete;
  TGDataLink& operator=(const TGDataLink&) = delete;

  virtual TDateTime DateTime() const = 0;
  virtual void SetDateTime(TDateTime value) = 0;
  virtual TGDBObjectKind Kind() const = 0;
  virtual void SetKind(TGDBObjectKind value) = 0;
  virtual TGPointLL Centroid() const = 0;
  virtual void SetCentroid(const TGPointLL& value) = 0;
  virtual TGMER MER() const = 0;
  virtual void SetMER(const TGMER& value) = 0;
  virtual bool Modified() const = 0;
  virtual void SetModified(bool value) = 0;
  virtual TGPrimaryKey PrimaryKey() const = 0;
  virtual void SetPrimaryKey(TGPrimaryKey value) = 0;
  // Row of the geometry data stream (0 = none) and of the attribute text.
  virtual uint32_t DataID() const = 0;
  virtual void SetDataID(uint32_t value) = 0;
  virtual uint32_t AttributeID() const = 0;
  virtual void SetAttributeID(uint32_t value) = 0;
  // Texts may be read from storage on demand, hence not const.
  virtual std::string ObjectDataCSL() = 0;
  virtual void SetObjectDataCSL(const std::string& value) = 0;
  virtual int16_t PresenterID() const = 0;
  virtual void SetPresenterID(int16_t value) = 0;
  virtual TGMapObjectStates State() const = 0;
  virtual void SetState(TGMapObjectStates value) = 0;
  virtual std::string UserID() = 0;
  virtual void SetUserID(const std::string& value) = 0;

  virtual void Clear() { SetModified(false); }
  // Removes the stored record.
  virtual void Delete() = 0;
  virtual void Post() = 0;
  // Fills memStream with the object's geometry data (nothing when it has none) / stores the
  // whole of memStream as that data.
  virtual void ReadDataStream(TGMemoryStream& memStream) = 0;
  virtual void WriteDataStream(TGMemoryStream& memStream) = 0;
};

// ---------------------------------------------------------------------------------------------
// What a map object needs to draw itself when no presenter draws it. The globe control
// implements it; tests implement it without a window. Texture triangles go through the
// projector's host (Projector().Host().RenderTextureTriangle).

class IGObjectRenderer
{
public:
  virtual ~IGObjectRenderer() = default;

  virtual TGProjector& Projector() = 0;
  // An ellipse in the device rectangle (pixels; Right and Bottom are the far corner) with the
  // renderer's current pen and brush.
  virtual void DrawEllipse(const TGRect& rect) = 0;
  // The globe's chain rendering: rsClosed in State fills the chains as polygons, otherwise
  // they are drawn as lines.
  virtual void RenderChainStore(const TGChainStore& chains, TGRenderStateSet State) = 0;
};

// ---------------------------------------------------------------------------------------------
// Interfaces. "Supports the poly interface" is a dynamic_pointer_cast<IGMapPoly>.

class IGMapPoint
{
public:
  virtual ~IGMapPoint() = default;

  virtual std::string ClassName() const = 0;

  // Position. Reading computes it when not computed (height UnsetHeight); setting it moves
  // the object there, gives it the one-unit rectangle of that point and sets Modified.
  virtual TGPointLL Centroid() = 0;
  virtual void SetCentroid(const TGPointLL& value) = 0;
  virtual bool Hidden() const = 0;
  virtual void SetHidden(bool value) = 0;
  virtual TGPrimaryKey PrimaryKey() const = 0;
  virtual void SetPrimaryKey(TGPrimaryKey value) = 0;
  // Attribute values as comma text, item 0 the title; fetched from the data link on first use.
  virtual std::string ObjectDataCSL() = 0;
  virtual void SetObjectDataCSL(const std::string& value) = 0;
  virtual int32_t PresenterID() const = 0;
  virtual void SetPresenterID(int32_t value) = 0;
  // Whether the layer's selection holds the primary key; false without a layer or a key.
  virtual bool Selected() const = 0;
  virtual void SetSelected(bool value) = 0;
  virtual bool Modified() const = 0;
  virtual void SetModified(bool value) = 0;
  // Bounding rectangle, computed and kept when not computed (width and height 0).
  virtual TGMER ObjectMER() = 0;
  virtual void SetObjectMER(const TGMER& value) = 0;
  // The source holding the object (not owned); null once that source is gone.
  virtual TGObjectSource* ObjectSource() const = 0;
  virtual void SetObjectSource(TGObjectSource* value) = 0;
  virtual std::string UserID() const = 0;
  virtual void SetUserID(const std::string& value) = 0;
  virtual TGMapObjectStates State() const = 0;
  // The object's link (owned); setting a different one frees the old one.
  virtual TGDataLink* DataLink() const = 0;
  virtual void SetDataLink(std::unique_ptr<TGDataLink> value) = 0;

  // Item index of the CSL (empty for a negative index or one past the last item).
  virtual std::string GetAttribute(int32_t index) = 0;
  // Appends empty items until index exists; a negative index changes nothing.
  virtual void SetAttribute(int32_t index, const std::string& value) = 0;
  // Item index as a decimal number ("." separator); quiet NaN when it is not one.
  virtual double GetValue(int32_t index) = 0;
  virtual void SetValue(int32_t index, double value) = 0;

  // Copies rectangle, centroid, hidden, CSL, presenter and user identifiers, then Invalidate.
  virtual void Assign(IGMapPoint& source) = 0;
  // A new object of the same class with this one assigned.
  virtual std::shared_ptr<IGMapPoint> Clone() = 0;
  // The object source's layer, or null.
  virtual TGLayer* Layer() const = 0;
  // Bytes the object caches count.
  virtual int64_t ObjectSize() const = 0;
  virtual bool CachableObject() const = 0;

  // Marks centroid and rectangle as not computed and sets Modified.
  virtual void Invalidate() = 0;
  // Edit cycle with the object source (see GMapObject.cpp).
  virtual void Edit() = 0;
  virtual void CancelEdit() = 0;
  virtual void Post() = 0;
  virtual void Delete() = 0;

  // Makes the link the object's own and takes identity, state, rectangle and centroid from it
  // without setting Modified; the CSL is fetched on first use. Null: nothing happens.
  virtual void ReadFromDataLink(std::unique_ptr<TGDataLink> aDataLink) = 0;
  // Makes the link the object's own (null keeps the current one) and writes the object into
  // it; nothing without a link.
  virtual void WriteToDataLink(std::unique_ptr<TGDataLink> aDataLink) = 0;

  // Hit tests; ptLL and iTolerance in GU. A hidden object is never hit.
  virtual TGMERHitZone LLInObjectMER(const TGPointLL& ptLL, int32_t iTolerance) = 0;
  virtual bool LLInObject(const TGPointLL& ptLL, int32_t iTolerance) = 0;
  virtual bool IntersectMER(const TGMER& aMER) = 0;

  // Draws the object with the renderer's current attributes (see each class).
  virtual void Render(IGObjectRenderer& renderer, TGRenderStateSet State) = 0;

  // XML form: attributes on el ("Class", "Centroid", "Hidden", "CSL", "PresenterID",
  // "UserID"; a poly adds "Closed" and the child "Chains", a raster "ImageName",
  // "TransparentColor", "Alpha" and the child "Morph"), each left out at its default.
  // Loading sets every one of them, missing ones to their defaults.
  virtual void SaveToXML(TGXML_Element& el) = 0;
  virtual void LoadFromXML(const TGXML_Element& el) = 0;
  // The text of a document with root "MapObject" holding SaveToXML's output; setting it
  // parses such a text (EGException when it is not one) and loads from its root.
  virtual std::string XML() = 0;
  virtual void SetXML(std::string_view text) = 0;
};

class IGMapPoly : public virtual IGMapPoint
{
public:
  virtual bool Closed() const = 0;
  virtual void SetClosed(bool value) = 0;
  // Created on first use; filled from the data link when there is one.
  virtual TGChainStore& Chains() = 0;
  virtual bool LLOnEdge(const TGPointLL& ptLL, int32_t iTolerance, bool bClosed) = 0;
  virtual bool LLInPolygon(const TGPointLL& ptLL, int32_t iTolerance) = 0;
};

class TGBeierNeelyMorph;

class IGMapRaster : public virtual IGMapPoint
{
public:
  // Setting a different name replaces the image source and loads it.
  virtual std::string ImageName() const = 0;
  virtual void SetImageName(const std::string& value) = 0;
  virtual TColor TransparentColor() const = 0;
  virtual void SetTransparentColor(TColor value) = 0;
  virtual uint8_t AlphaBlend() const = 0;
  virtual void SetAlphaBlend(uint8_t value) = 0;
  virtual TGBeierNeelyMorph& Morph() = 0;
  virtual std::string ImageFilename() const = 0;
  virtual void SetImageFilename(const std::string& value) = 0;
  virtual int32_t ImageWidth() const = 0;
  virtual int32_t ImageHeight() const = 0;
  virtual bool ImageEmpty() const = 0;
};

// ---------------------------------------------------------------------------------------------
// Objects

class TGMapPoint : public TGRoot,
                   public virtual IGMapPoint,
                   public std::enable_shared_from_this<TGMapPoint>
{
public:
  TGMapPoint();
  TGMapPoint(const TGMapPoint&) = delete;
  TGMapPoint& operator=(const TGMapPoint&) = delete;
  std::string ClassName() const override { return "TGMapPoint"; }

  TGPointLL Centroid() override;
  void SetCentroid(const TGPointLL& value) override;
  bool Hidden() const override { return (FObjectState & osHidden) != 0; }
  void SetHidden(bool value) override { SetStateBit(osHidden, value); }
  TGPrimaryKey PrimaryKey() const override { return FPrimaryKey; }
  void SetPrimaryKey(TGPrimaryKey value) override { FPrimaryKey = value; }
  std::string ObjectDataCSL() override;
  void SetObjectDataCSL(const std::string& value) override;
  int32_t PresenterID() const override { return FPresenterID; }
  void SetPresenterID(int32_t value) override;
  bool Selected() const override;
  void SetSelected(bool value) override;
  bool Modified() const override { return FModified; }
  void SetModified(bool value) override { FModified = value; }
  TGMER ObjectMER() override;
  void SetObjectMER(const TGMER& value) override;
  TGObjectSource* ObjectSource() const override;
  void SetObjectSource(TGObjectSource* value) override;
  std::string UserID() const override { return FUserID; }
  void SetUserID(const std::string& value) override;
  TGMapObjectStates State() const override { return FObjectState; }
  TGDataLink* DataLink() const override { return FDataLink.get(); }
  void SetDataLink(std::unique_ptr<TGDataLink> value) override;

  std::string GetAttribute(int32_t index) override;
  void SetAttribute(int32_t index, const std::string& value) override;
  double GetValue(int32_t index) override;
  void SetValue(int32_t index, double value) override;

  void Assign(IGMapPoint& source) override;
  std::shared_ptr<IGMapPoint> Clone() override;
  TGLayer* Layer() const override;
  int64_t ObjectSize() const override { return sizeof(*this); }
  bool CachableObject() const override { return false; }

  // Drops the derived values: the rectangle, and the centroid where it derives from other data
  // (a poly's chains, a raster's placement). A point's centroid, height included, is its data
  // and stays.
  void Invalidate() override;
  void Edit() override;
  void CancelEdit() override;
  void Post() override;
  void Delete() override;

  void ReadFromDataLink(std::unique_ptr<TGDataLink> aDataLink) override;
  void WriteToDataLink(std::unique_ptr<TGDataLink> aDataLink) override;

  TGMERHitZone LLInObjectMER(const TGPointLL& ptLL, int32_t iTolerance) override;
  bool LLInObject(const TGPointLL& ptLL, int32_t iTolerance) override;
  bool IntersectMER(const TGMER& aMER) override;

  // A 5-pixel ellipse (x - 2, y - 2)..(x + 2, y + 2) about the centroid when it is visible.
  void Render(IGObjectRenderer& renderer, TGRenderStateSet State) override;

  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;
  std::string XML() override;
  void SetXML(std::string_view text) override;

  // A new object of the element's "Class" (a registered map object class), else of
  // defaultClass, loaded from the element; null when neither names a map object class.
  // A null element gives the default class, not loaded.
  static std::shared_ptr<IGMapPoint> CreateFromXML(const TGXML_Element* el,
                                                   std::string_view defaultClass = "TGMapPoint");

protected:
  // A new, empty object of the same class (Clone assigns into it).
  virtual std::shared_ptr<TGMapPoint> NewInstance() const;
  // The object as a shared reference, or null when it is not held by one.
  std::shared_ptr<IGMapPoint> Self();
  // Sets a state bit, and Modified when it changes.
  void SetStateBit(TGMapObjectState bit, bool value);
  // Loads whatever is still in the current link (CSL, chains) before the link is replaced.
  virtual void FetchFromDataLink();
  // The part of the transfers below the link handling; aDataLink is the object's own.
  virtual void WriteFields(TGDataLink& aDataLink);
  virtual void ReadFields(TGDataLink& aDataLink);
  // The point rectangle of the centroid.
  TGMER PointMER();

  bool FModified = false;
  TGPrimaryKey FPrimaryKey = 0;
  int32_t FPresenterID = 0;
  std::string FUserID;
  std::string FObjectDataCSL = NotFetched;
  std::unique_ptr<TGDataLink> FDataLink;
  TGMER FObjectMER{};
  TGPointLL FCentroid{0, 0, UnsetHeight};
  TGMapObjectStates FObjectState = 0;

private:
  TGObjectSource* FObjectSource = nullptr;
  std::weak_ptr<void> FSourceAlive; // expires with the source, so the pointer never dangles
};

class TGMapPoly : public TGMapPoint, public virtual IGMapPoly
{
public:
  TGMapPoly() = default;
  std::string ClassName() const override { return "TGMapPoly"; }

  bool Closed() const override { return (FObjectState & osClosed) != 0; }
  void SetClosed(bool value) override { SetStateBit(osClosed, value); }
  TGChainStore& Chains() override;
  bool LLOnEdge(const TGPointLL& ptLL, int32_t iTolerance, bool bClosed) override;
  bool LLInPolygon(const TGPointLL& ptLL, int32_t iTolerance) override;

  TGPointLL Centroid() override;
  // The centroid is worked out again from the chains / the placement.
  void Invalidate() override;
  // Moves every chain by the step from the current centroid to the new one.
  void SetCentroid(const TGPointLL& value) override;
  TGMER ObjectMER() override;
  void Assign(IGMapPoint& source) override;
  int64_t ObjectSize() const override;

  bool LLInObject(const TGPointLL& ptLL, int32_t iTolerance) override;
  bool IntersectMER(const TGMER& aMER) override;

  // The chains through the globe's chain rendering, closed when the poly is; without chains
  // it draws like a point.
  void Render(IGObjectRenderer& renderer, TGRenderStateSet State) override;

  // A missing "Chains" element loads as no chains (an empty chain store writes none).
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

protected:
  std::shared_ptr<TGMapPoint> NewInstance() const override;
  void FetchFromDataLink() override;
  void WriteFields(TGDataLink& aDataLink) override;
  void ReadFields(TGDataLink& aDataLink) override;

private:
  std::unique_ptr<TGChainStore> FChains;
};

// ---------------------------------------------------------------------------------------------
// Rasters

// Image-to-world transformation: an affine map from image pixels (column x to the right, row y
// downwards, (0, 0) the top-left corner of the image) to GU. The offsets are the world position
// of the top-left corner; the scales are GU per pixel along each axis.
class TGBeierNeelyMorph : public TGRoot
{
public:
  std::string ClassName() const override { return "TGBeierNeelyMorph"; }

  int32_t XOffset() const { return FXOffset; }
  int32_t YOffset() const { return FYOffset; }
  void SetOffsets(int32_t x, int32_t y);
  long double XScale() const { return FXScale; }
  long double YScale() const { return FYScale; }
  // Scales must be finite and above 0; others raise EGException "TGBeierNeelyMorph: bad scale".
  void SetScales(long double xScale, long double yScale);
  // The scale along the image's width.
  long double Scale() const { return FXScale; }

  // Longitude wrapped into (-GU_180, GU_180], latitude clamped to +-GU_90.
  TGPointLL ImageToWorld(long double x, long double y) const;

  void Assign(const TGBeierNeelyMorph& source);
  // Stream form: a version byte (1), XOffset and YOffset (32-bit), XScale and YScale (doubles).
  // Reading checks the version and the scales and raises EGException on damage.
  void WriteToStream(TGStreamWriter& writer) const;
  void ReadFromStream(TGStreamReader& reader);
  // XML form: "XOffset", "YOffset" (integers; 0), "XScale", "YScale" (numbers; 1). Loading
  // sets missing ones to those defaults; a scale that is not above 0 raises as SetScales does,
  // before anything changes.
  void SaveToXML(TGXML_Element& el) const;
  void LoadFromXML(const TGXML_Element& el);

private:
  int32_t FXOffset = 0;
  int32_t FYOffset = 0;
  long double FXScale = 1;
  long double FYScale = 1;
};

// The image behind a raster. The raster owns it and outlives it.
class TGRasterData
{
public:
  TGRasterData(TGMapRaster& raster, std::string imageName);
  virtual ~TGRasterData() = default;
  TGRasterData(const TGRasterData&) = delete;
  TGRasterData& operator=(const TGRasterData&) = delete;

  const std::string& ImageName() const { return FImageName; }
  virtual void Load() = 0;
  virtual int32_t ImageWidth() const = 0;
  virtual int32_t ImageHeight() const = 0;
  bool ImageEmpty() const { return ImageWidth() <= 0 || ImageHeight() <= 0; }
  virtual void Render(IGObjectRenderer& renderer, TGRenderStateSet State) = 0;

protected:
  TGMapRaster& FRaster;
  std::string FImageName;
};

// A single picture: the file of that name when it exists, else the object source's image of
// that name.
class TGRasterBitmapData : public TGRasterData
{
public:
  using TGRasterData::TGRasterData;
  void Load() override;
  int32_t ImageWidth() const override;
  int32_t ImageHeight() const override;
  // The picture on a grid of 8 x 8 cells, two texture triangles each, placed by the morph,
  // with the raster's alpha and transparent colour.
  void Render(IGObjectRenderer& renderer, TGRenderStateSet State) override;
  // Null until loaded or when nothing was found.
  const std::shared_ptr<TGBitmap>& Image() const { return FImage; }

private:
  std::shared_ptr<TGBitmap> FImage;
};

// A tiled image: a description document (root "MRI") with one "Mosaic" child per level, level
// 0 the finest, and a tile data file of the same name with extension ".dmr".
//
//   <MRI Width="4000" Height="3000" TileSize="256" ScalePower="2">
//     <Mosaic Source="name.dmr"><Tile>0</Tile><Tile>5120</Tile>...</Mosaic>
//     ...
//   </MRI>
//
// Level i has tiles of TileSize pixels, each covering ScalePower^i x TileSize pixels of the
// full image; its "Mosaic" children are its tiles in rows from the top, each row west to east
// (any tag). A tile's place is the mosaic's "Source" joined by "\" with the tile's body text;
// the file name of that place is the tile's offset in the ".dmr" file as a decimal number.
// At that offset (".dmr" record): a 32-bit little-endian length, then that many bytes of JPEG.
// A tile that is missing, lies outside the file or does not decode as a JPEG of at most
// TileSize x TileSize pixels is drawn as the "No Image Data" tile.
class TGRasterXMRData : public TGRasterData
{
public:
  static constexpr int32_t kTileCacheSize = 256;
  // Decoded pixels the cache keeps at most: 256 tiles of the largest size would take 4 GiB.
  static constexpr int64_t kTileCacheBytes = int64_t{256} << 20;
  // Larger tiles are refused.
  static constexpr int32_t kMaxTileSize = 2048;
  // Descriptions whose finest level has more tiles are refused: a level that shows whole is
  // drawn tile by tile.
  static constexpr int64_t kMaxTiles = int64_t{1} << 20;

  TGRasterXMRData(TGMapRaster& raster, std::string imageName);
  ~TGRasterXMRData() override;

  // Reads the description from the image name, or from the raster's ImageFilename when the
  // first does not exist, and opens the ".dmr" beside the one read when it exists. Neither
  // file: an empty image. A description that is not one (not XML, root not "MRI", Width,
  // Height or TileSize not above 0, TileSize above kMaxTileSize, ScalePower below 2, more
  // than kMaxTiles tiles at level 0) raises
  // EGException "TGRasterXMRData.Load: bad tiled image description %s" and leaves the image
  // empty.
  void Load() override;
  int32_t ImageWidth() const override { return FWidth; }
  int32_t ImageHeight() const override { return FHeight; }
  // The tiles of the level LevelForScale chooses that show in the client area, each on a grid
  // of texture triangles placed by the morph, with the raster's alpha and transparent colour.
  // Blocks of tiles the projection cannot show (VisibleMER of their rectangle) are passed
  // over whole, so a render examines about as many tiles as show, not the level's whole grid.
  void Render(IGObjectRenderer& renderer, TGRenderStateSet State) override;

  int32_t LevelCount() const { return static_cast<int32_t>(FLevels.size()); }
  int32_t TileSize() const { return FTileSize; }
  int32_t ScalePower() const { return FScalePower; }
  // Full-image pixels one tile of the level covers along each axis.
  long double TileSpan(int32_t level) const;
  // Tiles across and down at the level (at least 1 each).
  int32_t TilesAcross(int32_t level) const;
  int32_t TilesDown(int32_t level) const;

  // The first level i below the last for which
  //   ScalePower / 4 + 1 >= TileSize / (width x scale x morphScale / (width / (ScalePower^i x
  //   TileSize)))
  // (scale: the projector's pixels per GU; morphScale: GU per image pixel), else the last
  // level; -1 without levels.
  static int32_t ChooseLevel(int32_t levelCount, long double width, int32_t tileSize,
                             int32_t scalePower, long double scale, long double morphScale);
  int32_t LevelForScale(long double scale) const;

  // The decoded tile through the most-recently-used list (a hit moves it to the front, a new
  // tile goes in at the front, tiles beyond kTileCacheSize are freed from the back, and so are
  // the oldest while the cached pixels exceed the byte budget, down to the newest tile), the
  // "No Image Data" tile for a missing or damaged one, null outside the level's grid.
  std::shared_ptr<TGBitmap> Tile(int32_t level, int32_t col, int32_t row);
  bool TileCached(int32_t level, int32_t col, int32_t row) const;
  int32_t CachedTileCount() const { return static_cast<int32_t>(FCache.size()); }
  // Pixel bytes of the cached tiles; the shared "No Image Data" tile counts for none of them.
  int64_t CachedTileBytes() const { return FCachedBytes; }
  // The byte budget, kTileCacheBytes unless a test sets a smaller one; applies from the next
  // tile taken into the cache.
  void SetTileCacheBytes(int64_t bytes) { FTileCacheBytes = bytes; }
  // Tiles read from the ".dmr" file since loading (cache misses that found a tile record).
  int64_t TileReads() const { return FTileReads; }
  // A white TileSize square with "No Image Data" at a quarter of its width and half its
  // height; shared by every missing tile.
  std::shared_ptr<TGBitmap> NoImageTile();

private:
  struct Level
  {
    std::vector<std::optional<int64_t>> Offsets; // per tile in row order; none: missing
  };
  using TileKey = std::pair<int32_t, int64_t>; // level, tile index in row order
  struct CachedTile
  {
    TileKey Key;
    std::shared_ptr<TGBitmap> Image;
    int64_t Bytes; // counted against the budget
  };
  class TileFile;

  void Reset();
  std::shared_ptr<TGBitmap> ReadTile(int64_t offset);

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FTileSize = 0;
  int32_t FScalePower = 2;
  std::vector<Level> FLevels;
  std::unique_ptr<TileFile> FTileFile;
  std::list<CachedTile> FCache;
  std::map<TileKey, std::list<CachedTile>::iterator> FCacheIndex;
  std::shared_ptr<TGBitmap> FNoImageTile;
  int64_t FTileReads = 0;
  int64_t FCachedBytes = 0;
  int64_t FTileCacheBytes = kTileCacheBytes;
};

class TGMapRaster : public TGMapPoint, public virtual IGMapRaster
{
public:
  TGMapRaster();
  ~TGMapRaster() override;
  std::string ClassName() const override { return "TGMapRaster"; }

  std::string ImageName() const override { return FImageName; }
  void SetImageName(const std::string& value) override;
  TColor TransparentColor() const override { return FTransparentColor; }
  void SetTransparentColor(TColor value) override;
  uint8_t AlphaBlend() const override { return FAlphaBlend; }
  void SetAlphaBlend(uint8_t value) override;
  TGBeierNeelyMorph& Morph() override;
  std::string ImageFilename() const override { return FImageFilename; }
  void SetImageFilename(const std::string& value) override { FImageFilename = value; }
  int32_t ImageWidth() const override { return FRasterData ? FRasterData->ImageWidth() : 0; }
  int32_t ImageHeight() const override { return FRasterData ? FRasterData->ImageHeight() : 0; }
  bool ImageEmpty() const override { return !FRasterData || FRasterData->ImageEmpty(); }
  TGRasterData* RasterData() const { return FRasterData.get(); }

  TGPointLL Centroid() override;
  // The centroid is worked out again from the chains / the placement.
  void Invalidate() override;
  // Moves the morph's offsets to the new position too.
  void SetCentroid(const TGPointLL& value) override;
  TGMER ObjectMER() override;
  void Assign(IGMapPoint& source) override;
  bool CachableObject() const override { return true; }

  bool LLInObject(const TGPointLL& ptLL, int32_t iTolerance) override;
  bool IntersectMER(const TGMER& aMER) override;
  // Hands over to the image source (nothing without an image).
  void Render(IGObjectRenderer& renderer, TGRenderStateSet State) override;

  // A missing "Morph" element loads as the default morph.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

  // Raster data stream: the morph's stream form; a 16-bit-length text, the name under which
  // the object source stored the image; alpha (byte); transparent colour (32-bit); a
  // 16-bit-length text, the image name as set on the object.
  void WriteDataStream(TGStream& stream);
  void ReadDataStream(TGStream& stream);

protected:
  std::shared_ptr<TGMapPoint> NewInstance() const override;
  void WriteFields(TGDataLink& aDataLink) override;
  void ReadFields(TGDataLink& aDataLink) override;

private:
  // The outline sampled at steps of 1/divisions of width and height, going round the image.
  TGPointStore Outline(int32_t divisions);

  std::unique_ptr<TGBeierNeelyMorph> FMorph;
  std::unique_ptr<TGRasterData> FRasterData;
  std::string FImageName;
  uint8_t FAlphaBlend = 255;
  TColor FTransparentColor = clNone;
  std::string FImageFilename;
};

} // namespace vtr
