#pragma once
// Writes LYR layer files of the current version (0x500), the form TGLYRFileReader reads back:
// header sections (metadata, column names, presenters), then object blocks, then the end mark.
// Used by the data generators and by the tests.

#include "base/TextLists.h"
#include "globe/GMapObject.h"
#include "globe/GStreams.h"

#include <memory>
#include <span>
#include <string>

namespace vtr {

class TGObjectSource;
class TGPresenter;
class TGPresenterStore;

class TGLYRFileWriter
{
public:
  // Writes the version word. The stream is borrowed and must outlive the writer.
  explicit TGLYRFileWriter(TGStream& stream);
  TGLYRFileWriter(const TGLYRFileWriter&) = delete;
  TGLYRFileWriter& operator=(const TGLYRFileWriter&) = delete;

  // Header sections. The reader takes everything after the first object block as data, so
  // each of these raises EGException once objects have been written.
  // "MetaData": the lines as comma text (a "Presenters" line is read as presenter XML).
  void WriteMetaData(const KeyValueList& metaData);
  void WriteColumnNames(const std::string& columnNames);
  // One section per run of presenters of one class. Only the four classes the file has
  // records for (point, polygon, polyline and poly presenters) can be written; others raise
  // EGException. Not kept by the file: Hidden, TitleOffsetUnits, TitleZoomUnits (written,
  // not read), PolyRenderMode, OverrideColumn and the fonts' BkAlphaBlend.
  void WritePresenters(const TGPresenterStore& presenters);

  // One block per run of objects of one kind: points and polys (rasters raise EGException).
  // A poly without chains is written with its centroid only. The comma text goes out whole
  // (every item quoted, so the reader keeps it as it is), with user identifier, presenter
  // number (16-bit), heights and the closed and multi-ring forms of the chains.
  void WriteObjects(std::span<const std::shared_ptr<IGMapPoint>> objects);

  // The end mark. Nothing may be written after it.
  void Finish();

private:
  void CheckHeader(const char* what) const;
  void WritePresenter(const TGPresenter& presenter);
  void WriteObject(IGMapPoint& obj, bool poly);

  TGStreamWriter FWriter;
  bool FObjectsWritten = false;
  bool FFinished = false;
};

// A whole layer file: the source's metadata (when it has any; it holds the column names), its
// presenters and every object. Written to a temporary file beside fileName that then replaces it,
// so a failed write leaves no half-written file; failures raise EGException.
void SaveLYRFile(const std::string& fileName, TGObjectSource& source);

} // namespace vtr
