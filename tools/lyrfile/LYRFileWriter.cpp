#include "LYRFileWriter.h"

#include "globe/GLYRReader.h"
#include "globe/GObjectSource.h"
#include "globe/GPresenter.h"

#include <QSaveFile>
#include <QString>

#include <cstdint>
#include <limits>
#include <vector>

namespace vtr {

namespace {

template <class T> T InRange(int64_t value, const char* what)
{
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
    throw EGException(std::string("TGLYRFileWriter: ") + what + " " + std::to_string(value) +
                      " does not fit the layer file");
  return static_cast<T>(value);
}

// Comma text in which every item is quoted: a title that begins with a quote is kept by the
// reader as it is.
std::string QuotedCSL(const std::string& csl)
{
  std::string out;
  const TextLines items = FromCommaText(csl);
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ',';
    out += '"';
    for (char c : items[i]) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

// The section name of a presenter class the file has records for; empty for others.
std::string PresenterSection(const TGPresenter& p)
{
  const std::string name = p.ClassName();
  for (const char* known :
       {"TGPointPresenter", "TGPolygonPresenter", "TGPolylinePresenter", "TGPolyPresenter"})
    if (name == known) return name;
  return {};
}

} // namespace

TGLYRFileWriter::TGLYRFileWriter(TGStream& stream) : FWriter(stream)
{
  FWriter.WriteWord(kLYRVersion);
}

void TGLYRFileWriter::CheckHeader(const char* what) const
{
  if (FObjectsWritten || FFinished)
    throw EGException(std::string("TGLYRFileWriter: ") + what + " after the objects");
}

void TGLYRFileWriter::WriteMetaData(const KeyValueList& metaData)
{
  CheckHeader("metadata");
  FWriter.WriteInteger(1);
  FWriter.WriteShortString("MetaData");
  FWriter.WriteLongString(ToCommaText(metaData.Lines()));
}

void TGLYRFileWriter::WriteColumnNames(const std::string& columnNames)
{
  CheckHeader("column names");
  FWriter.WriteInteger(1);
  FWriter.WriteShortString("ColumnNames");
  FWriter.WriteLongString(columnNames);
}

void TGLYRFileWriter::WritePresenters(const TGPresenterStore& presenters)
{
  CheckHeader("presenters");
  int32_t i = 0;
  while (i < presenters.Count()) {
    const std::string section = PresenterSection(presenters.GetPresenter(i));
    if (section.empty())
      throw EGException("TGLYRFileWriter: a layer file has no record for presenter class " +
                        presenters.GetPresenter(i).ClassName());
    int32_t run = 1;
    while (i + run < presenters.Count() && presenters.GetPresenter(i + run).ClassName() == section)
      ++run;
    FWriter.WriteInteger(run);
    FWriter.WriteShortString(section);
    for (int32_t k = 0; k < run; ++k)
      WritePresenter(presenters.GetPresenter(i + k));
    i += run;
  }
}

void TGLYRFileWriter::WritePresenter(const TGPresenter& p)
{
  // Head (see GLYRReader.cpp for the layouts).
  FWriter.WriteByte(p.AlphaBlend());
  FWriter.WriteSmallInt(InRange<int16_t>(p.TitleColumn(), "title column"));
  FWriter.WriteInteger(p.NextPresenterID());
  FWriter.WriteInteger(p.TitleZoomMax());
  FWriter.WriteInteger(p.TitleZoomMin());
  FWriter.WriteByte(static_cast<uint8_t>(p.TitleZoomUnits()));
  FWriter.WriteInteger(p.PresenterID());
  FWriter.WriteInteger(p.TitleOffset());
  FWriter.WriteShortString(p.Name());
  FWriter.WriteByte(static_cast<uint8_t>(p.TitleAlignment()));
  const auto writeFont = [this](const TGFont& f) {
    FWriter.WriteInteger(f.BkColor());
    FWriter.WriteInteger(f.Color());
    FWriter.WriteByte(static_cast<uint8_t>(f.SizeUnit()));
    FWriter.WriteSmallInt(InRange<int16_t>(f.Size(), "font size"));
    FWriter.WriteSmallInt(InRange<int16_t>(f.Angle(), "font angle"));
    FWriter.WriteByte(f.Style());
    FWriter.WriteShortString(f.Name());
  };
  const auto writePen = [this](const TGPen& pen) {
    FWriter.WriteInteger(pen.Color());
    FWriter.WriteByte(static_cast<uint8_t>(pen.Style()));
    FWriter.WriteInteger(pen.Width());
    FWriter.WriteByte(static_cast<uint8_t>(pen.WidthUnit()));
  };
  const auto writeBrush = [this](const TGBrush& brush) {
    FWriter.WriteInteger(brush.Color());
    FWriter.WriteInteger(brush.BkColor());
    FWriter.WriteByte(static_cast<uint8_t>(brush.Style()));
  };
  writeFont(p.TitleFont());

  if (const auto* point = dynamic_cast<const TGPointPresenter*>(&p)) {
    FWriter.WriteByte(static_cast<uint8_t>(point->PointType()));
    FWriter.WriteByte(static_cast<uint8_t>(point->PointUnit()));
    // A maximum size travels with a negative size, which a size of 0 cannot carry.
    if (point->PointSize() < 0)
      throw EGException("TGLYRFileWriter: negative point size " +
                        std::to_string(point->PointSize()));
    if (point->MaxPointSize() != 0 && point->PointSize() > 0) {
      FWriter.WriteInteger(-point->PointSize());
      FWriter.WriteInteger(point->MaxPointSize());
    } else {
      FWriter.WriteInteger(point->PointSize());
    }
    FWriter.WriteSmallInt(point->SymbolIndex());
    FWriter.WriteShortString(point->ImageName());
    writePen(point->PointPen());
    writeBrush(point->PointBrush());
    writeFont(point->PointFont());
  } else if (const auto* poly = dynamic_cast<const TGPolyPresenter*>(&p)) {
    writePen(poly->PolyPen());
    if (!dynamic_cast<const TGPolylinePresenter*>(&p)) writeBrush(poly->PolyBrush());
  }
}

void TGLYRFileWriter::WriteObjects(std::span<const std::shared_ptr<IGMapPoint>> objects)
{
  if (FFinished) throw EGException("TGLYRFileWriter: objects after the end mark");
  const auto isPoly = [](IGMapPoint& obj) {
    if (dynamic_cast<IGMapRaster*>(&obj))
      throw EGException("TGLYRFileWriter: a layer file has no record for rasters");
    return dynamic_cast<IGMapPoly*>(&obj) != nullptr;
  };
  size_t i = 0;
  while (i < objects.size()) {
    const bool poly = isPoly(*objects[i]);
    size_t run = 1;
    while (i + run < objects.size() && isPoly(*objects[i + run]) == poly)
      ++run;
    FWriter.WriteInteger(InRange<int32_t>(static_cast<int64_t>(run), "object count"));
    FWriter.WriteShortString(poly ? "TGMapPoly" : "TGMapPoint");
    for (size_t k = 0; k < run; ++k)
      WriteObject(*objects[i + k], poly);
    i += run;
    FObjectsWritten = true;
  }
}

void TGLYRFileWriter::WriteObject(IGMapPoint& obj, bool poly)
{
  const std::string csl = obj.ObjectDataCSL();
  const std::string userID = obj.UserID();
  const TGPointLL centroid = obj.Centroid();
  IGMapPoly* p = poly ? dynamic_cast<IGMapPoly*>(&obj) : nullptr;
  const bool single = p && p->Chains().Count() == 0;

  TGMapObjectFlags flags = 0;
  if (!csl.empty()) flags |= ofTitle;
  if (!userID.empty()) flags |= ofUserID;
  if (p && !single) {
    if (p->Chains().StoreHeight()) flags |= ofHeight;
    if (p->Chains().ChainFlags() & cfMultiRing) flags |= ofMultiRing;
  } else if (centroid.iHeightZ != 0) {
    flags |= ofHeight;
  }
  if (single) flags |= ofSingle;
  if (p && p->Closed()) flags |= ofClosed;

  FWriter.WriteWord(flags);
  if (flags & ofTitle) FWriter.WriteLongString(QuotedCSL(csl));
  if (flags & ofUserID) FWriter.WriteShortString(userID);
  FWriter.WriteSmallInt(InRange<int16_t>(obj.PresenterID(), "presenter number"));
  if (p && !single)
    p->Chains().WriteChains(FWriter);
  else
    FWriter.WritePointLL(centroid, flags & ofHeight, false);
}

void TGLYRFileWriter::Finish()
{
  if (FFinished) return;
  FWriter.WriteInteger(0);
  FFinished = true;
}

void SaveLYRFile(const std::string& fileName, TGObjectSource& source)
{
  TGMemoryStream bytes;
  TGLYRFileWriter writer(bytes);
  if (!source.MetaData().Lines().empty()) writer.WriteMetaData(source.MetaData());
  writer.WritePresenters(source.Presenters());
  std::vector<std::shared_ptr<IGMapPoint>> objects;
  auto it = source.NewIterator();
  for (auto obj = it->First(); obj; obj = it->Next())
    objects.push_back(obj);
  writer.WriteObjects(objects);
  writer.Finish();

  QSaveFile file(QString::fromStdString(fileName));
  const auto size = static_cast<qint64>(bytes.Bytes().size());
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(reinterpret_cast<const char*>(bytes.Bytes().data()), size) != size ||
      !file.commit())
    throw EGException("SaveLYRFile: cannot write " + fileName + ": " +
                      file.errorString().toStdString());
}

} // namespace vtr
