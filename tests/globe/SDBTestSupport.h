#pragma once
// Helpers of the spatial database tests: a file system in memory that fails chosen writes and
// forgets unsynced bytes on a simulated crash, a small catalog that keeps object headers in a
// page of the database, files with small pages (so trees grow deep with few entries), and a
// private folder on disk.

#include "globe/GObjectSource.h"
#include "globe/GSDBCache.h"
#include "globe/GSDBFile.h"
#include "globe/GSDBObject.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vtrtest {

using Bytes = std::vector<uint8_t>;

// Files in memory. A file's bytes survive a Crash only as far as they were synced; creating,
// deleting and renaming are durable at once (the contract of TGSDBFileSystem). One writer per
// file at a time, as the platform's lock gives.
class SDBFaultFileSystem : public vtr::TGSDBFileSystem
{
public:
  struct FileState
  {
    Bytes Data;
    Bytes Synced;
    std::vector<std::pair<int64_t, Bytes>> Pending; // writes since the last sync, in order
    int Writers = 0;
  };
  enum class CrashKind {
    PowerLoss,   // nothing unsynced survives
    ProcessDied, // everything written survives
    Torn,        // each unsynced write survives or not, at random
  };

  std::unique_ptr<vtr::TGSDBFile> Open(const std::string& path, vtr::TGFileOpenMode mode,
                                       std::string* error) override;
  bool Exists(const std::string& path) override { return FFiles.contains(path); }
  bool Delete(const std::string& path) override;
  bool Rename(const std::string& from, const std::string& to) override;
  std::string FullPath(const std::string& path) override;

  // From the nth WriteAt on (1 = the next one), writes fail; with once only that one fails.
  // 0 never fails.
  void FailWritesFrom(int n, bool once = false);
  int WriteCalls() const { return FWriteCalls; }
  int SyncCalls() const { return FSyncCalls; }
  int ReadCalls() const { return FReadCalls; }
  // (path, offset) of every write that went through, in order.
  const std::vector<std::pair<std::string, int64_t>>& WriteLog() const { return FWriteLog; }
  void ClearLog() { FWriteLog.clear(); }
  // Open handles fail from now on; what each file keeps of its unsynced writes depends on the
  // kind (Torn draws from rng start value tornStart). Writes work again afterwards, as on the
  // next start.
  void Crash(CrashKind kind = CrashKind::PowerLoss, uint32_t tornStart = 1);

  // Whole content (synced or not); empty when the file does not exist.
  Bytes Contents(const std::string& path) const;
  // Replaces a file's content as if written and synced.
  void SetContents(const std::string& path, const Bytes& bytes);
  // A copy of every file's synced state, without open handles: a second machine that finds
  // the disk as a crash left it.
  std::unique_ptr<SDBFaultFileSystem> CrashCopy() const;

private:
  friend class SDBFaultFile;
  bool CountWrite();

  std::map<std::string, std::shared_ptr<FileState>> FFiles;
  int FGeneration = 0;
  int FWriteCalls = 0;
  int FSyncCalls = 0;
  int FReadCalls = 0;
  std::vector<std::pair<std::string, int64_t>> FWriteLog;
  int FFailFrom = 0;
  bool FFailOnce = false;
};

// A catalog that stores object headers in the database's system page: count (u16), then per
// object its name (8-bit length, text) and header (16-bit length, bytes).
class SDBTestCatalog : public vtr::IGSDBCatalog
{
public:
  explicit SDBTestCatalog(vtr::TGPageCache& cache) : FCache(&cache) {}
  vtr::TGPageCache& PageCache() override { return *FCache; }
  void SaveObject(vtr::TGSDBObject& obj) override;

  std::optional<Bytes> StoredHeader(const std::string& name);
  // Binds obj under name, reading its stored header when there is one.
  void Open(vtr::TGSDBObject& obj, const std::string& name);

private:
  std::map<std::string, Bytes> Load();
  vtr::TGPageCache* FCache;
};

// A database in memory for the index tests: the page cache, on a clock of its own so every
// run evicts the same pages, and the catalog. A file that does not exist yet is made with
// pages of pageSize bytes (0: a new file's 8192).
class SDBTestDatabase
{
public:
  SDBTestDatabase(SDBFaultFileSystem& fs, const std::string& file, uint32_t pageSize = 0,
                  int cacheSize = vtr::kSDBDefaultCacheSize);
  vtr::TGFilePageCache& Cache() { return *FCache; }
  SDBTestCatalog& Catalog() { return *FCatalog; }
  // Closes the cache and opens it again; objects are flushed before and opened again after.
  void Reopen();

private:
  uint32_t FTicks = 0;
  std::unique_ptr<vtr::TGFilePageCache> FCache;
  std::unique_ptr<SDBTestCatalog> FCatalog;
};

// Writes a new, empty database file with pages of pageSize bytes (map bits pageSize * 8); with
// crypt its pages are enciphered and the header carries the key check.
void WriteSmallPageFile(vtr::TGSDBFileSystem& fs, const std::string& path, uint32_t pageSize,
                        const vtr::TGSDBTeaCrypt* crypt = nullptr);

// A private folder, removed with everything in it when the object goes.
class TempFolder
{
public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string Path(const std::string& name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

// A data reader over objects in memory: Name, metadata and presenters as set; it hands out its
// objects one by one and, when failAt is set, raises on reading that object (1 = the first).
class SDBTestReader : public vtr::TGCustomDataReader
{
public:
  explicit SDBTestReader(std::string name) : TGCustomDataReader(nullptr) { SetName(name); }
  std::vector<std::shared_ptr<vtr::IGMapPoint>> Objects;
  int FailAt = 0;
  double ProgressPercent() override;

protected:
  bool OpenReader() override;
  std::shared_ptr<vtr::IGMapPoint> ReadObject() override;

private:
  size_t FNext = 0;
};

// Test objects: a point, and a closed poly of one square ring (side degrees, from west/south
// in degrees), with a title, a user identifier and a presenter number.
std::shared_ptr<vtr::IGMapPoint> TestPoint(double lon, double lat, const std::string& title,
                                           const std::string& userID = "", int32_t presenter = 0);
std::shared_ptr<vtr::IGMapPoint> TestSquare(double west, double south, double side,
                                            const std::string& title);
// A reader with count objects: points and squares taking turns across the globe.
std::unique_ptr<SDBTestReader> TestReader(const std::string& name, int count);

} // namespace vtrtest
