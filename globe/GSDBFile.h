#pragma once
// File I/O of the spatial database behind one small interface: the page cache, its journal and
// the compaction copy reach the disk only through TGSDBFileSystem and TGSDBFile, so tests can
// put a file system underneath that fails the Nth write or forgets everything not yet synced.
// Plain C++ (no Qt); the platform implementation uses POSIX calls.
//
// Durability contract the page cache relies on: bytes written are durable once Sync returned
// true; creating, deleting and renaming a file are durable when the call returns.

#include <cstdint>
#include <memory>
#include <string>

namespace vtr {

enum class TGFileOpenMode {
  // An existing file, for reading and writing; others may read it, a second writer is refused
  // (the open fails and the caller falls back to ReadOnly).
  ReadWrite,
  // An existing file, for reading only; others may read and write it.
  ReadOnly,
  // Creates the file, or empties an existing one, for reading and writing.
  Create,
};

// One open file. Errors never throw: they return -1 or false and leave LastError set.
class TGSDBFile
{
public:
  TGSDBFile() = default;
  virtual ~TGSDBFile() = default;
  TGSDBFile(const TGSDBFile&) = delete;
  TGSDBFile& operator=(const TGSDBFile&) = delete;

  // Bytes read at offset: fewer than count at the end of the file, -1 on an error.
  virtual int64_t ReadAt(int64_t offset, void* buffer, int64_t count) = 0;
  // True when all count bytes were written at offset (the file grows as needed).
  virtual bool WriteAt(int64_t offset, const void* buffer, int64_t count) = 0;
  // Length in bytes, -1 on an error.
  virtual int64_t Size() = 0;
  virtual bool Truncate(int64_t size) = 0;
  virtual bool Sync() = 0;
  // Reason of the last failed call ("No space left on device").
  virtual std::string LastError() const = 0;
};

class TGSDBFileSystem
{
public:
  TGSDBFileSystem() = default;
  virtual ~TGSDBFileSystem() = default;
  TGSDBFileSystem(const TGSDBFileSystem&) = delete;
  TGSDBFileSystem& operator=(const TGSDBFileSystem&) = delete;

  // Null when the file cannot be opened; error (when given) receives the reason.
  virtual std::unique_ptr<TGSDBFile> Open(const std::string& path, TGFileOpenMode mode,
                                          std::string* error) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool Delete(const std::string& path) = 0;
  // Replaces an existing target.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // The absolute form of a path relative to the current folder.
  virtual std::string FullPath(const std::string& path) = 0;
};

// The operating system's files (POSIX). Process-wide, created on first use.
TGSDBFileSystem& PlatformFileSystem();

} // namespace vtr
