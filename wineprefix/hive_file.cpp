// A prefix's registry file: loaded with its checks, saved durably through
// a private temporary file.
#include "wineprefix/hive_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "wineprefix/filesystem.h"
#include "wineprefix/internal/names.h"
#include "wineprefix/text_buffer.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace wineprefix {
namespace fs = std::filesystem;

using vocab::ERROR_ACCESS_DENIED;
using vocab::ERROR_BADDB;
using vocab::ERROR_CANTREAD;
using vocab::ERROR_INVALID_PARAMETER;

using winereg::CurrentFileTime;
using winereg::ParseError;
using winereg::ParseOptions;
using winereg::SavedText;

namespace {

using internal::Resolved;

// A fresh name of the pattern a save uses beside `file`:
// ".<name>.skelvin-XXXXXX". Empty when no randomness is to be had.
std::string TempName(FileSystem& files, const fs::path& file) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6];
  if (files.GetRandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return {};
  std::string name = (file.parent_path() / ("." + file.filename().string() + ".skelvin-")).string();
  for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
  return name;
}

// A new file of that pattern, created exclusively (never through a link);
// `out` gets its name. -1 and errno on failure.
int CreateTemp(FileSystem& files, const fs::path& file, std::string* out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TempName(files, file);
    if (name.empty()) return -1;
    const int fd = files.Open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) {
      if (fd >= 0) *out = std::move(name);
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// The temporary file's descriptor, closed through the save's file system
// when it goes.
class TempFd {
 public:
  TempFd(FileSystem& files, int fd) : files_(files), fd_(fd) {}
  TempFd(const TempFd&) = delete;
  TempFd& operator=(const TempFd&) = delete;
  ~TempFd() {
    // Only on the way out of a failed save: a failing close adds nothing.
    if (fd_ >= 0) (void)files_.Close(fd_);
  }
  int release() { return std::exchange(fd_, -1); }

 private:
  FileSystem& files_;
  int fd_;
};

// Marks a file as in use by this run for as long as `fd` stays open.
void MarkOwned(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  ::fcntl(fd, F_OFD_SETLK, &lock);
}

// Removes what saves killed on the way left beside `file`: files of its
// temporary pattern (and the fixed names earlier releases used), and links
// planted at such names. Called only under the prefix lock, which every
// saving run holds throughout its save; a file still marked by a live owner
// is left.
void RemoveLeftovers(const fs::path& file) {
  const fs::path dir = file.parent_path();
  const std::string stem = "." + file.filename().string() + ".skelvin-";
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.compare(0, stem.size(), stem) != 0) continue;
    const std::string_view suffix = std::string_view(name).substr(stem.size());
    if (suffix.size() != 6 && suffix != "tmp" && suffix != "old") continue;
    const fs::path path = dir / name;
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      ::unlink(path.c_str());  // never one of ours: saves make regular files
      continue;
    }
    const internal::Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
    struct flock probe = {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type == F_UNLCK) ::unlink(path.c_str());
  }
  ::closedir(listing);
}

// Where a save of `file` writes: a symbolic link is followed, and a dangling
// one gets its target made.
fs::path SaveTarget(const fs::path& file) {
  if (std::optional<fs::path> resolved = Resolved(file)) return std::move(*resolved);
  std::error_code ec;
  const fs::path link = fs::read_symlink(file, ec);
  if (ec) return file;
  return link.is_absolute() ? link : file.parent_path() / link;
}

}  // namespace

HiveFile::HiveFile(fs::path file, std::u16string branch, FileSystem& files)
    : file_(std::move(file)), branch_(std::move(branch)), files_(&files) {}

void HiveFile::Invalidate() {
  hive_.reset();
  seen_.reset();
}

Status HiveFile::Load(Hive** out, Arch fresh_arch) {
  // Non-blocking, so that a FIFO cannot hold the open; the identity comes
  // from the descriptor that is read, so that it always names the content
  // parsed.
  const int fd = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st = {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (error != ENOENT) {
      return Failure(StatusFromErrno(error, ErrnoUse::kOpenRegistry),
                     file_.string() + ": cannot open the registry file: " + std::strerror(error));
    }
    if (!hive_ || seen_) {
      hive_.emplace();
      hive_->branch = branch_;
      hive_->arch = fresh_arch;
      if (fresh_arch == Arch::kWin64 && branch_ == internal::kMachineBranch) {
        // Where a 64-bit prefix keeps the 32-bit view of Software.
        hive_->root.AddSubkey(u"Software", CurrentFileTime()).AddSubkey(internal::kWowNode, CurrentFileTime());
      }
      seen_.reset();
    }
    *out = &*hive_;
    return Success();
  }
  const internal::Fd closer(fd);
  if (!S_ISREG(st.st_mode)) {
    Invalidate();
    return Failure(ERROR_BADDB, file_.string() + ": not a regular file; a registry file must be one");
  }
  if (st.st_size > kMaxSize) {
    Invalidate();
    return Failure(ERROR_BADDB, file_.string() + ": " + std::to_string(st.st_size) +
                                    " bytes, too large for a registry file (at most " + std::to_string(kMaxSize) + ")");
  }
  if (st.st_uid != ::getuid()) {
    return Failure(ERROR_ACCESS_DENIED, file_.string() + " is not owned by you");
  }
  const Identity now{st.st_dev, st.st_ino, st.st_size,
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  if (hive_ && seen_ && *seen_ == now) {
    *out = &*hive_;
    return Success();
  }
  // What saves killed on the way left (the caller holds the prefix lock).
  RemoveLeftovers(SaveTarget(file_));
  const auto size = static_cast<std::size_t>(st.st_size);
  TextBuffer buffer(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, buffer.data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      Invalidate();
      return Failure(ERROR_CANTREAD, file_.string() + ": cannot read the registry file: " + std::strerror(error));
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  char probe = 0;
  if (done != size || ::read(fd, &probe, 1) != 0) {
    Invalidate();
    return Failure(ERROR_CANTREAD,
                   file_.string() + ": the registry file changed while it was read (another program is writing it)");
  }
  ParseError error;
  char* const text = buffer.data();
  ParseOptions options;
  options.branch = branch_;  // wineserver writes its own header, whatever the file's says
  std::optional<Hive> parsed = Parse({buffer.Release(), std::string_view(text, done)}, &error, options);
  if (!parsed) {
    Invalidate();
    return Failure(ERROR_BADDB, file_.string() + ":" + std::to_string(error.line) + ": " + error.message);
  }
  hive_ = std::move(parsed);
  seen_ = now;
  *out = &*hive_;
  return Success();
}

Status HiveFile::Save(const PrefixLock* lock) {
  if (!hive_) return Failure(ERROR_INVALID_PARAMETER);
  SavedText text;
  winereg::Save(*hive_, &text);

  FileSystem& files = *files_;
  const fs::path target = SaveTarget(file_);

  struct stat old = {};
  const bool existed = files.Stat(target.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) {
    Invalidate();
    return Failure(ERROR_BADDB, file_.string() + ": not a regular file; a registry file must be one");
  }
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::string temp;
  std::string backup;

  const auto fail = [&](int error, const char* step, int fd) {
    // The save has failed already: a failing close has nothing to add.
    if (fd >= 0) (void)files.Close(fd);
    if (!temp.empty()) (void)files.Unlink(temp.c_str());
    if (!backup.empty()) (void)files.Unlink(backup.c_str());
    Invalidate();
    return Failure(StatusFromErrno(error, ErrnoUse::kSave),
                   file_.string() + ": cannot save the registry (" + step + "): " + std::strerror(error));
  };

  // What saves killed on the way left (the caller holds the prefix lock).
  RemoveLeftovers(target);
  // A file of its own, marked as this run's while it is open (where the
  // file system has such locks) so that no other run takes it for a leftover.
  const int fd = CreateTemp(files, target, &temp);
  if (fd < 0) return fail(errno, "create", -1);
  MarkOwned(fd);
  const mode_t mode = existed ? (old.st_mode & 07777) : (0666 & ~[] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
  }());
  if (files.Fchmod(fd, mode) != 0) return fail(errno, "chmod", fd);
  if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      files.Fchown(fd, old.st_uid, old.st_gid) != 0) {
    return fail(errno, "chown", fd);
  }
  // Large parts (the text kept from the file) go straight from where they
  // are; small ones are gathered first.
  constexpr std::size_t kGather = std::size_t{64} * 1024;
  constexpr std::size_t kChunk = std::size_t{1024} * 1024;
  const auto write_all = [&](std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = files.Write(fd, data.data(), std::min(data.size(), kChunk));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) return EIO;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
  };
  std::string gathered;
  int write_error = 0;
  text.ForEachPart([&](std::string_view part) {
    if (write_error != 0) return;
    if (gathered.size() + part.size() <= kGather) {
      gathered += part;
      return;
    }
    write_error = write_all(gathered);
    gathered.clear();
    if (write_error != 0) return;
    if (part.size() >= kGather) {
      write_error = write_all(part);
    } else {
      gathered = part;
    }
  });
  if (write_error == 0) write_error = write_all(gathered);
  if (write_error != 0) return fail(write_error, "write", fd);
  if (files.Fsync(fd) != 0) return fail(errno, "flush", fd);
  struct stat written = {};
  if (files.Fstat(fd, &written) != 0) return fail(errno, "stat", fd);
  // Open (and marked) until just before the rename.
  TempFd temp_fd(files, fd);

  // The old file keeps a second name until the directory is flushed, so
  // that a failed flush can put it back (without hard links: no way back).
  if (existed) {
    for (int attempt = 0; attempt < 100 && backup.empty(); ++attempt) {
      std::string name = TempName(files, target);
      if (name.empty()) break;
      if (files.Link(target.c_str(), name.c_str()) == 0) {
        backup = std::move(name);
      } else if (errno != EEXIST) {
        break;
      }
    }
  }
  if (lock != nullptr) {
    if (Status status = lock->Recheck(); !status.ok()) {
      (void)files.Unlink(temp.c_str());
      if (!backup.empty()) (void)files.Unlink(backup.c_str());
      Invalidate();
      return status;
    }
  }
  if (files.Close(temp_fd.release()) != 0) return fail(errno, "close", -1);
  if (files.Rename(temp.c_str(), target.c_str()) != 0) return fail(errno, "rename", -1);
  temp.clear();
  // The rename is durable once the directory is flushed.
  const int dir_fd = files.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  const bool dir_synced = dir_fd >= 0 && files.Fsync(dir_fd) == 0;
  const int dir_error = errno;
  // Flushed or not, the directory has nothing more to say at its close.
  if (dir_fd >= 0) (void)files.Close(dir_fd);
  if (!dir_synced) {
    if (!backup.empty()) {
      // Best effort: the save fails either way.
      (void)files.Rename(backup.c_str(), target.c_str());
    } else if (!existed) {
      (void)files.Unlink(target.c_str());
    }
    Invalidate();
    return Failure(StatusFromErrno(dir_error, ErrnoUse::kSave),
                   file_.string() + ": cannot flush the directory after saving: " + std::strerror(dir_error));
  }
  if (!backup.empty()) (void)files.Unlink(backup.c_str());
  seen_ = Identity{written.st_dev, written.st_ino, written.st_size,
                   static_cast<std::int64_t>(written.st_mtim.tv_sec) * 1000000000 + written.st_mtim.tv_nsec};
  return Success();
}

}  // namespace wineprefix
