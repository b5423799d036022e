#pragma once
// The archive component: packs files into a ZIP archive and takes members out again, as the
// scenario commands use it. Plain C++ over libzip; paths are byte strings in the file system's
// encoding, member names are UTF-8.
//
// Members live flat in the archive: a member name never holds a folder. Reading is guarded:
// an unsafe name (path separator, "..", drive letter, absolute path) or a member larger than
// kMaxMemberSize is refused before anything is inflated or written.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vtr {

// Raised for archives that cannot be opened, read or written; the message names the archive
// and the reason.
class EArchiveError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class ZipArchive
{
public:
  // Largest uncompressed member that is read or extracted (256 MiB).
  static constexpr uint64_t kMaxMemberSize = uint64_t{256} << 20;

  ZipArchive() = default;

  // The archive file.
  const std::string& ArchiveName() const { return archiveName_; }
  void SetArchiveName(std::string path) { archiveName_ = std::move(path); }

  // Files that Add puts into the archive, as full paths.
  const std::vector<std::string>& MemberList() const { return memberList_; }
  void SetMemberList(std::vector<std::string> paths) { memberList_ = std::move(paths); }
  void AddToMemberList(std::string path) { memberList_.push_back(std::move(path)); }
  void ClearMemberList() { memberList_.clear(); }

  // Off (the default): Add and AddData update an existing archive, keeping its other members.
  // On: they replace whatever file has the archive's name by a new archive.
  bool FreshArchive() const { return fresh_; }
  void SetFreshArchive(bool on) { fresh_ = on; }

  // Puts each listed file into the archive under its file name without folder, creating the
  // archive when it does not exist and replacing a member of the same name. The archive is
  // rewritten through a temporary file: on any error it stays as it was.
  void Add();
  // The same for one member whose content is given.
  void AddData(const std::string& memberName, std::string_view data);

  // Folder that Extract writes into; empty means the current folder.
  const std::string& ExtractFolder() const { return extractFolder_; }
  void SetExtractFolder(std::string folder) { extractFolder_ = std::move(folder); }

  // Writes every member into the extraction folder under its name. A file of that name is
  // replaced (through a temporary file, so it is never left half written). Every member is
  // checked first: when one is unsafe or too large, nothing is written.
  void Extract() const;

  // Member names in archive order.
  std::vector<std::string> MemberNames() const;
  // Content of the member with exactly that name; raises when there is none.
  std::string ReadMember(const std::string& memberName) const;

  // Whether a member may be written into a folder under this name: not empty, no "/" or "\",
  // not "." or "..", no drive letter.
  static bool IsSafeMemberName(std::string_view name);

private:
  void Write(const std::vector<std::pair<std::string, std::string_view>>& buffers,
             const std::vector<std::pair<std::string, std::string>>& files);

  std::string archiveName_;
  std::vector<std::string> memberList_;
  std::string extractFolder_;
  bool fresh_ = false;
};

} // namespace vtr
