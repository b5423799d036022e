#include "SDBTestSupport.h"

#include "globe/GStreams.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace vtrtest {

using namespace vtr;

// ---------------------------------------------------------------------------------------------
// SDBFaultFileSystem

class SDBFaultFile : public TGSDBFile
{
public:
  SDBFaultFile(SDBFaultFileSystem& fs, std::string path,
               std::shared_ptr<SDBFaultFileSystem::FileState> state, bool writable)
      : FFs(fs), FPath(std::move(path)), FState(std::move(state)), FWritable(writable),
        FGeneration(fs.FGeneration)
  {
    if (FWritable) ++FState->Writers;
  }
  ~SDBFaultFile() override
  {
    if (FWritable && Alive()) --FState->Writers;
  }

  int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override
  {
    if (!Alive()) return Dead();
    ++FFs.FReadCalls;
    const auto size = static_cast<int64_t>(FState->Data.size());
    const int64_t n = std::clamp<int64_t>(size - offset, 0, count);
    std::copy_n(FState->Data.begin() + std::min(offset, size), n, static_cast<uint8_t*>(buffer));
    return n;
  }

  bool WriteAt(int64_t offset, const void* buffer, int64_t count) override
  {
    if (!Alive()) return Dead() == 0;
    if (!FWritable) {
      FError = "file is read-only";
      return false;
    }
    if (!FFs.CountWrite()) {
      FError = "injected write failure";
      return false;
    }
    Bytes& data = FState->Data;
    if (static_cast<int64_t>(data.size()) < offset + count)
      data.resize(static_cast<size_t>(offset + count), 0);
    std::copy_n(static_cast<const uint8_t*>(buffer), count, data.begin() + offset);
    FState->Pending.emplace_back(offset, Bytes(static_cast<const uint8_t*>(buffer),
                                               static_cast<const uint8_t*>(buffer) + count));
    FFs.FWriteLog.emplace_back(FPath, offset);
    return true;
  }

  int64_t Size() override { return Alive() ? static_cast<int64_t>(FState->Data.size()) : Dead(); }

  bool Truncate(int64_t size) override
  {
    if (!Alive()) return Dead() == 0;
    FState->Data.resize(static_cast<size_t>(size), 0);
    FState->Synced = FState->Data; // kept simple: a truncation is durable at once
    FState->Pending.clear();
    return true;
  }

  bool Sync() override
  {
    if (!Alive()) return Dead() == 0;
    ++FFs.FSyncCalls;
    FState->Synced = FState->Data;
    FState->Pending.clear();
    return true;
  }

  std::string LastError() const override { return FError; }

private:
  bool Alive() const { return FGeneration == FFs.FGeneration; }
  int64_t Dead()
  {
    FError = "file system crashed";
    return -1;
  }

  SDBFaultFileSystem& FFs;
  std::string FPath;
  std::shared_ptr<SDBFaultFileSystem::FileState> FState;
  bool FWritable;
  int FGeneration;
  std::string FError;
};

std::unique_ptr<TGSDBFile> SDBFaultFileSystem::Open(const std::string& path, TGFileOpenMode mode,
                                                    std::string* error)
{
  auto it = FFiles.find(path);
  if (mode == TGFileOpenMode::Create) {
    if (it == FFiles.end()) it = FFiles.emplace(path, std::make_shared<FileState>()).first;
    if (it->second->Writers > 0) {
      if (error) *error = "the file is open for writing elsewhere";
      return nullptr;
    }
    // Creating (or emptying) a file is durable at once.
    it->second->Data.clear();
    it->second->Synced.clear();
    it->second->Pending.clear();
    return std::make_unique<SDBFaultFile>(*this, path, it->second, true);
  }
  if (it == FFiles.end()) {
    if (error) *error = "No such file or directory";
    return nullptr;
  }
  if (mode == TGFileOpenMode::ReadWrite && it->second->Writers > 0) {
    if (error) *error = "the file is open for writing elsewhere";
    return nullptr;
  }
  return std::make_unique<SDBFaultFile>(*this, path, it->second, mode == TGFileOpenMode::ReadWrite);
}

bool SDBFaultFileSystem::Delete(const std::string& path)
{
  return FFiles.erase(path) > 0;
}

bool SDBFaultFileSystem::Rename(const std::string& from, const std::string& to)
{
  auto it = FFiles.find(from);
  if (it == FFiles.end()) return false;
  FFiles[to] = it->second;
  FFiles.erase(from);
  return true;
}

std::string SDBFaultFileSystem::FullPath(const std::string& path)
{
  return path.starts_with("/") ? path : "/mem/" + path;
}

void SDBFaultFileSystem::FailWritesFrom(int n, bool once)
{
  FFailFrom = n > 0 ? FWriteCalls + n : 0;
  FFailOnce = once;
}

bool SDBFaultFileSystem::CountWrite()
{
  ++FWriteCalls;
  if (FFailFrom == 0 || FWriteCalls < FFailFrom) return true;
  if (FFailOnce && FWriteCalls > FFailFrom) return true;
  return false;
}

void SDBFaultFileSystem::Crash(CrashKind kind, uint32_t tornStart)
{
  ++FGeneration;
  FFailFrom = 0;
  std::mt19937 rng(tornStart);
  for (auto& [path, state] : FFiles) {
    if (kind != CrashKind::ProcessDied) {
      state->Data = state->Synced;
      if (kind == CrashKind::Torn)
        for (const auto& [offset, bytes] : state->Pending) {
          if (rng() % 2 == 0) continue;
          if (state->Data.size() < offset + bytes.size())
            state->Data.resize(static_cast<size_t>(offset) + bytes.size(), 0);
          std::copy(bytes.begin(), bytes.end(), state->Data.begin() + offset);
        }
    }
    state->Synced = state->Data;
    state->Pending.clear();
    state->Writers = 0;
  }
}

Bytes SDBFaultFileSystem::Contents(const std::string& path) const
{
  auto it = FFiles.find(path);
  return it == FFiles.end() ? Bytes() : it->second->Data;
}

void SDBFaultFileSystem::SetContents(const std::string& path, const Bytes& bytes)
{
  auto& state = FFiles[path];
  if (!state) state = std::make_shared<FileState>();
  state->Data = bytes;
  state->Synced = bytes;
  state->Pending.clear();
}

std::unique_ptr<SDBFaultFileSystem> SDBFaultFileSystem::CrashCopy() const
{
  auto copy = std::make_unique<SDBFaultFileSystem>();
  for (const auto& [path, state] : FFiles)
    copy->SetContents(path, state->Synced);
  return copy;
}

// ---------------------------------------------------------------------------------------------
// SDBTestCatalog

std::map<std::string, Bytes> SDBTestCatalog::Load()
{
  std::map<std::string, Bytes> objects;
  TGPage page(*FCache, FCache->SysFirstPageID());
  TGBufferStream s(static_cast<const void*>(page.DataPtr()), page.Size());
  TGStreamReader r(s);
  const int count = r.ReadWord();
  for (int i = 0; i < count; ++i) {
    const std::string name = r.ReadShortString();
    Bytes header(r.ReadWord());
    r.ReadBuffer(header.data(), static_cast<int64_t>(header.size()));
    objects[name] = std::move(header);
  }
  return objects;
}

void SDBTestCatalog::SaveObject(TGSDBObject& obj)
{
  std::map<std::string, Bytes> objects = Load();
  TGMemoryStream header;
  TGStreamWriter hw(header);
  obj.WriteHeader(hw);
  objects[obj.Name()] = header.Bytes();
  TGPage page(*FCache, FCache->SysFirstPageID());
  TGBufferStream s(static_cast<void*>(page.DataPtr()), page.Size());
  TGStreamWriter w(s);
  w.WriteWord(static_cast<uint16_t>(objects.size()));
  for (const auto& [name, bytes] : objects) {
    w.WriteShortString(name);
    w.WriteWord(static_cast<uint16_t>(bytes.size()));
    w.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  }
  page.SetModified();
  obj.SetRootID(1);
}

std::optional<Bytes> SDBTestCatalog::StoredHeader(const std::string& name)
{
  std::map<std::string, Bytes> objects = Load();
  auto it = objects.find(name);
  if (it == objects.end()) return std::nullopt;
  return it->second;
}

void SDBTestCatalog::Open(TGSDBObject& obj, const std::string& name)
{
  if (std::optional<Bytes> header = StoredHeader(name)) {
    TGMemoryStream s(*header);
    obj.Create(*this, name, &s);
    obj.SetRootID(1);
  } else {
    obj.Create(*this, name);
  }
}

// ---------------------------------------------------------------------------------------------

SDBTestDatabase::SDBTestDatabase(SDBFaultFileSystem& fs, const std::string& file, uint32_t pageSize,
                                 int cacheSize)
{
  if (pageSize != 0 && !fs.Exists(fs.FullPath(file))) WriteSmallPageFile(fs, file, pageSize);
  FCache = std::make_unique<TGFilePageCache>(fs);
  FCache->SetTickSource([this] { return ++FTicks; });
  FCache->SetCacheSize(cacheSize);
  FCache->SetDataFile(file);
  FCache->Open();
  FCatalog = std::make_unique<SDBTestCatalog>(*FCache);
}

void SDBTestDatabase::Reopen()
{
  FCache->Close();
  FCache->Open();
}

void WriteSmallPageFile(TGSDBFileSystem& fs, const std::string& path, uint32_t pageSize,
                        const TGSDBTeaCrypt* crypt)
{
  TGPageCacheHeader h;
  h.Version = kSDBVersion;
  h.PageSize = pageSize;
  h.PageMapBits = pageSize * 8;
  h.AllocatedPageCount = 1;
  if (crypt) {
    h.EncryptionType = 1;
    h.EncryptionChecksum = crypt->Checksum(h);
  }
  Bytes bytes(static_cast<size_t>(kSDBHeaderBlockSize + pageSize), 0);
  const TGPageCacheHeaderBytes encoded = EncodePageCacheHeader(h);
  std::copy(encoded.begin(), encoded.end(), bytes.begin());
  bytes[kSDBHeaderBlockSize] = 1;
  if (crypt) crypt->Encipher(bytes.data() + kSDBHeaderBlockSize, pageSize);
  std::unique_ptr<TGSDBFile> file = fs.Open(fs.FullPath(path), TGFileOpenMode::Create, nullptr);
  file->WriteAt(0, bytes.data(), static_cast<int64_t>(bytes.size()));
  file->Sync();
}

TempFolder::TempFolder()
{
  std::string pattern = (std::filesystem::temp_directory_path() / "vtr-sdb-XXXXXX").string();
  if (char* made = ::mkdtemp(pattern.data())) FPath = made;
}

TempFolder::~TempFolder()
{
  std::error_code ec;
  if (!FPath.empty()) std::filesystem::remove_all(FPath, ec);
}

bool SDBTestReader::OpenReader()
{
  FNext = 0;
  return TGCustomDataReader::OpenReader();
}

double SDBTestReader::ProgressPercent()
{
  return Objects.empty() ? 0 : 100.0 * static_cast<double>(FNext) / Objects.size();
}

std::shared_ptr<vtr::IGMapPoint> SDBTestReader::ReadObject()
{
  if (FNext >= Objects.size()) return nullptr;
  if (FailAt != 0 && static_cast<int>(FNext) + 1 == FailAt)
    throw vtr::EGException("SDBTestReader: damaged record");
  return Objects[FNext++];
}

std::shared_ptr<vtr::IGMapPoint> TestPoint(double lon, double lat, const std::string& title,
                                           const std::string& userID, int32_t presenter)
{
  auto p = std::make_shared<vtr::TGMapPoint>();
  p->SetCentroid(vtr::DDToPointLL(lon, lat));
  p->SetObjectDataCSL(title);
  p->SetUserID(userID);
  p->SetPresenterID(presenter);
  return p;
}

std::shared_ptr<vtr::IGMapPoint> TestSquare(double west, double south, double side,
                                            const std::string& title)
{
  auto poly = std::make_shared<vtr::TGMapPoly>();
  auto ring = std::make_unique<vtr::TGPointStore>();
  for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}})
    ring->Add(vtr::DDToPointLL(west + x * side, south + y * side));
  poly->Chains().Add(std::move(ring));
  poly->SetClosed(true);
  poly->SetObjectDataCSL(title);
  poly->Invalidate();
  return poly;
}

std::unique_ptr<SDBTestReader> TestReader(const std::string& name, int count)
{
  auto reader = std::make_unique<SDBTestReader>(name);
  for (int i = 0; i < count; ++i) {
    const double lon = -170 + (i * 37) % 340;
    const double lat = -80 + (i * 23) % 160;
    const std::string title = "\"Object " + std::to_string(i) + ", " + name + "\"";
    reader->Objects.push_back(i % 2 == 0 ? TestPoint(lon, lat, title, "U" + std::to_string(i), 1)
                                         : TestSquare(lon, lat, 0.5 + i % 3, title));
  }
  reader->MetaData().SetValue("ColumnNames", "Title");
  reader->MetaData().SetValue("SourceName", name + ".lyr");
  return reader;
}

} // namespace vtrtest
