#include "globe/GObjectSource.h"

#include "globe/GBitmap.h"
#include "globe/GLayer.h"
#include "globe/GPresenter.h"
#include "globe/GXML.h"

#include <filesystem>
#include <fstream>
#include <random>

namespace vtr {

// ---------------------------------------------------------------------------------------------
// GUIDs

TGUID NewGUID()
{
  static std::mt19937_64 rng{std::random_device{}()};
  TGUID id;
  const uint64_t hi = rng();
  const uint64_t lo = rng();
  id.D1 = static_cast<uint32_t>(hi >> 32);
  id.D2 = static_cast<uint16_t>(hi >> 16);
  id.D3 = static_cast<uint16_t>((hi & 0x0FFF) | 0x4000); // version 4
  for (int i = 0; i < 8; ++i)
    id.D4[static_cast<size_t>(i)] = static_cast<uint8_t>(lo >> (8 * i));
  id.D4[0] = static_cast<uint8_t>((id.D4[0] & 0x3F) | 0x80); // RFC 4122 variant
  return id;
}

std::string GUIDToString(const TGUID& id)
{
  static const char* hex = "0123456789ABCDEF";
  std::string s = "{";
  const auto put = [&s](uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i)
      s += hex[(v >> (4 * i)) & 0xF];
  };
  put(id.D1, 8);
  s += '-';
  put(id.D2, 4);
  s += '-';
  put(id.D3, 4);
  s += '-';
  put(id.D4[0], 2);
  put(id.D4[1], 2);
  s += '-';
  for (size_t i = 2; i < 8; ++i)
    put(id.D4[i], 2);
  return s + "}";
}

std::optional<TGUID> StringToGUID(std::string_view text)
{
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  std::string digits;
  for (size_t i = 1; i < 37; ++i) {
    const char c = text[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != '-') return std::nullopt;
    } else if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else {
      return std::nullopt;
    }
  }
  const auto field = [&digits](size_t from, size_t count) {
    return std::stoull(digits.substr(from, count), nullptr, 16);
  };
  TGUID id;
  id.D1 = static_cast<uint32_t>(field(0, 8));
  id.D2 = static_cast<uint16_t>(field(8, 4));
  id.D3 = static_cast<uint16_t>(field(12, 4));
  for (size_t i = 0; i < 8; ++i)
    id.D4[i] = static_cast<uint8_t>(field(16 + 2 * i, 2));
  return id;
}

// ---------------------------------------------------------------------------------------------
// Iterators

std::shared_ptr<IGMapPoint> TGIterator::First()
{
  FCurrentPK = FObjectSource->First();
  auto obj = FObjectSource->ByPrimaryKey(FCurrentPK);
  return obj || FCurrentPK == 0 ? obj : Next();
}

std::shared_ptr<IGMapPoint> TGIterator::Next()
{
  // Keys whose object cannot be had are passed over rather than ending the walk.
  while (FCurrentPK != 0) {
    FCurrentPK = FObjectSource->Next(FCurrentPK);
    if (auto obj = FObjectSource->ByPrimaryKey(FCurrentPK)) return obj;
  }
  return nullptr;
}

int64_t TGIterator::Count()
{
  int64_t n = 0;
  for (auto obj = First(); obj; obj = Next())
    ++n;
  return n;
}

std::shared_ptr<IGMapPoint> TGListIterator::First()
{
  FPosition = 0;
  return Next();
}

std::shared_ptr<IGMapPoint> TGListIterator::Next()
{
  while (FPosition < FKeys.size()) {
    FCurrentPK = FKeys[FPosition++];
    if (auto obj = FObjectSource->ByPrimaryKey(FCurrentPK)) return obj;
  }
  return nullptr;
}

bool TGListIterator::Contains(TGPrimaryKey objPK) const
{
  return std::find(FKeys.begin(), FKeys.end(), objPK) != FKeys.end();
}

// ---------------------------------------------------------------------------------------------
// Data reader base

TGCustomDataReader::TGCustomDataReader(TGGlobe* parentGlobe)
    : TGComponent(parentGlobe), FPresenters(std::make_unique<TGPresenterStore>(parentGlobe))
{
  FMetaData.SetValue("ColumnNames", "Title");
}

TGCustomDataReader::~TGCustomDataReader() = default;

std::shared_ptr<IGMapPoint> TGCustomDataReader::First()
{
  if (FOpen) {
    FOpen = false;
    CloseReader();
  }
  FCurrentObject = nullptr;
  try {
    FOpen = true; // an open that fails half-way is closed again
    FOpen = OpenReader();
    if (FOpen && ReadHeader()) return Next();
  } catch (...) {
    Abandon();
    throw;
  }
  // Nothing to read: let go of the source now rather than at the next First.
  if (FOpen) {
    FOpen = false;
    CloseReader();
  }
  return nullptr;
}

std::shared_ptr<IGMapPoint> TGCustomDataReader::Next()
{
  if (!FOpen) return nullptr;
  try {
    FCurrentObject = ReadObject();
    if (FCurrentObject) {
      // Every 100th object reports progress (rate-limited).
      if (++FReadCount % 100 == 0) DoProgress(pProgress);
      if (OnReadObject) OnReadObject(*this, FCurrentObject);
    } else {
      FinishReading();
      FOpen = false;
      CloseReader();
    }
  } catch (...) {
    Abandon();
    throw;
  }
  return FCurrentObject;
}

bool TGCustomDataReader::OpenReader()
{
  FReadCount = 0;
  DoProgress(pProgressStart);
  return true;
}

void TGCustomDataReader::CloseReader()
{
  DoProgress(pProgressEnd);
}

void TGCustomDataReader::Abandon() noexcept
{
  FCurrentObject = nullptr;
  if (!FOpen) return;
  FOpen = false;
  // The failure itself goes on to the caller; a handler that fails here must not hide it.
  try {
    DoProgress(pProgressError);
  } catch (...) {
  }
  try {
    CloseReader();
  } catch (...) {
  }
}

void TGCustomDataReader::DoProgress(TGProgressType kind)
{
  if (!OnProgress) return;
  const auto now = FClock ? FClock() : std::chrono::steady_clock::now();
  if (kind > pProgressError && now <= FProgressTimeout) return;
  FProgressTimeout = now + std::chrono::seconds(1);
  OnProgress(this, kind, FReadCount, ProgressPercent());
}

// ---------------------------------------------------------------------------------------------
// TGObjectSource

namespace {
// The identity of a source until a concrete source gives itself one.
constexpr TGUID kInitialSourceID{
    0x6E4B1A3Cu, 0x52D7, 0x4F08, {0x9A, 0x61, 0x3B, 0xC2, 0x7D, 0x04, 0xE5, 0x19}};
} // namespace

TGObjectSource::TGObjectSource(TGGlobe* parentGlobe)
    : TGComponent(parentGlobe), FPresenters(std::make_unique<TGPresenterStore>(parentGlobe)),
      FUniqueID(kInitialSourceID), FUserXML(std::make_unique<TGXML_Element>("User")),
      FAlive(std::make_shared<int>(0))
{
}

TGObjectSource::~TGObjectSource() = default;

std::unique_ptr<TGObjectSource> TGObjectSource::Clone()
{
  auto copy = CreateGlobeObjectAs<TGObjectSource>(ClassName(), ParentGlobe());
  G_ASSERT_MSG(copy, "TGObjectSource.Clone: class not registered");
  copy->CopyFrom(*this);
  return copy;
}

void TGObjectSource::CopyFrom(TGObjectSource& source)
{
  if (&source == this) return;
  Clear();
  FMetaData = source.FMetaData;
  FPresenters->Assign(*source.FPresenters);
  FUserXML->Assign(*source.FUserXML);
  auto it = source.NewIterator();
  for (auto obj = it->First(); obj; obj = it->Next())
    Add(obj->Clone());
}

void TGObjectSource::SaveToXML(TGXML_Element& el)
{
  TGComponent::SaveToXML(el);
  el.AddAttribute("ID", GUIDToString(FUniqueID));
  el.AddAttribute("Name", Name());
  el.AddAttribute("ColumnNames", ColumnNames());
  el.AddElement("User").Assign(*FUserXML);
}

void TGObjectSource::LoadFromXML(const TGXML_Element& el)
{
  SetName(el.Attribute("Name", Name()));
  const std::optional<TGUID> id = StringToGUID(XMLTrim(el.Attribute("ID")));
  if (!id) return;
  SetUniqueID(*id);
  SetColumnNames(el.Attribute("ColumnNames", ColumnNames()));
  if (const TGXML_Element* user = el.Element("User")) FUserXML->Assign(*user);
}

std::unique_ptr<TGIterator> TGObjectSource::NewIterator()
{
  return std::make_unique<TGIterator>(*this);
}

void TGObjectSource::Clear()
{
  FPresenters->Clear();
  FMetaData.Lines().clear();
}

void TGObjectSource::Add(const std::shared_ptr<IGMapPoint>& obj)
{
  if (!obj) return;
  TGObjectSource* old = obj->ObjectSource();
  const int32_t id = obj->PresenterID();
  if (old && old != this && id != 0 && !FPresenters->ByID(id) && old->Layer()) {
    if (TGPresenter* presenter = old->Layer()->FindPresenter(id))
      FPresenters->Add(presenter->Clone());
  }
  obj->SetObjectSource(this);
}

TGMER TGObjectSource::DataMER()
{
  TGMER result{};
  auto it = NewIterator();
  for (auto obj = it->First(); obj; obj = it->Next())
    result = MERUnion(result, obj->ObjectMER());
  return result;
}

void TGObjectSource::ImportData(TGCustomDataReader& reader)
{
  reader.SetObjectSource(this);
  for (auto obj = reader.First(); obj; obj = reader.Next())
    Add(obj);
  FPresenters->AddPresenters(reader.Presenters());
  for (const std::string& line : reader.MetaData().Lines())
    FMetaData.SetValue(KeyValueList::NameOf(line), KeyValueList::ValueOf(line));
}

// ---------------------------------------------------------------------------------------------
// TGMemoryObjectSource

TGMemoryObjectSource::TGMemoryObjectSource(TGGlobe* parentGlobe) : TGObjectSource(parentGlobe)
{
  FUniqueID = NewGUID();
}

TGMemoryObjectSource::~TGMemoryObjectSource() = default;

std::unique_ptr<TGObjectSource> TGMemoryObjectSource::Clone()
{
  auto copy = std::make_unique<TGMemoryObjectSource>(ParentGlobe());
  copy->CopyFrom(*this);
  return copy;
}

int64_t TGMemoryObjectSource::ObjectCount()
{
  return static_cast<int64_t>(FObjectList.size() - FNullObjects.size());
}

TGPrimaryKey TGMemoryObjectSource::KeyFrom(size_t slot) const
{
  for (; slot < FObjectList.size(); ++slot)
    if (FObjectList[slot]) return static_cast<TGPrimaryKey>(slot) + 1;
  return 0;
}

TGPrimaryKey TGMemoryObjectSource::First()
{
  return KeyFrom(0);
}

TGPrimaryKey TGMemoryObjectSource::Next(TGPrimaryKey objPK)
{
  // Key k is slot k - 1, so the search starts at slot k.
  return objPK <= 0 ? 0 : KeyFrom(static_cast<size_t>(objPK));
}

std::shared_ptr<IGMapPoint> TGMemoryObjectSource::ByPrimaryKey(TGPrimaryKey objPK)
{
  if (objPK <= 0 || static_cast<uint64_t>(objPK) > FObjectList.size()) return nullptr;
  const auto& obj = FObjectList[static_cast<size_t>(objPK - 1)];
  if (obj) {
    obj->SetObjectSource(this);
    obj->SetPrimaryKey(objPK);
  }
  return obj;
}

std::unique_ptr<TGIterator> TGMemoryObjectSource::NewIterator(const TGMER& aMER)
{
  (void)aMER;
  auto it = std::make_unique<TGListIterator>(*this);
  for (size_t slot = 0; slot < FObjectList.size(); ++slot)
    if (FObjectList[slot]) it->AddPrimaryKey(static_cast<TGPrimaryKey>(slot) + 1);
  return it;
}

void TGMemoryObjectSource::ForEach(const TGMER& aMER, const TGObjectCallback& callback)
{
  auto it = NewIterator(aMER);
  for (auto obj = it->First(); obj; obj = it->Next())
    if (!callback(obj->PrimaryKey())) break;
}

int64_t TGMemoryObjectSource::SlotOf(const IGMapPoint& obj) const
{
  // The key names the slot unless the object was never added here.
  const TGPrimaryKey pk = obj.PrimaryKey();
  if (pk > 0 && static_cast<uint64_t>(pk) <= FObjectList.size() &&
      FObjectList[static_cast<size_t>(pk - 1)].get() == &obj)
    return pk - 1;
  for (size_t slot = 0; slot < FObjectList.size(); ++slot)
    if (FObjectList[slot].get() == &obj) return static_cast<int64_t>(slot);
  return -1;
}

void TGMemoryObjectSource::Add(const std::shared_ptr<IGMapPoint>& obj)
{
  if (!obj) return;
  if (obj->ObjectSource() == this && SlotOf(*obj) >= 0) return;
  TGObjectSource::Add(obj);
  size_t slot = FObjectList.size();
  if (!FNullObjects.empty()) {
    slot = *FNullObjects.begin();
    FNullObjects.erase(FNullObjects.begin());
    FObjectList[slot] = obj;
  } else {
    FObjectList.push_back(obj);
  }
  obj->SetPrimaryKey(static_cast<TGPrimaryKey>(slot) + 1);
}

void TGMemoryObjectSource::Remove(IGMapPoint& obj)
{
  const int64_t slot = SlotOf(obj);
  if (slot < 0) return;
  if (FLayer) FLayer->Selection().Remove(slot + 1);
  // The slot keeps the last reference until here; hold it while the object is detached.
  std::shared_ptr<IGMapPoint> held = std::move(FObjectList[static_cast<size_t>(slot)]);
  FNullObjects.insert(static_cast<size_t>(slot));
  held->SetObjectSource(nullptr);
}

void TGMemoryObjectSource::Clear()
{
  TGObjectSource::Clear();
  // The keys are given out again from 1, so selections of the old objects must go.
  if (FLayer && !FObjectList.empty()) FLayer->Selection().Clear();
  for (const auto& obj : FObjectList)
    if (obj) obj->SetObjectSource(nullptr);
  FObjectList.clear();
  FNullObjects.clear();
}

std::shared_ptr<TGBitmap> TGMemoryObjectSource::ImageByName(const std::string& imageName)
{
  return LoadLayerImage(FLayer, imageName);
}

void TGMemoryObjectSource::ImportImageStream(const std::string& imageName, TGStream& stream)
{
  // Images of a memory source stay in their files.
  (void)imageName;
  (void)stream;
}

void TGMemoryObjectSource::ExportImageStream(const std::string& imageName, TGStream& stream)
{
  std::error_code ec;
  if (imageName.empty() || !std::filesystem::is_regular_file(imageName, ec)) return;
  const auto size = std::filesystem::file_size(imageName, ec);
  if (ec) throw EGException("ExportImageStream: cannot read " + imageName);
  if (size > UINT32_MAX) throw EGException("ExportImageStream: image too large: " + imageName);
  std::ifstream in(imageName, std::ios::binary);
  std::vector<char> bytes(static_cast<size_t>(size));
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
    throw EGException("ExportImageStream: cannot read " + imageName);
  TGStreamWriter writer(stream);
  writer.WriteCardinal(static_cast<uint32_t>(size));
  writer.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TGMemoryObjectSource::SetDataReader(std::unique_ptr<TGCustomDataReader> reader)
{
  FDataReader = std::move(reader);
  if (!FDataReader) return;
  Clear();
  SetName(FDataReader->Name());
  ImportData(*FDataReader);
}

void TGMemoryObjectSource::SaveToXML(TGXML_Element& el)
{
  TGObjectSource::SaveToXML(el);
  if (FDataReader) FDataReader->SaveToXML(el.AddElement("DataReader"));
}

void TGMemoryObjectSource::LoadFromXML(const TGXML_Element& el)
{
  if (const TGXML_Element* reader = el.Element("DataReader"))
    SetDataReader(CreateFromXMLAs<TGCustomDataReader>(ParentGlobe(), reader));
  TGObjectSource::LoadFromXML(el);
}

} // namespace vtr
