// Spatial index: 1,000,000 point objects (1 x 1 MERs) and 10,000 window queries of 1 x 1
// degree, all from fixed random streams: our R-tree in a database file against SQLite's R*Tree
// (rtree_i32) and libspatialindex's disk R*-tree, 8192-byte pages everywhere. Build time,
// queries per second and file size. Then the whole import of a layer file of the same points
// (written by the project's layer file writer) through ImportLayer, against SQLite storing the
// same objects as table rows with an R*Tree entry each.
//
// Options: --repetitions N (builds, imports and peer query passes, default 3),
// --lsi-build-repetitions N (libspatialindex's builds, over a minute each; default 1),
// --query-seconds S (the time box of our queries, default 10), --cache-pages N (our page cache,
// default 1024 as the program's database has), --points N (default 1,000,000; for trials).
#include "BenchSupport.h"
#include "LYRFileWriter.h"
#include "globe/GLYRReader.h"
#include "globe/GMapObject.h"
#include "globe/GPresenter.h"
#include "globe/GSDBCache.h"
#include "globe/GSDBObject.h"
#include "globe/GSDBRtree.h"
#include "globe/GSpatialDatabase.h"
#include "globe/GStreams.h"

#include <spatialindex/SpatialIndex.h>
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vtr;
using namespace vtrbench;

namespace {

constexpr int kWindows = 10'000;
constexpr uint32_t kPageSize = 8192;

// Objects get row identifiers 1..n; rectangles are closed intervals [x, x + w] as MERIntersects
// takes them, given to the peers as such.
struct Inputs
{
  std::vector<TGMER> Points;
  std::vector<TGMER> Windows;
};

Inputs MakeInputs(int points)
{
  Inputs in;
  Rng p(1401);
  in.Points.reserve(points);
  for (int i = 0; i < points; ++i) {
    const auto x = static_cast<int32_t>(std::floor(p.Uniform(-GU_180, GU_180 - 1)));
    const auto y = static_cast<int32_t>(std::floor(p.Uniform(-GU_90, GU_90 - 1)));
    in.Points.push_back({x, y, 1, 1});
  }
  Rng w(1402);
  for (int i = 0; i < kWindows; ++i) {
    const auto x = static_cast<int32_t>(std::floor(w.Uniform(-GU_180, GU_180 - GU_DEGREE)));
    const auto y = static_cast<int32_t>(std::floor(w.Uniform(-GU_90, GU_90 - GU_DEGREE)));
    in.Windows.push_back({x, y, GU_DEGREE, GU_DEGREE});
  }
  return in;
}

// What one side does: build a new index file of the points, then open it again and answer
// windows. Each query returns the number of rows found (all three sides must agree).
class Side
{
public:
  virtual ~Side() = default;
  virtual const char* Name() const = 0;
  virtual void Build(const std::vector<TGMER>& points) = 0;
  virtual void Open() = 0;
  virtual int64_t Query(const TGMER& window) = 0;
  virtual void Close() = 0;
  virtual int64_t FileSize() const = 0;
};

// ---------------------------------------------------------------------------------------------
// Ours: TGRTreeIndex over TGFilePageCache, default cache size, the inserts in one transaction.

// Keeps the one index's header in the database's system page: length (u16), then the bytes.
class OneObjectCatalog : public IGSDBCatalog
{
public:
  explicit OneObjectCatalog(TGPageCache& cache) : cache_(cache) {}
  TGPageCache& PageCache() override { return cache_; }
  void SaveObject(TGSDBObject& obj) override
  {
    TGMemoryStream header;
    TGStreamWriter hw(header);
    obj.WriteHeader(hw);
    TGPage page(cache_, cache_.SysFirstPageID());
    TGBufferStream s(static_cast<void*>(page.DataPtr()), page.Size());
    TGStreamWriter w(s);
    w.WriteWord(static_cast<uint16_t>(header.Bytes().size()));
    w.WriteBuffer(header.Bytes().data(), static_cast<int64_t>(header.Bytes().size()));
    page.SetModified();
    obj.SetRootID(1);
  }
  void Open(TGSDBObject& obj, const std::string& name)
  {
    std::vector<uint8_t> bytes;
    {
      TGPage page(cache_, cache_.SysFirstPageID());
      TGBufferStream s(static_cast<const void*>(page.DataPtr()), page.Size());
      TGStreamReader r(s);
      bytes.resize(r.ReadWord());
      r.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    TGMemoryStream header(std::move(bytes));
    obj.Create(*this, name, &header);
    obj.SetRootID(1);
  }

private:
  TGPageCache& cache_;
};

class Ours : public Side
{
public:
  Ours(std::string file, int cachePages) : file_(std::move(file)), cachePages_(cachePages) {}
  const char* Name() const override { return "ours"; }
  void Build(const std::vector<TGMER>& points) override
  {
    std::filesystem::remove(file_);
    Start();
    tree_->Create(*catalog_, "Points");
    cache_->BeginTransaction();
    uint32_t id = 0;
    for (const TGMER& m : points)
      tree_->Insert(m, ++id);
    tree_->Flush();
    cache_->CommitTransaction();
    Close();
  }
  void Open() override
  {
    Start();
    catalog_->Open(*tree_, "Points");
  }
  int64_t Query(const TGMER& window) override
  {
    tree_->Search(window, 0, found_);
    return static_cast<int64_t>(found_.size());
  }
  void Close() override
  {
    tree_.reset();
    catalog_.reset();
    if (cache_) cache_->Close();
    cache_.reset();
  }
  int64_t FileSize() const override { return FileBytes(file_); }
  // Depth and node pages of the open tree.
  int Depth() const { return tree_->TreeDepth(); }
  int Pages() const { return tree_->PageCount(); }

private:
  void Start()
  {
    cache_ = std::make_unique<TGFilePageCache>();
    cache_->SetCacheSize(cachePages_);
    cache_->SetDataFile(file_);
    cache_->Open();
    catalog_ = std::make_unique<OneObjectCatalog>(*cache_);
    tree_ = std::make_unique<TGRTreeIndex>();
  }

  std::string file_;
  int cachePages_;
  std::unique_ptr<TGFilePageCache> cache_;
  std::unique_ptr<OneObjectCatalog> catalog_;
  std::unique_ptr<TGRTreeIndex> tree_;
  std::vector<uint32_t> found_;
};

// ---------------------------------------------------------------------------------------------
// SQLite R*Tree: rtree_i32 on 8192-byte pages, default cache, the inserts in one transaction.

class Sqlite : public Side
{
public:
  explicit Sqlite(std::string file) : file_(std::move(file)) {}
  ~Sqlite() override { Close(); }
  const char* Name() const override { return "SQLite"; }
  void Build(const std::vector<TGMER>& points) override
  {
    std::filesystem::remove(file_);
    Connect();
    Exec("PRAGMA page_size=8192");
    Exec("CREATE VIRTUAL TABLE pts USING rtree_i32(id, minX, maxX, minY, maxY)");
    Exec("BEGIN");
    sqlite3_stmt* insert = Prepare("INSERT INTO pts VALUES(?1, ?2, ?3, ?4, ?5)");
    int64_t id = 0;
    for (const TGMER& m : points) {
      sqlite3_bind_int64(insert, 1, ++id);
      sqlite3_bind_int64(insert, 2, m.iLongX);
      sqlite3_bind_int64(insert, 3, MERRight(m));
      sqlite3_bind_int64(insert, 4, m.iLatY);
      sqlite3_bind_int64(insert, 5, MERTop(m));
      if (sqlite3_step(insert) != SQLITE_DONE) Fail("insert");
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
    Close();
  }
  void Open() override
  {
    Connect();
    query_ = Prepare("SELECT id FROM pts WHERE minX <= ?2 AND maxX >= ?1 AND minY <= ?4 AND "
                     "maxY >= ?3");
  }
  int64_t Query(const TGMER& w) override
  {
    sqlite3_bind_int64(query_, 1, w.iLongX);
    sqlite3_bind_int64(query_, 2, MERRight(w));
    sqlite3_bind_int64(query_, 3, w.iLatY);
    sqlite3_bind_int64(query_, 4, MERTop(w));
    int64_t n = 0, sum = 0;
    while (sqlite3_step(query_) == SQLITE_ROW) {
      sum += sqlite3_column_int64(query_, 0);
      ++n;
    }
    sqlite3_reset(query_);
    Keep(sum);
    return n;
  }
  void Close() override
  {
    if (query_) sqlite3_finalize(query_);
    query_ = nullptr;
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
  }
  int64_t FileSize() const override { return FileBytes(file_); }

private:
  void Connect()
  {
    if (sqlite3_open(file_.c_str(), &db_) != SQLITE_OK) Fail("open");
  }
  void Exec(const char* sql)
  {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  sqlite3_stmt* Prepare(const char* sql)
  {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) Fail(sql);
    return s;
  }
  [[noreturn]] void Fail(const char* what)
  {
    throw std::runtime_error(std::string("SQLite: ") + what + ": " + sqlite3_errmsg(db_));
  }

  std::string file_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* query_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// libspatialindex: R*-tree on its disk storage manager with 8192-byte pages, behind the
// 10-node random-evictions buffer of the library's own examples; node capacity 185, the most
// entries whose node (44 bytes a point entry, 44 of header) fits one page; fill factor 0.7.
// Coordinates are the same GU integers as doubles.

class CountVisitor : public SpatialIndex::IVisitor
{
public:
  void visitNode(const SpatialIndex::INode&) override {}
  void visitData(const SpatialIndex::IData& d) override
  {
    ++Count;
    Sum += d.getIdentifier();
  }
  void visitData(std::vector<const SpatialIndex::IData*>& v) override
  {
    for (const auto* d : v)
      visitData(*d);
  }
  int64_t Count = 0;
  int64_t Sum = 0;
};

class LibSpatialIndex : public Side
{
public:
  explicit LibSpatialIndex(std::string base) : base_(std::move(base)) {}
  ~LibSpatialIndex() override { Close(); }
  const char* Name() const override { return "libspatialindex"; }
  void Build(const std::vector<TGMER>& points) override
  {
    std::filesystem::remove(base_ + ".dat");
    std::filesystem::remove(base_ + ".idx");
    disk_.reset(SpatialIndex::StorageManager::createNewDiskStorageManager(base_, kPageSize));
    buffer_.reset(SpatialIndex::StorageManager::createNewRandomEvictionsBuffer(*disk_, 10, false));
    tree_.reset(SpatialIndex::RTree::createNewRTree(*buffer_, 0.7, kCapacity, kCapacity, 2,
                                                    SpatialIndex::RTree::RV_RSTAR, indexID_));
    SpatialIndex::id_type id = 0;
    for (const TGMER& m : points) {
      const double lo[2] = {static_cast<double>(m.iLongX), static_cast<double>(m.iLatY)};
      const double hi[2] = {static_cast<double>(MERRight(m)), static_cast<double>(MERTop(m))};
      tree_->insertData(0, nullptr, SpatialIndex::Region(lo, hi, 2), ++id);
    }
    Close();
  }
  void Open() override
  {
    disk_.reset(SpatialIndex::StorageManager::loadDiskStorageManager(base_));
    buffer_.reset(SpatialIndex::StorageManager::createNewRandomEvictionsBuffer(*disk_, 10, false));
    tree_.reset(SpatialIndex::RTree::loadRTree(*buffer_, indexID_));
  }
  int64_t Query(const TGMER& w) override
  {
    const double lo[2] = {static_cast<double>(w.iLongX), static_cast<double>(w.iLatY)};
    const double hi[2] = {static_cast<double>(MERRight(w)), static_cast<double>(MERTop(w))};
    CountVisitor v;
    tree_->intersectsWithQuery(SpatialIndex::Region(lo, hi, 2), v);
    Keep(v.Sum);
    return v.Count;
  }
  void Close() override
  {
    tree_.reset(); // writes its header and nodes through the buffer
    buffer_.reset();
    disk_.reset(); // writes the page index (.idx)
  }
  int64_t FileSize() const override
  {
    return FileBytes(base_ + ".dat") + FileBytes(base_ + ".idx");
  }

private:
  static constexpr uint32_t kCapacity = 185;
  std::string base_;
  std::unique_ptr<SpatialIndex::IStorageManager> disk_;
  std::unique_ptr<SpatialIndex::StorageManager::IBuffer> buffer_;
  std::unique_ptr<SpatialIndex::ISpatialIndex> tree_;
  SpatialIndex::id_type indexID_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The layer import: a layer file of the points, each a point object with its number as user
// identifier and presenter 1 (a point presenter), as the program's unit layers hold them.

constexpr int32_t kPresenterID = 1;

std::string UserID(size_t i)
{
  return std::to_string(i + 1);
}

// Written in blocks through TGLYRFileWriter, so that no more than a block of objects is alive.
void WriteLayerFile(const std::string& file, const std::vector<TGMER>& points)
{
  TGMemoryStream bytes;
  {
    TGLYRFileWriter writer(bytes);
    TGPresenterStore presenters;
    auto presenter = std::make_unique<TGPointPresenter>();
    presenter->SetPresenterID(kPresenterID);
    presenter->SetName("Points");
    presenters.Add(std::move(presenter));
    writer.WritePresenters(presenters);
    constexpr size_t kBlock = 10'000;
    std::vector<std::shared_ptr<IGMapPoint>> block;
    for (size_t i = 0; i < points.size(); ++i) {
      auto p = std::make_shared<TGMapPoint>();
      p->SetCentroid(PointLL(points[i].iLongX, points[i].iLatY));
      p->SetUserID(UserID(i));
      p->SetPresenterID(kPresenterID);
      block.push_back(std::move(p));
      if (block.size() == kBlock || i + 1 == points.size()) {
        writer.WriteObjects(block);
        block.clear();
      }
    }
    writer.Finish();
  }
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.Bytes().data()),
            static_cast<std::streamsize>(bytes.Bytes().size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file);
}

// Ours: a new database file, ImportLayer of the whole layer file, closed (everything on disk).
// Returns the objects the new layer holds.
int64_t ImportLayerFile(const std::string& database, const std::string& layerFile)
{
  std::filesystem::remove(database);
  TGSpatialDatabase db;
  db.SetDataSourceName(database);
  db.Open();
  TGLYRFileReader reader;
  reader.SetFileName(layerFile);
  const TGUID id = db.ImportLayer(&reader);
  TGSDBLayer* layer = db.Layers().LayerByID(id);
  const int64_t objects = layer ? layer->ObjectCount() : 0;
  db.Close();
  return objects;
}

// Reading the layer file alone: every object decoded, nothing stored.
int64_t ReadLayerFile(const std::string& layerFile)
{
  TGLYRFileReader reader;
  reader.SetFileName(layerFile);
  int64_t n = 0;
  for (auto obj = reader.First(); obj; obj = reader.Next())
    ++n;
  return n;
}

// The peer: the same objects from memory into a new SQLite file (8192-byte pages): a table row
// each (user identifier, presenter, position) and its R*Tree entry, in one transaction.
void SqliteLoad(const std::string& file, const std::vector<TGMER>& points)
{
  std::filesystem::remove(file);
  sqlite3* db = nullptr;
  auto fail = [&](const char* what) {
    const std::string message = std::string("SQLite: ") + what + ": " + sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(message);
  };
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) fail("open");
  for (const char* sql :
       {"PRAGMA page_size=8192",
        "CREATE TABLE objects(id INTEGER PRIMARY KEY, userid TEXT, presenter INTEGER, "
        "longitude INTEGER, latitude INTEGER)",
        "CREATE VIRTUAL TABLE objects_index USING rtree_i32(id, minX, maxX, minY, maxY)", "BEGIN"})
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
  sqlite3_stmt* row = nullptr;
  sqlite3_stmt* entry = nullptr;
  if (sqlite3_prepare_v2(db, "INSERT INTO objects VALUES(?1, ?2, ?3, ?4, ?5)", -1, &row, nullptr) !=
          SQLITE_OK ||
      sqlite3_prepare_v2(db, "INSERT INTO objects_index VALUES(?1, ?2, ?3, ?4, ?5)", -1, &entry,
                         nullptr) != SQLITE_OK)
    fail("prepare");
  for (size_t i = 0; i < points.size(); ++i) {
    const TGMER& m = points[i];
    const std::string user = UserID(i);
    const auto id = static_cast<int64_t>(i + 1);
    sqlite3_bind_int64(row, 1, id);
    sqlite3_bind_text(row, 2, user.data(), static_cast<int>(user.size()), SQLITE_STATIC);
    sqlite3_bind_int64(row, 3, kPresenterID);
    sqlite3_bind_int64(row, 4, m.iLongX);
    sqlite3_bind_int64(row, 5, m.iLatY);
    sqlite3_bind_int64(entry, 1, id);
    sqlite3_bind_int64(entry, 2, m.iLongX);
    sqlite3_bind_int64(entry, 3, MERRight(m));
    sqlite3_bind_int64(entry, 4, m.iLatY);
    sqlite3_bind_int64(entry, 5, MERTop(m));
    if (sqlite3_step(row) != SQLITE_DONE || sqlite3_step(entry) != SQLITE_DONE) fail("insert");
    sqlite3_reset(row);
    sqlite3_reset(entry);
  }
  sqlite3_finalize(row);
  sqlite3_finalize(entry);
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) fail("COMMIT");
  sqlite3_close(db);
}

// ---------------------------------------------------------------------------------------------

struct QueryRun
{
  int Done = 0;       // windows answered
  double Seconds = 0; // for those
  int64_t Found = 0;  // rows found in them
};

// Windows in order until all are done or budget seconds have passed.
QueryRun RunQueries(Side& side, const std::vector<TGMER>& windows, double budget)
{
  QueryRun run;
  side.Open();
  const auto t0 = std::chrono::steady_clock::now();
  for (const TGMER& w : windows) {
    run.Found += side.Query(w);
    ++run.Done;
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (run.Seconds >= budget) break;
  }
  side.Close();
  return run;
}

int64_t FoundIn(Side& side, const std::vector<TGMER>& windows, int count)
{
  side.Open();
  int64_t found = 0;
  for (int i = 0; i < count; ++i)
    found += side.Query(windows[static_cast<size_t>(i)]);
  side.Close();
  return found;
}

} // namespace

int main(int argc, char** argv)
{
  const int reps = Repetitions(argc, argv, 3);
  // libspatialindex takes over a minute a build; by default it builds once (the first turn).
  const int lsiReps = static_cast<int>(Option(argc, argv, "--lsi-build-repetitions", 1));
  // Our search visits every node (its split gives leaves no spatial grouping), so our
  // queries are a time-boxed sample of the windows in order.
  const double budget = Option(argc, argv, "--query-seconds", 10);
  const int nPoints = static_cast<int>(Option(argc, argv, "--points", 1'000'000));
  const int cachePages =
      static_cast<int>(Option(argc, argv, "--cache-pages", kSDBDefaultCacheSize));

  const Inputs in = MakeInputs(nPoints);
  TempFolder folder("index");
  Ours ours(folder.Path("points.sdb"), cachePages);
  Sqlite sqlite(folder.Path("points.sqlite"));
  LibSpatialIndex lsi(folder.Path("points-lsi"));
  Side* peers[] = {&sqlite, &lsi};

  // Builds in turns, each from an empty file.
  std::vector<double> bOurs, bSqlite, bLsi;
  for (int i = 0; i < std::max(reps, lsiReps); ++i) {
    if (i < reps) bOurs.push_back(SecondsOf([&] { ours.Build(in.Points); }));
    if (i < reps) bSqlite.push_back(SecondsOf([&] { sqlite.Build(in.Points); }));
    if (i < lsiReps) bLsi.push_back(SecondsOf([&] { lsi.Build(in.Points); }));
  }
  const double buildOurs = Median(bOurs), buildPeer[] = {Median(bSqlite), Median(bLsi)};

  const QueryRun qOurs = RunQueries(ours, in.Windows, budget);
  double rate[2] = {0, 0};
  for (int p = 0; p < 2; ++p) {
    std::vector<double> seconds;
    for (int i = 0; i < reps; ++i)
      seconds.push_back(RunQueries(*peers[p], in.Windows, 1e30).Seconds);
    rate[p] = kWindows / Median(seconds);
  }
  // The layer import, in turns with the peer, each into a new file.
  const std::string layerFile = folder.Path("points.lyr");
  WriteLayerFile(layerFile, in.Points);
  std::vector<double> iOurs, iPeer, iRead;
  int64_t imported = 0, read = 0;
  for (int i = 0; i < reps; ++i) {
    iOurs.push_back(
        SecondsOf([&] { imported = ImportLayerFile(folder.Path("import.sdb"), layerFile); }));
    iPeer.push_back(SecondsOf([&] { SqliteLoad(folder.Path("import.sqlite"), in.Points); }));
    iRead.push_back(SecondsOf([&] { read = ReadLayerFile(layerFile); }));
  }
  const bool importedAll = imported == nPoints && read == nPoints;

  // The same rows must come back on every side, over the windows ours answered.
  bool agree = true;
  const int64_t foundPeer[] = {FoundIn(sqlite, in.Windows, qOurs.Done),
                               FoundIn(lsi, in.Windows, qOurs.Done)};
  for (int64_t f : foundPeer)
    agree = agree && f == qOurs.Found;
  ours.Open();
  const int depth = ours.Depth(), pages = ours.Pages();
  ours.Close();

  const double mb = 1.0 / (1024 * 1024);
  const std::string objects = Thousands(nPoints) + " points";
  const std::string sample = "windows: ours the first " + Thousands(qOurs.Done) + " of " +
                             Thousands(kWindows) + " (" + std::to_string(std::lround(budget)) +
                             " s box), peer all";
  Table table("spatial index: TGRTreeIndex in a database file vs SQLite " +
              std::string(sqlite3_libversion()) + " R*Tree (rtree_i32) and libspatialindex " +
              SIDX_RELEASE_NAME +
              " disk R*-tree, 8192-byte pages; builds and imports: medians "
              "of " +
              std::to_string(reps) + " runs (libspatialindex's build: " + std::to_string(lsiReps) +
              "), peer queries: medians of " + std::to_string(reps) + " passes over all windows");
  for (int p = 0; p < 2; ++p) {
    const std::string vs = std::string(" vs ") + peers[p]->Name();
    table.Add({"build, " + objects + vs, "s", buildOurs, buildPeer[p], "", true});
    table.Add({"1 x 1 degree queries (minSize 0)" + vs + "; " + sample, "queries/s",
               qOurs.Done / qOurs.Seconds, rate[p], "", true, true});
    table.Add({"file size" + vs, "MiB", ours.FileSize() * mb, peers[p]->FileSize() * mb, "", true});
  }
  table.Add({"ImportLayer of a " + Thousands(nPoints) + "-object layer file (" +
                 std::to_string(std::lround(FileBytes(layerFile) * mb)) +
                 " MiB) into a new database file vs SQLite storing the same objects",
             "s", Median(iOurs), Median(iPeer), "", true});
  table.Add({"  of which reading the layer file (every object decoded, none stored)", "s",
             Median(iRead), NAN, "", true});
  table.Add({"database file after the import vs SQLite's", "MiB",
             FileBytes(folder.Path("import.sdb")) * mb,
             FileBytes(folder.Path("import.sqlite")) * mb, "", true});
  table.Print();
  std::printf("  ours: depth %d, %s node pages; %s rows found in the %s windows ours answered "
              "(SQLite %s, libspatialindex %s)%s\n",
              depth, Thousands(pages).c_str(), Thousands(qOurs.Found).c_str(),
              Thousands(qOurs.Done).c_str(), Thousands(foundPeer[0]).c_str(),
              Thousands(foundPeer[1]).c_str(), agree ? "" : "  MISMATCH");
  std::printf("  caches: ours %d pages of 8192 bytes, SQLite its default (2 MiB), libspatialindex "
              "the 10-node random-evictions buffer of its examples (capacity 185, fill 0.7); "
              "builds include the commit, SQLite's and ours with a sync\n",
              cachePages);
  std::printf("  ours visits every node on each query (the split gives leaves no spatial "
              "grouping), hence the time-boxed sample\n");
  std::printf("  import: medians of %d runs in turns; the file holds point objects with their "
              "number as user identifier and a point presenter, written by TGLYRFileWriter; "
              "ours stores %s objects (the reader read %s); SQLite takes the same objects from "
              "memory as a table row (user identifier, presenter, position) and an R*Tree entry "
              "each, in one transaction%s\n",
              reps, Thousands(imported).c_str(), Thousands(read).c_str(),
              importedAll ? "" : "  MISMATCH");
  return agree && importedAll ? 0 : 1;
}
