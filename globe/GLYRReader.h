#pragma once
// Layer files: the file data reader (a data reader over one file, chosen by the file's
// extension) and the reader of LYR layer files, versions 0x300 to 0x500. Plain C++ (no Qt).
//
// A layer file is trusted in nothing: every read is bounds-checked, and a truncated or damaged
// file raises EGException naming the file and the byte where reading failed.

#include "globe/GObjectSource.h"
#include "globe/GStreams.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vtr {

class TGBrush;
class TGFont;
class TGPen;
class TGPointStore;
class TGPresenter;
class TGXML_Element;

// A data reader over one file.
class TGFileDataReader : public TGCustomDataReader
{
public:
  explicit TGFileDataReader(TGGlobe* parentGlobe = nullptr);
  std::string ClassName() const override { return "TGFileDataReader"; }

  const std::string& FileName() const { return FFileName; }
  // Also names the reader: the file name without folder and extension
  // ("GIS/WorldOutline.lyr" gives "WorldOutline").
  void SetFileName(const std::string& value);

  // The base's form plus "Filename"; loading sets the file name (and so the name) from it.
  void SaveToXML(TGXML_Element& el) override;
  void LoadFromXML(const TGXML_Element& el) override;

protected:
  // The base's opening, then the side document: "<file without extension>.xmd", else
  // "<extension without dot>.xmd" in the file's folder; when one exists and parses, its root
  // (tag "XMD") goes to ReadMetaDataXML. A side document that does not parse is passed over:
  // nothing reads it here, so it must not stop the layer from loading.
  bool OpenReader() override;
  // Sets the metadata value "SourceName" to the file name.
  void FinishReading() override;
  // A reader class may take settings from the side document; this one does not.
  virtual void ReadMetaDataXML(const TGXML_Element& root) { (void)root; }

  std::string FFileName;
};

// The reader for a file: the registered class "TG" + extension (without its dot) + "FileReader",
// found without regard to letter case, created for the globe, with the file name set. Null when
// the file does not exist or no such reader class is registered. The caller owns the reader.
std::unique_ptr<TGFileDataReader> DataReaderForFile(TGGlobe* globe, const std::string& fileName);

// Bits of the flags word of a layer file's object record.
enum TGMapObjectFlag : uint16_t {
  ofTitle = 1,
  ofID = 2,
  ofHeight = 4,
  of16Bit = 8,
  ofCompressed = 16,
  ofSingle = 32,
  ofLongCount = 64,
  ofZoomMinMax = 128,
  ofClosed = 256,
  ofGreatCircle = 512,
  ofMultiRing = 1024,
  ofUserID = 2048
};
using TGMapObjectFlags = uint16_t;

// Oldest and newest layer file versions read.
inline constexpr uint16_t kLYRFirstVersion = 0x300;
inline constexpr uint16_t kLYRVersion = 0x500;

// Reads LYR layer files (registered as "LYR File Reader"). The record layouts are described
// where each is read, in GLYRReader.cpp.
class TGLYRFileReader : public TGFileDataReader
{
public:
  explicit TGLYRFileReader(TGGlobe* parentGlobe = nullptr);
  ~TGLYRFileReader() override;
  std::string ClassName() const override { return "TGLYRFileReader"; }

  // The version word of the open file (0 before the first opening).
  uint16_t FileVersion() const { return FFileVersion; }
  // Position / size of the open file x 100; 0 when closed.
  double ProgressPercent() override;

protected:
  // The base's opening, then the file; false when the file does not exist.
  bool OpenReader() override;
  // The version word, the rectangle of files before 0x500, and the header sections up to the
  // first object block (or the end of the header). A version outside 0x300..0x500 raises
  // "Invalid File Version %X in %s".
  bool ReadHeader() override;
  std::shared_ptr<IGMapPoint> ReadObject() override;
  void CloseReader() override;

private:
  using TGHeaderMethod = std::unique_ptr<TGPresenter> (TGLYRFileReader::*)();
  using TGDataMethod = std::shared_ptr<IGMapPoint> (TGLYRFileReader::*)();
  static TGHeaderMethod HeaderMethodFor(const std::string& sectionName);
  static TGDataMethod DataMethodFor(const std::string& className);

  // Runs a read of the file; a failure comes back as EGException naming the file and the byte
  // at which it was found.
  template <class F> auto Guarded(F&& read);
  [[noreturn]] void Damaged(const std::string& what) const;

  void ReadHeaderSections();
  // Presenter records.
  std::unique_ptr<TGPresenter> ReadPointPresenter();
  std::unique_ptr<TGPresenter> ReadPolygonPresenter();
  std::unique_ptr<TGPresenter> ReadPolylinePresenter();
  std::unique_ptr<TGPresenter> ReadPolyPresenter();
  void ReadPresenterHeader(TGPresenter& presenter);
  void ReadFont(TGFont& font);
  void ReadPen(TGPen& pen);
  void ReadBrush(TGBrush& brush);
  template <class E> E ReadOrdinal(int32_t count, const char* what);
  // Object records.
  std::shared_ptr<IGMapPoint> ReadPointObject();
  std::shared_ptr<IGMapPoint> ReadPolyObject();
  TGMapObjectFlags ReadObjectHeader(IGMapPoint& obj);
  void ReadOldChains(TGChainStore& chains, TGMapObjectFlags flags);
  void ReadOldPointList(TGPointStore& chain);

  uint16_t FFileVersion = 0;
  std::unique_ptr<TGFileStream> FLYRStream;
  std::unique_ptr<TGStreamReader> FReader;
  int32_t FObjCount = 0;
  TGHeaderMethod FHeaderMethod = nullptr;
  TGDataMethod FDataMethod = nullptr;
};

} // namespace vtr
