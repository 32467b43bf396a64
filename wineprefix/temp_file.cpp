// The temporary file of a save: made, kept or discarded through the save's
// file system; and the sweep of what killed saves left.
#include "wineprefix/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

namespace wineprefix {
namespace fs = std::filesystem;

namespace {

constexpr int kAttempts = 100;

// ".<name>.skelvin-", the pattern's fixed part beside `target`.
std::string Stem(const fs::path& target) { return "." + target.filename().string() + ".skelvin-"; }

// A fresh name of the pattern beside `target`. Empty, and errno set, when no
// randomness is to be had.
std::string FreshName(FileSystem& files, const fs::path& target) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6];
  const ssize_t got = files.GetRandom(random, sizeof random, 0);
  if (got != static_cast<ssize_t>(sizeof random)) {
    if (got >= 0) errno = EIO;
    return {};
  }
  std::string name = (target.parent_path() / Stem(target)).string();
  for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
  return name;
}

}  // namespace

TempFile::TempFile(TempFile&& other) noexcept
    : files_(other.files_), fd_(std::exchange(other.fd_, -1)), name_(std::move(other.name_)) {
  other.name_.clear();
}

TempFile& TempFile::operator=(TempFile&& other) noexcept {
  if (this != &other) {
    Discard();
    files_ = other.files_;
    fd_ = std::exchange(other.fd_, -1);
    name_ = std::move(other.name_);
    other.name_.clear();
  }
  return *this;
}

int TempFile::Create(FileSystem& files, const fs::path& target, TempFile* out) {
  out->Discard();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = FreshName(files, target);
    if (name.empty()) return errno;
    const int fd = files.Open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    out->files_ = &files;
    out->fd_ = fd;
    out->name_ = std::move(name);
    // So that no other run takes it for a leftover while it is open.
    struct flock mark = {};
    mark.l_type = F_WRLCK;
    mark.l_whence = SEEK_SET;
    (void)files.FcntlLock(fd, F_OFD_SETLK, &mark);  // advice only
    return 0;
  }
  return EEXIST;
}

int TempFile::Link(FileSystem& files, const fs::path& target, TempFile* out) {
  out->Discard();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = FreshName(files, target);
    if (name.empty()) return errno;
    if (files.Link(target.c_str(), name.c_str()) != 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    out->files_ = &files;
    out->name_ = std::move(name);
    return 0;
  }
  return EEXIST;
}

int TempFile::Close() {
  if (fd_ < 0) return 0;
  // Closed whatever close says: the descriptor is not to be closed again.
  return files_->Close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
}

int TempFile::Keep(const fs::path& target) {
  if (const int error = Close(); error != 0) return error;
  if (!owned()) return EINVAL;
  if (files_->Rename(name_.c_str(), target.c_str()) != 0) return errno;
  name_.clear();
  return 0;
}

void TempFile::Discard() noexcept {
  if (fd_ < 0 && name_.empty()) return;
  const int saved = errno;
  try {
    // The name first, while the mark still holds it as this run's.
    if (!name_.empty()) (void)files_->Unlink(name_.c_str());
    if (fd_ >= 0) (void)files_->Close(fd_);
  } catch (...) {
    // A file system that throws: the save has failed already, and a
    // destructor lets nothing escape.
  }
  fd_ = -1;
  name_.clear();
  errno = saved;
}

void RemoveLeftovers(FileSystem& files, const fs::path& target) {
  const fs::path dir = target.parent_path();
  const std::string stem = Stem(target);
  DIR* const listing = files.OpenDir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = files.ReadDir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.substr(0, stem.size()) != stem) continue;
    const std::string_view suffix = name.substr(stem.size());
    if (suffix.size() != 6 && suffix != "tmp" && suffix != "old") continue;
    const fs::path path = dir / name;
    struct stat st = {};
    if (files.Lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      (void)files.Unlink(path.c_str());  // never one of ours: saves make regular files
      continue;
    }
    const int fd = files.Open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0) continue;
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (files.Fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() &&
        files.FcntlLock(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_UNLCK) {
      (void)files.Unlink(path.c_str());
    }
    (void)files.Close(fd);  // read only: nothing to report
  }
  (void)files.CloseDir(listing);
}

}  // namespace wineprefix
