#include "globe/GSDBFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vtr {

namespace {

std::string ErrnoText(int e)
{
  return std::strerror(e);
}

// Makes a directory entry change (create, delete, rename) durable.
void SyncFolderOf(const std::string& path)
{
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

class TGPosixFile final : public TGSDBFile
{
public:
  explicit TGPosixFile(int fd) : FHandle(fd) {}
  ~TGPosixFile() override { ::close(FHandle); }

  int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override
  {
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(FHandle, out + done, static_cast<size_t>(count - done),
                                static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        FError = ErrnoText(errno);
        return -1;
      }
      if (n == 0) break;
      done += n;
    }
    return done;
  }

  bool WriteAt(int64_t offset, const void* buffer, int64_t count) override
  {
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
      const ssize_t n = ::pwrite(FHandle, in + done, static_cast<size_t>(count - done),
                                 static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        FError = ErrnoText(errno);
        return false;
      }
      if (n == 0) {
        FError = "nothing written";
        return false;
      }
      done += n;
    }
    return true;
  }

  int64_t Size() override
  {
    struct stat st
    {
    };
    if (::fstat(FHandle, &st) != 0) {
      FError = ErrnoText(errno);
      return -1;
    }
    return st.st_size;
  }

  bool Truncate(int64_t size) override
  {
    if (::ftruncate(FHandle, static_cast<off_t>(size)) == 0) return true;
    FError = ErrnoText(errno);
    return false;
  }

  bool Sync() override
  {
    if (::fsync(FHandle) == 0) return true;
    FError = ErrnoText(errno);
    return false;
  }

  std::string LastError() const override { return FError; }

private:
  int FHandle;
  std::string FError;
};

class TGPosixFileSystem final : public TGSDBFileSystem
{
public:
  std::unique_ptr<TGSDBFile> Open(const std::string& path, TGFileOpenMode mode,
                                  std::string* error) override
  {
    int flags = O_CLOEXEC;
    switch (mode) {
    case TGFileOpenMode::ReadWrite:
      flags |= O_RDWR;
      break;
    case TGFileOpenMode::ReadOnly:
      flags |= O_RDONLY;
      break;
    case TGFileOpenMode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
    }
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
      if (error) *error = ErrnoText(errno);
      return nullptr;
    }
    // One writer at a time; readers do not lock, so they never keep a writer out.
    if (mode == TGFileOpenMode::ReadWrite && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (error) *error = "the file is open for writing elsewhere";
      ::close(fd);
      return nullptr;
    }
    if (mode == TGFileOpenMode::Create) SyncFolderOf(path);
    return std::make_unique<TGPosixFile>(fd);
  }

  bool Exists(const std::string& path) override
  {
    struct stat st
    {
    };
    return ::stat(path.c_str(), &st) == 0;
  }

  bool Delete(const std::string& path) override
  {
    if (::unlink(path.c_str()) != 0) return false;
    SyncFolderOf(path);
    return true;
  }

  bool Rename(const std::string& from, const std::string& to) override
  {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    SyncFolderOf(to);
    return true;
  }

  std::string FullPath(const std::string& path) override
  {
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path, ec);
    return ec ? path : full.lexically_normal().string();
  }
};

} // namespace

TGSDBFileSystem& PlatformFileSystem()
{
  static TGPosixFileSystem fs;
  return fs;
}

} // namespace vtr
