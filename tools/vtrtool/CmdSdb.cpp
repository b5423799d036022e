// vtrtool sdb-info, sdb-import and sdb-compact: a spatial database's layers, importing a layer
// file and compaction; render --sdb draws every layer of a database.
#include "Command.h"
#include "RenderSetup.h"

#include "globe/GLYRReader.h"
#include "globe/GSDBObjectSource.h"
#include "globe/GSpatialDatabase.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace {

using vtrtool::InputError;
using vtrtool::UsageError;

// An existing database file, opened (read-only when asked). Files that are not databases end
// in InputError.
std::unique_ptr<vtr::TGSpatialDatabase> OpenDatabase(const std::string& file, bool readOnly)
{
  vtr::TGSDBFileSystem& fs = vtr::PlatformFileSystem();
  if (!fs.Exists(fs.FullPath(file))) throw InputError{"no such database \"" + file + "\""};
  auto db = std::make_unique<vtr::TGSpatialDatabase>();
  db->SetReadOnly(readOnly);
  db->SetDataSourceName(file);
  try {
    db->Open();
  } catch (const std::exception& e) {
    throw InputError{e.what()};
  }
  return db;
}

int64_t FileSize(const std::string& file)
{
  vtr::TGSDBFileSystem& fs = vtr::PlatformFileSystem();
  const auto f = fs.Open(fs.FullPath(file), vtr::TGFileOpenMode::ReadOnly, nullptr);
  return f ? f->Size() : -1;
}

int RunSdbInfo(const vtrtool::Args& args)
{
  if (args.size() != 1) throw UsageError{"takes one database file"};
  const auto db = OpenDatabase(args[0], true);
  try {
    vtr::TGSDBLayerList& layers = db->Layers();
    for (int i = 0; i < layers.Count(); ++i) {
      vtr::TGSDBLayer& layer = layers.Layer(i);
      const vtr::TGMER m = layer.SpatialIndex().IndexMER();
      std::cout << vtrtool::Field(layer.Name()) << "\t" << layer.IDText() << "\t"
                << layer.ObjectCount() << "\t" << m.iLongX << "," << m.iLatY << "," << m.iWidthX
                << "," << m.iHeightY << "\n";
    }
  } catch (const std::exception& e) {
    throw InputError{e.what()};
  }
  return vtrtool::kOk;
}

int RunSdbImport(const vtrtool::Args& args)
{
  if (args.size() != 2) throw UsageError{"takes a database file and a layer file"};
  const std::string& file = args[0];
  const std::string& layerFile = args[1];
  std::error_code ec;
  if (!std::filesystem::is_regular_file(layerFile, ec))
    throw InputError{"cannot read layer file \"" + layerFile + "\": no such file"};
  std::unique_ptr<vtr::TGFileDataReader> reader = vtr::DataReaderForFile(nullptr, layerFile);
  if (!reader) throw InputError{"cannot read layer file \"" + layerFile + "\": unknown file type"};
  vtr::TGSDBFileSystem& fs = vtr::PlatformFileSystem();
  const std::string path = fs.FullPath(file);
  const bool existed = fs.Exists(path);
  auto db = std::make_unique<vtr::TGSpatialDatabase>();
  db->SetDataSourceName(file);
  vtr::TGUID id;
  try {
    db->Open();
    if (db->ReadOnly()) throw vtr::EGException("\"" + file + "\" is in use or cannot be written");
    id = db->ImportLayer(reader.get());
    db->Close();
  } catch (const std::exception& e) {
    db.reset();
    // A database made for this import and left empty by its failure goes again.
    if (!existed) fs.Delete(path);
    throw InputError{e.what()};
  }
  std::cout << vtr::GUIDToString(id) << "\n";
  return vtrtool::kOk;
}

int RunSdbCompact(const vtrtool::Args& args)
{
  if (args.size() != 1) throw UsageError{"takes one database file"};
  const auto db = OpenDatabase(args[0], false);
  if (db->ReadOnly()) throw InputError{"\"" + args[0] + "\" is in use or cannot be written"};
  const int64_t before = db->Compact();
  db->Close();
  std::cout << "before\t" << before << "\tafter\t" << FileSize(args[0]) << "\n";
  return vtrtool::kOk;
}

const vtrtool::Registrar info({"sdb-info", "DB",
                               "prints each layer of a spatial database: name, GUID, object count "
                               "and rectangle (GU: longitude,latitude,width,height)",
                               RunSdbInfo});
const vtrtool::Registrar import({"sdb-import", "DB FILE.lyr",
                                 "imports a layer file into a new layer of a spatial database "
                                 "(made when missing) and prints the layer's GUID",
                                 RunSdbImport});
const vtrtool::Registrar
    compact({"sdb-compact", "DB",
             "compacts a spatial database and prints its size before and after", RunSdbCompact});

// render --sdb: the globe follows the database, so every layer shows with its presenters.
const bool renderContent = [] {
  vtrtool::RenderContents().push_back(
      {"sdb", [](vtr::TGGlobe& globe, const vtrtool::RenderOptions& options) {
         if (options.sdb.empty()) return;
         // Kept until the program ends: the globe's sources read from it while it draws.
         static std::unique_ptr<vtr::TGSpatialDatabase> db;
         db = OpenDatabase(options.sdb, true);
         globe.SetSpatialDatabase(db.get());
       }});
  return true;
}();

} // namespace
