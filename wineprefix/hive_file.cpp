// A prefix's registry file: loaded with its checks, saved durably through
// a private temporary file.
#include "wineprefix/hive_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "wineprefix/filesystem.h"
#include "wineprefix/internal/fd.h"
#include "wineprefix/internal/names.h"
#include "wineprefix/temp_file.h"
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

// Where a save of `file` writes: a symbolic link is followed, and a dangling
// one gets its target made. 0, or the errno of a name that cannot be told to
// be a link or not (replacing it could replace a link).
int SaveTarget(FileSystem& files, const fs::path& file, fs::path* out) {
  char buffer[PATH_MAX];
  if (files.RealPath(file.c_str(), buffer) != nullptr) {
    *out = buffer;
    return 0;
  }
  const ssize_t n = files.ReadLink(file.c_str(), buffer, sizeof buffer);
  if (n < 0) {
    // Not a link, or nothing there to be one.
    if (errno != EINVAL && errno != ENOENT && errno != ENOTDIR) return errno;
    *out = file;
    return 0;
  }
  if (static_cast<std::size_t>(n) == sizeof buffer) return ENAMETOOLONG;
  const fs::path link(std::string(buffer, static_cast<std::size_t>(n)));
  *out = link.is_absolute() ? link : file.parent_path() / link;
  return 0;
}

// The mode a new file gets: what the umask leaves of 0666.
mode_t NewFileMode(FileSystem& files) {
  const mode_t mask = files.Umask(0);
  (void)files.Umask(mask);
  return 0666 & ~mask;
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
  if (fs::path target; SaveTarget(*files_, file_, &target) == 0) RemoveLeftovers(*files_, target);
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
  // Every failure drops the cached hive; the temporary file and the old
  // file's second name, still owned, are discarded on the way out.
  const auto fail = [&](int error, const char* step) {
    Invalidate();
    return Failure(StatusFromErrno(error, ErrnoUse::kSave),
                   file_.string() + ": cannot save the registry (" + step + "): " + std::strerror(error));
  };
  fs::path target;
  if (const int error = SaveTarget(files, file_, &target); error != 0) return fail(error, "resolve");

  struct stat old = {};
  const bool existed = files.Stat(target.c_str(), &old) == 0;
  const bool absent = !existed && errno == ENOENT;  // else it may be there, unseen
  if (existed && !S_ISREG(old.st_mode)) {
    Invalidate();
    return Failure(ERROR_BADDB, file_.string() + ": not a regular file; a registry file must be one");
  }
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();

  // What saves killed on the way left (the caller holds the prefix lock).
  RemoveLeftovers(files, target);
  TempFile temp;
  if (const int error = TempFile::Create(files, target, &temp); error != 0) return fail(error, "create");
  const mode_t mode = existed ? (old.st_mode & 07777) : NewFileMode(files);
  if (files.Fchmod(temp.fd(), mode) != 0) return fail(errno, "chmod");
  if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      files.Fchown(temp.fd(), old.st_uid, old.st_gid) != 0) {
    return fail(errno, "chown");
  }
  // Large parts (the text kept from the file) go straight from where they
  // are; small ones are gathered first.
  constexpr std::size_t kGather = std::size_t{64} * 1024;
  constexpr std::size_t kChunk = std::size_t{1024} * 1024;
  const auto write_all = [&](std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = files.Write(temp.fd(), data.data(), std::min(data.size(), kChunk));
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
  if (write_error != 0) return fail(write_error, "write");
  if (files.Fsync(temp.fd()) != 0) return fail(errno, "flush");
  struct stat written = {};
  if (files.Fstat(temp.fd(), &written) != 0) return fail(errno, "stat");

  // The old file keeps a second name until the directory is flushed, so
  // that a failed flush can put it back: a way back, not a need (without
  // hard links or a random name there is none).
  TempFile backup;
  if (!absent) (void)TempFile::Link(files, target, &backup);
  if (lock != nullptr) {
    if (Status status = lock->Recheck(); !status.ok()) {
      Invalidate();
      return status;
    }
  }
  // The temporary file stays open (and marked) until just before the rename.
  if (const int error = temp.Close(); error != 0) return fail(error, "close");
  if (const int error = temp.Keep(target); error != 0) return fail(error, "rename");
  // The rename is durable once the directory is flushed.
  const int dir_fd = files.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  const bool dir_synced = dir_fd >= 0 && files.Fsync(dir_fd) == 0;
  const int dir_error = errno;
  // Flushed or not, the directory has nothing more to say at its close.
  if (dir_fd >= 0) (void)files.Close(dir_fd);
  if (!dir_synced) {
    // Best effort: the save fails either way.
    if (backup.owned()) {
      (void)backup.Keep(target);
    } else if (absent) {
      (void)files.Unlink(target.c_str());
    }
    Invalidate();
    return Failure(StatusFromErrno(dir_error, ErrnoUse::kSave),
                   file_.string() + ": cannot flush the directory after saving: " + std::strerror(dir_error));
  }
  // One that cannot be removed is the next save's leftover.
  backup.Discard();
  seen_ = Identity{written.st_dev, written.st_ino, written.st_size,
                   static_cast<std::int64_t>(written.st_mtim.tv_sec) * 1000000000 + written.st_mtim.tv_nsec};
  return Success();
}

}  // namespace wineprefix
