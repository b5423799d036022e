#include "archive/ZipArchive.h"

#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

namespace vtr {

namespace {

struct ZipDiscard
{
  void operator()(zip_t* z) const { zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;

struct ZipFileClose
{
  void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileClose>;

std::string Quoted(std::string_view s)
{
  return "\"" + std::string(s) + "\"";
}

std::string ErrorText(int code)
{
  zip_error_t e;
  zip_error_init_with_code(&e, code);
  std::string text = zip_error_strerror(&e);
  zip_error_fini(&e);
  return text;
}

[[noreturn]] void Fail(const std::string& archive, const std::string& what)
{
  throw EArchiveError("Archive " + Quoted(archive) + ": " + what);
}

ZipPtr OpenForReading(const std::string& archive)
{
  if (archive.empty()) throw EArchiveError("No archive name given");
  int err = 0;
  ZipPtr z(zip_open(archive.c_str(), ZIP_RDONLY, &err));
  if (!z) throw EArchiveError("Cannot open archive " + Quoted(archive) + ": " + ErrorText(err));
  return z;
}

struct Entry
{
  zip_uint64_t index;
  std::string name;
  uint64_t size;
};

std::vector<Entry> Entries(zip_t* z, const std::string& archive)
{
  const zip_int64_t n = zip_get_num_entries(z, 0);
  if (n < 0) Fail(archive, "cannot list its members");
  std::vector<Entry> out;
  for (zip_int64_t i = 0; i < n; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const char* name = zip_get_name(z, index, ZIP_FL_ENC_GUESS);
    if (!name) Fail(archive, std::string("cannot read a member name: ") + zip_strerror(z));
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, index, 0, &st) != 0)
      Fail(archive, "cannot read member " + Quoted(name) + ": " + zip_strerror(z));
    if (!(st.valid & ZIP_STAT_SIZE))
      Fail(archive, "member " + Quoted(name) + " has no recorded size");
    out.push_back({index, name, st.size});
  }
  return out;
}

// Refuses a member before anything of it is inflated.
void CheckSize(const Entry& e, const std::string& archive)
{
  if (e.size > ZipArchive::kMaxMemberSize)
    Fail(archive, "member " + Quoted(e.name) + " is " + std::to_string(e.size) +
                      " bytes uncompressed, more than the 256 MiB allowed");
}

// Inflates one member chunk by chunk. The recorded size is not trusted: data beyond it, or
// short of it, is an error, so a lying header cannot make us read or allocate more.
template <typename Sink>
void Inflate(zip_t* z, const Entry& e, const std::string& archive, Sink&& sink)
{
  CheckSize(e, archive);
  ZipFilePtr f(zip_fopen_index(z, e.index, 0));
  if (!f) Fail(archive, "cannot read member " + Quoted(e.name) + ": " + zip_strerror(z));
  std::vector<char> buf(64 * 1024);
  uint64_t total = 0;
  for (;;) {
    const zip_int64_t got = zip_fread(f.get(), buf.data(), buf.size());
    if (got < 0)
      Fail(archive, "cannot read member " + Quoted(e.name) + ": " + zip_file_strerror(f.get()));
    if (got == 0) break;
    total += static_cast<uint64_t>(got);
    if (total > e.size)
      Fail(archive, "member " + Quoted(e.name) + " holds more data than its header states");
    sink(buf.data(), static_cast<size_t>(got));
  }
  if (total != e.size)
    Fail(archive, "member " + Quoted(e.name) + " is shorter than its header states");
}

std::string FileNameOf(const std::string& path)
{
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

bool ZipArchive::IsSafeMemberName(std::string_view name)
{
  if (name.empty() || name == "." || name == "..") return false;
  if (name.find_first_of("/\\") != std::string_view::npos) return false;
  const bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
  if (name.size() >= 2 && letter && name[1] == ':') return false;
  return true;
}

void ZipArchive::Write(const std::vector<std::pair<std::string, std::string_view>>& buffers,
                       const std::vector<std::pair<std::string, std::string>>& files)
{
  if (archiveName_.empty()) throw EArchiveError("No archive name given");
  int err = 0;
  const int flags = ZIP_CREATE | (fresh_ ? ZIP_TRUNCATE : 0);
  ZipPtr z(zip_open(archiveName_.c_str(), flags, &err));
  if (!z)
    throw EArchiveError("Cannot open archive " + Quoted(archiveName_) + ": " + ErrorText(err));

  auto addSource = [&](const std::string& name, zip_source_t* src) {
    if (!src) Fail(archiveName_, "cannot add " + Quoted(name) + ": " + zip_strerror(z.get()));
    if (zip_file_add(z.get(), name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(src);
      Fail(archiveName_, "cannot add " + Quoted(name) + ": " + zip_strerror(z.get()));
    }
  };
  for (const auto& [name, data] : buffers)
    addSource(name, zip_source_buffer(z.get(), data.data(), data.size(), 0));
  for (const auto& [name, path] : files)
    addSource(name, zip_source_file(z.get(), path.c_str(), 0, -1));

  // zip_close writes a temporary file and renames it over the archive only when complete.
  zip_t* raw = z.release();
  if (zip_close(raw) != 0) {
    const std::string why = zip_strerror(raw);
    zip_discard(raw);
    throw EArchiveError("Cannot write archive " + Quoted(archiveName_) + ": " + why);
  }
}

void ZipArchive::Add()
{
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& path : memberList_) {
    const std::string name = FileNameOf(path);
    if (!IsSafeMemberName(name))
      throw EArchiveError("Cannot add " + Quoted(path) + " to archive " + Quoted(archiveName_) +
                          ": it names no file");
    // Checked here so that a missing file is reported before the archive is touched.
    if (!std::ifstream(path, std::ios::binary))
      throw EArchiveError("Cannot add " + Quoted(path) + " to archive " + Quoted(archiveName_) +
                          ": the file cannot be read");
    files.emplace_back(name, path);
  }
  if (files.empty()) return;
  Write({}, files);
}

void ZipArchive::AddData(const std::string& memberName, std::string_view data)
{
  if (!IsSafeMemberName(memberName))
    throw EArchiveError("Cannot add " + Quoted(memberName) + " to archive " + Quoted(archiveName_) +
                        ": not a plain file name");
  Write({{memberName, data}}, {});
}

std::vector<std::string> ZipArchive::MemberNames() const
{
  ZipPtr z = OpenForReading(archiveName_);
  std::vector<std::string> names;
  for (auto& e : Entries(z.get(), archiveName_))
    names.push_back(std::move(e.name));
  return names;
}

std::string ZipArchive::ReadMember(const std::string& memberName) const
{
  ZipPtr z = OpenForReading(archiveName_);
  for (const auto& e : Entries(z.get(), archiveName_)) {
    if (e.name != memberName) continue;
    std::string out;
    Inflate(z.get(), e, archiveName_, [&](const char* p, size_t n) { out.append(p, n); });
    return out;
  }
  Fail(archiveName_, "holds no member " + Quoted(memberName));
}

void ZipArchive::Extract() const
{
  namespace fs = std::filesystem;
  ZipPtr z = OpenForReading(archiveName_);
  const std::vector<Entry> entries = Entries(z.get(), archiveName_);
  for (const auto& e : entries) {
    if (!IsSafeMemberName(e.name))
      Fail(archiveName_,
           "member " + Quoted(e.name) + " is not a plain file name; nothing was extracted");
    CheckSize(e, archiveName_);
  }

  const fs::path folder = extractFolder_.empty() ? fs::path(".") : fs::path(extractFolder_);
  for (const auto& e : entries) {
    const fs::path target = folder / e.name;
    const fs::path part = folder / ("." + e.name + ".part");
    std::FILE* out = std::fopen(part.c_str(), "wb");
    if (!out) Fail(archiveName_, "cannot create " + Quoted(part.string()));
    bool ok = true;
    try {
      Inflate(z.get(), e, archiveName_, [&](const char* p, size_t n) {
        if (ok && std::fwrite(p, 1, n, out) != n) ok = false;
      });
    } catch (...) {
      std::fclose(out);
      std::remove(part.c_str());
      throw;
    }
    ok = std::fclose(out) == 0 && ok;
    std::error_code ec;
    if (ok) fs::rename(part, target, ec);
    if (!ok || ec) {
      std::remove(part.c_str());
      Fail(archiveName_, "cannot write " + Quoted(target.string()));
    }
  }
}

} // namespace vtr
