#pragma once
// Object sources: where a layer's map objects live. The abstract source (TGObjectSource) with
// its iterators, the base of the data readers that fill sources, the GUIDs that identify
// sources, and the in-memory source (TGMemoryObjectSource). The spatial-database source
// derives from TGObjectSource too. No Qt in this header.

#include "base/TextLists.h"
#include "globe/GClasses.h"
#include "globe/GMapObject.h"
#include "globe/GStreams.h"
#include "globe/GSysUtils.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vtr {

class TGBitmap;
class TGLayer;
class TGObjectSource;
class TGPresenterStore;
class TGXML_Element;

// ---------------------------------------------------------------------------------------------
// GUIDs. In memory and on disk (16 bytes): D1 (32-bit), D2, D3 (16-bit), little-endian, then
// the eight bytes of D4.

struct TGUID
{
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  std::array<uint8_t, 8> D4{};
  friend bool operator==(const TGUID&, const TGUID&) = default;
};

inline constexpr TGUID NullGUID{};
// A new random (version 4) GUID.
TGUID NewGUID();
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 38 characters, upper-case hexadecimal.
std::string GUIDToString(const TGUID& id);
// The 38-character form, hexadecimal digits in either case; nothing for anything else.
std::optional<TGUID> StringToGUID(std::string_view text);

// ---------------------------------------------------------------------------------------------
// Iterators over a source. They borrow the source, which must outlive them.

class TGIterator : public TGRoot
{
public:
  explicit TGIterator(TGObjectSource& source) : FObjectSource(&source) {}
  std::string ClassName() const override { return "TGIterator"; }

  // The first / next object; null once the iteration is exhausted.
  virtual std::shared_ptr<IGMapPoint> First();
  virtual std::shared_ptr<IGMapPoint> Next();
  // Walks the whole iteration (from First, so the position is lost).
  virtual int64_t Count();

  TGObjectSource& ObjectSource() const { return *FObjectSource; }
  TGPrimaryKey CurrentPK() const { return FCurrentPK; }

protected:
  TGObjectSource* FObjectSource;
  TGPrimaryKey FCurrentPK = 0;
};

// A fixed list of keys, walked in list order.
class TGListIterator : public TGIterator
{
public:
  using TGIterator::TGIterator;
  std::string ClassName() const override { return "TGListIterator"; }

  // Rewinds and returns the first listed object.
  std::shared_ptr<IGMapPoint> First() override;
  // The object of the next listed key (keys whose object is gone are passed over), or null.
  std::shared_ptr<IGMapPoint> Next() override;
  // The number of listed keys.
  int64_t Count() override { return static_cast<int64_t>(FKeys.size()); }

  void AddPrimaryKey(TGPrimaryKey objPK) { FKeys.push_back(objPK); }
  bool Contains(TGPrimaryKey objPK) const;
  const std::vector<TGPrimaryKey>& Keys() const { return FKeys; }

private:
  std::vector<TGPrimaryKey> FKeys;
  size_t FPosition = 0;
};

// ---------------------------------------------------------------------------------------------
// Data readers: the base that object sources fill themselves from (layer files and other
// formats derive from it).

enum TGProgressType {
  pProgressStart,
  pProgressEnd,
  pProgressError,
  pImporting,
  pExporting,
  pIndexing,
  pCompacting,
  pProgress
};
using TGProgressEvent =
    std::function<void(TGRoot* sender, TGProgressType kind, int32_t count, double percentage)>;

// The base of the data readers: opens a source, reads what comes before its objects (presenters,
// metadata), then hands the objects out one by one. A reader that meets damaged input raises
// EGException from First or Next and is closed.
class TGCustomDataReader : public TGComponent
{
public:
  explicit TGCustomDataReader(TGGlobe* parentGlobe);
  ~TGCustomDataReader() override;
  std::string ClassName() const override { return "TGCustomDataReader"; }

  // The source the reader works for (borrowed), if any.
  TGObjectSource* ObjectSource() const { return FObjectSource; }
  void SetObjectSource(TGObjectSource* source) { FObjectSource = source; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& name) { FName = name; }
  TGPresenterStore& Presenters() { return *FPresenters; }
  KeyValueList& MetaData() { return FMetaData; }

  // Reopens the source (closing it first when open) and returns its first object; null when
  // it cannot be opened or holds none.
  virtual std::shared_ptr<IGMapPoint> First();
  // The next object, which becomes the current one and goes to OnReadObject; null when the
  // reader is not open or at the end, where it finishes reading and closes.
  virtual std::shared_ptr<IGMapPoint> Next();
  // How much of the source has been read, 0 to 100; 0 while closed.
  virtual double ProgressPercent() = 0;

  bool IsOpen() const { return FOpen; }
  // Objects handed out since the source was opened.
  int32_t ReadCount() const { return FReadCount; }
  const std::shared_ptr<IGMapPoint>& CurrentObject() const { return FCurrentObject; }

  // Progress: pProgressStart at opening, pProgress every 100 objects, pProgressEnd at closing,
  // pProgressError before a reader that failed closes. Kinds above pProgressError reach the
  // handler at most once a second; the others always do and restart that second.
  TGProgressEvent OnProgress;
  std::function<void(TGCustomDataReader& sender, const std::shared_ptr<IGMapPoint>& obj)>
      OnReadObject;
  // The clock of the progress rate limit (steady time); replaceable for tests.
  using TGClock = std::function<std::chrono::steady_clock::time_point()>;
  void SetClock(TGClock clock) { FClock = std::move(clock); }

protected:
  // Progress pProgressStart, read count 0; true when the source can be read.
  virtual bool OpenReader();
  // Reads what comes before the objects; false when there is nothing to read.
  virtual bool ReadHeader() { return true; }
  // The next object of the open source; null at its end.
  virtual std::shared_ptr<IGMapPoint> ReadObject() = 0;
  // At the end of the objects, before closing.
  virtual void FinishReading() {}
  // Progress pProgressEnd; readers free what they opened.
  virtual void CloseReader();
  void DoProgress(TGProgressType kind);

  TGObjectSource* FObjectSource = nullptr;
  std::string FName;
  std::unique_ptr<TGPresenterStore> FPresenters;
  KeyValueList FMetaData;

private:
  // Closes a reader whose reading failed, reporting pProgressError first.
  void Abandon() noexcept;

  std::shared_ptr<IGMapPoint> FCurrentObject;
  bool FOpen = false;
  int32_t FReadCount = 0;
  std::chrono::steady_clock::time_point FProgressTimeout{};
  TGClock FClock;
};

// ---------------------------------------------------------------------------------------------
// Object sources

// Called with each object's key; returning false stops the walk.
using TGObjectCallback = std::function<bool(TGPrimaryKey objPK)>;

class TGObjectSource : public TGComponent
{
public:
  explicit TGObjectSource(TGGlobe* parentGlobe);
  ~TGObjectSource() override;
  std::string ClassName() const override { return "TGObjectSource"; }

  // The layer that owns the source (borrowed; set by the layer).
  TGLayer* Layer() const { return FLayer; }
  void SetLayer(TGLayer* layer) { FLayer = layer; }
  // Presenters that travel with the data.
  TGPresenterStore& Presenters() { return *FPresenters; }
  KeyValueList& MetaData() { return FMetaData; }
  const KeyValueList& MetaData() const { return FMetaData; }
  // The metadata value "ColumnNames": the attribute columns' names as comma text.
  std::string ColumnNames() const { return FMetaData.Value("ColumnNames"); }
  void SetColumnNames(const std::string& value) { FMetaData.SetValue("ColumnNames", value); }
  // Objects smaller than this (GU) may be skipped by ForEach; 0 = none.
  int32_t CullObjectSize() const { return FCullObjectSize; }
  void SetCullObjectSize(int32_t value) { FCullObjectSize = value; }

  virtual std::string Name() const { return FName; }
  virtual void SetName(const std::string& value) { FName = value; }
  const TGUID& UniqueID() const { return FUniqueID; }
  virtual void SetUniqueID(const TGUID& value) { FUniqueID = value; }
  virtual int64_t ObjectCount() = 0;
  // Free-form data of the program's own, element "User", persisted with the source.
  TGXML_Element& UserXML() { return *FUserXML; }
  const TGXML_Element& UserXML() const { return *FUserXML; }

  // XML form (element "ObjectSource"): "Class", "ID" (the GUID), "Name", "ColumnNames" and the
  // child "User". Loading takes "Name" (default the current one), "ID", "ColumnNames" (default
  // the current one) and "User" in that order and stops at the first that fails: an "ID"
  // missing or not a GUID leaves the rest unread.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

  // A new source of the same class (from the class registry) with CopyFrom this one.
  virtual std::unique_ptr<TGObjectSource> Clone();
  // Unless source is this one: Clear, then copy metadata, presenters and user XML and add a
  // clone of every object of the other source.
  virtual void CopyFrom(TGObjectSource& source);
  // Hooks for sources that store objects; the base does nothing.
  virtual void EditObject(const std::shared_ptr<IGMapPoint>& obj) { (void)obj; }
  virtual void EndEditObject(IGMapPoint& obj) { (void)obj; }
  virtual void Post() {}

  std::shared_ptr<IGMapPoint> FirstObject() { return ByPrimaryKey(First()); }
  std::shared_ptr<IGMapPoint> NextObject(const IGMapPoint& obj)
  {
    return ByPrimaryKey(Next(obj.PrimaryKey()));
  }
  // First key, next key (0 at the end), the object of a key (null for none).
  virtual TGPrimaryKey First() = 0;
  virtual TGPrimaryKey Next(TGPrimaryKey objPK) = 0;
  virtual std::shared_ptr<IGMapPoint> ByPrimaryKey(TGPrimaryKey objPK) = 0;
  // All objects / the objects whose rectangles meet aMER (a source may return more).
  virtual std::unique_ptr<TGIterator> NewIterator();
  virtual std::unique_ptr<TGIterator> NewIterator(const TGMER& aMER) = 0;
  virtual void ForEach(const TGMER& aMER, const TGObjectCallback& callback) = 0;

  // Empties the presenters and the metadata; sources with objects drop them too.
  virtual void Clear();
  virtual void Delete() = 0;
  // When the object comes from another source whose layer finds its presenter, a clone of
  // that presenter joins this source's store (unless the number is there already); then the
  // object is attached to this source.
  virtual void Add(const std::shared_ptr<IGMapPoint>& obj);
  virtual void Remove(IGMapPoint& obj) = 0;
  // Union of the rectangles of all objects (empty for none).
  virtual TGMER DataMER();
  virtual bool IsValid() { return true; }
  virtual bool IsTemporary() const = 0;

  // Image store.
  virtual std::shared_ptr<TGBitmap> ImageByName(const std::string& imageName) = 0;
  // The name under which the source keeps the image.
  virtual std::string ImportImage(const std::string& imageName) = 0;
  virtual void ImportImageStream(const std::string& imageName, TGStream& stream) = 0;
  virtual void ExportImageStream(const std::string& imageName, TGStream& stream) = 0;

  // Adds every object the reader yields, then clones of its presenters and its metadata.
  virtual void ImportData(TGCustomDataReader& reader);

  // Alive while the source is; objects keep a weak copy so that they never use a freed source.
  const std::shared_ptr<void>& AliveToken() const { return FAlive; }

protected:
  TGLayer* FLayer = nullptr;
  std::unique_ptr<TGPresenterStore> FPresenters;
  std::string FName;
  int32_t FCullObjectSize = 0;
  KeyValueList FMetaData;
  TGUID FUniqueID;
  std::unique_ptr<TGXML_Element> FUserXML;

private:
  std::shared_ptr<void> FAlive;
};

// Objects held in memory only. Keys are slot positions + 1; a slot emptied by Remove is given
// to the next object added.
class TGMemoryObjectSource : public TGObjectSource
{
public:
  explicit TGMemoryObjectSource(TGGlobe* parentGlobe = nullptr);
  ~TGMemoryObjectSource() override;
  std::string ClassName() const override { return "TGMemoryObjectSource"; }

  int64_t ObjectCount() override;
  std::unique_ptr<TGObjectSource> Clone() override;

  TGPrimaryKey First() override;
  TGPrimaryKey Next(TGPrimaryKey objPK) override;
  // Also sets the object's source and key.
  std::shared_ptr<IGMapPoint> ByPrimaryKey(TGPrimaryKey objPK) override;
  using TGObjectSource::NewIterator;
  // Every object, whatever the rectangle: the memory source keeps no spatial index.
  std::unique_ptr<TGIterator> NewIterator(const TGMER& aMER) override;
  void ForEach(const TGMER& aMER, const TGObjectCallback& callback) override;

  void Clear() override;
  void Delete() override { Clear(); }
  // An object already held keeps its slot.
  void Add(const std::shared_ptr<IGMapPoint>& obj) override;
  // The key leaves the layer's selection, the slot is emptied and the object loses its source.
  void Remove(IGMapPoint& obj) override;
  bool IsTemporary() const override { return true; }

  std::shared_ptr<TGBitmap> ImageByName(const std::string& imageName) override;
  std::string ImportImage(const std::string& imageName) override { return imageName; }
  void ImportImageStream(const std::string& imageName, TGStream& stream) override;
  // When a file of that name exists: its size (32-bit) and its bytes. Larger files than 32
  // bits can state raise EGException.
  void ExportImageStream(const std::string& imageName, TGStream& stream) override;

  // Setting a reader frees the previous one; a reader then refills the source: Clear, the
  // reader's name as the source's, every object it yields, its presenters and metadata.
  TGCustomDataReader* DataReader() const { return FDataReader.get(); }
  void SetDataReader(std::unique_ptr<TGCustomDataReader> reader);

  // Adds the child "DataReader" with the reader's XML form when there is a reader. Loading
  // recreates the reader from that child first (a class that is no registered reader gives
  // none), so that the name and columns of the element win over the reader's.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

private:
  int64_t SlotOf(const IGMapPoint& obj) const;
  // Key of the first object at or after the slot; 0 for none.
  TGPrimaryKey KeyFrom(size_t slot) const;

  std::vector<std::shared_ptr<IGMapPoint>> FObjectList;
  std::set<size_t> FNullObjects; // empty slots, lowest first
  std::unique_ptr<TGCustomDataReader> FDataReader;
};

} // namespace vtr
