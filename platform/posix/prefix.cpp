#include "platform/posix/prefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

namespace plat::posix {
namespace fs = std::filesystem;

namespace {

void Diagnose(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

FsOps& DefaultFs() {
  static FsOps ops{::write, ::fsync, ::rename, ::close};
  return ops;
}

LONG StatusFromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_WRITE_FAULT;
  }
}

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", value);
  return text;
}

// wineserver's name for the prefix's server directory.
std::string ServerDirName(const struct stat& prefix) {
  return "server-" + Hex(static_cast<unsigned long long>(prefix.st_dev)) + "-" +
         Hex(static_cast<unsigned long long>(prefix.st_ino));
}

std::string TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// The directory below which Debian's wineserver keeps its server directory:
// /run/user/<uid>/wine when /run/user/<uid> exists, else the directory named
// by the prefix's `wineserver` file (created here as wineserver creates it,
// so that a server started later uses the same lock).
std::optional<fs::path> ServerBase(const fs::path& prefix, bool create) {
  const std::string run_dir = "/run/user/" + std::to_string(::getuid());
  if (DIR* dir = ::opendir(run_dir.c_str())) {
    ::closedir(dir);
    return fs::path(run_dir) / "wine";
  }
  const fs::path pointer = prefix / "wineserver";
  const auto read_pointer = [&]() -> std::optional<fs::path> {
    struct stat st{};
    if (::stat(pointer.c_str(), &st) != 0 || (st.st_mode & 0777) != S_IRUSR) return std::nullopt;
    std::ifstream in(pointer);
    std::string name;
    if (std::getline(in, name) && !name.empty()) return fs::path(TempRoot()) / name;
    return std::nullopt;
  };
  if (std::optional<fs::path> base = read_pointer()) return base;
  if (!create) return std::nullopt;
  // wineserver replaces a pointer file whose mode is not 0400.
  struct stat st{};
  if (::stat(pointer.c_str(), &st) == 0 && (st.st_mode & 0777) != S_IRUSR) ::unlink(pointer.c_str());
  std::string dir = TempRoot() + "/wine-XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) return std::nullopt;
  // Published with link(), which fails when another run got there first:
  // then its directory is the one to use. The draft has no name until then
  // (O_TMPFILE), so a run killed on the way leaves nothing in the prefix.
  const std::string name = dir.substr(TempRoot().size() + 1);
  if (const int anon = ::open(prefix.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, S_IRUSR); anon >= 0) {
    const std::string self = "/proc/self/fd/" + std::to_string(anon);
    const bool published = ::write(anon, name.data(), name.size()) == static_cast<ssize_t>(name.size()) &&
                           ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, pointer.c_str(), AT_SYMLINK_FOLLOW) == 0;
    ::close(anon);
    if (published) return fs::path(dir);
    ::rmdir(dir.c_str());
    return read_pointer();
  }
  // A file system without unnamed files: a named draft, removed at once.
  const fs::path draft = prefix / (".wineserver-" + std::to_string(::getpid()));
  ::unlink(draft.c_str());
  const int fd = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR);
  if (fd < 0) {
    ::rmdir(dir.c_str());
    return std::nullopt;
  }
  const bool written = ::write(fd, name.data(), name.size()) == static_cast<ssize_t>(name.size());
  ::close(fd);
  const bool published = written && ::link(draft.c_str(), pointer.c_str()) == 0;
  ::unlink(draft.c_str());
  if (published) return fs::path(dir);
  ::rmdir(dir.c_str());
  return read_pointer();
}

// Creates a directory as wineserver does: 0700, and it must be the user's.
bool MakePrivateDir(const fs::path& dir) {
  struct stat st{};
  if (::lstat(dir.c_str(), &st) != 0) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (::lstat(dir.c_str(), &st) != 0) return false;
  }
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// Memory for a file's text, owned by the keys that keep parts of it. A large
// one is an anonymous mapping (no zero fill), on huge pages where the system
// gives them when a few megabytes: a few page faults rather than one per 4 KiB.
class TextBuffer {
 public:
  explicit TextBuffer(std::size_t capacity) {
    constexpr std::size_t kHuge = std::size_t{2} << 20;
    constexpr std::size_t kHugeAdviceLimit = std::size_t{32} << 20;
    if (capacity >= kHuge / 2) {
      const std::size_t length = (capacity + kHuge - 1) / kHuge * kHuge + kHuge;  // room to align
      void* const base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (base != MAP_FAILED) {
        owner_ = std::shared_ptr<void>(base, [length](void* p) { ::munmap(p, length); });
        const auto start = reinterpret_cast<std::uintptr_t>(base);
        data_ = reinterpret_cast<char*>((start + kHuge - 1) & ~(kHuge - 1));
        capacity_ = length - static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(data_) - start);
        // Advice only; and not for a much larger file, where finding that
        // many huge pages (compaction) costs more than the faults saved.
        if (capacity_ <= kHugeAdviceLimit) ::madvise(data_, capacity_, MADV_HUGEPAGE);
        return;
      }
    }
    Grow(capacity);
  }
  char* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }
  // At least `capacity` bytes, the text so far kept.
  void Grow(std::size_t capacity) {
    if (capacity <= capacity_) return;
    auto text = std::make_shared<std::string>(capacity, '\0');
    if (capacity_ != 0) std::memcpy(text->data(), data_, capacity_);
    data_ = text->data();
    capacity_ = text->size();
    owner_ = std::move(text);
  }
  std::shared_ptr<const void> Release() { return std::move(owner_); }

 private:
  std::shared_ptr<void> owner_;
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// The hidden name beside `file` that a save uses: ".<name><suffix>".
fs::path Sibling(const fs::path& file, const char* suffix) {
  return file.parent_path() / ("." + file.filename().string() + suffix);
}

// The pid of a wineserver holding the lock file's byte 0, or 0.
pid_t RunningServer(const fs::path& lock_file) {
  const int fd = ::open(lock_file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  struct flock probe{};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 1;
  pid_t pid = 0;
  // A classic lock reports its owner's pid; an open-file-description lock
  // (another native run) reports -1.
  if (::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0) pid = probe.l_pid;
  ::close(fd);
  return pid;
}

void ReportServer(const fs::path& prefix, pid_t pid) {
  Diagnose(prefix.string() + ": a wineserver (pid " + std::to_string(pid) +
           ") is running for this prefix and would overwrite the registry when it exits; stop it with `WINEPREFIX=" +
           prefix.string() + " wineserver -k` and try again");
}

}  // namespace

fs::path DefaultPrefix() {
  std::string dir;
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0') {
    dir = prefix;
  } else {
    const char* home = std::getenv("HOME");
    dir = std::string(home != nullptr ? home : "") + "/.wine";
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

FsOps& Fs() { return DefaultFs(); }

Arch NewPrefixArch() {
  const char* arch = std::getenv("WINEARCH");
  return arch != nullptr && std::strcmp(arch, "win64") == 0 ? Arch::kWin64 : Arch::kWin32;
}

LONG EnsurePrefixDirectory(const fs::path& prefix) {
  if (::mkdir(prefix.c_str(), 0777) == 0 || errno == EEXIST) return ERROR_SUCCESS;
  const int error = errno;
  Diagnose(prefix.string() + ": cannot create the prefix directory: " + std::strerror(error));
  return StatusFromErrno(error);
}

PrefixLock::PrefixLock(PrefixLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
PrefixLock& PrefixLock::operator=(PrefixLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}
PrefixLock::~PrefixLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the description releases its lock
}

LONG PrefixLock::Acquire(const fs::path& prefix, PrefixLock* out) {
  struct stat st{};
  if (::stat(prefix.c_str(), &st) != 0) {
    if (errno == ENOENT) return ERROR_SUCCESS;
    Diagnose(prefix.string() + ": " + std::strerror(errno));
    return ERROR_ACCESS_DENIED;
  }
  if (st.st_uid != ::getuid()) {
    Diagnose(prefix.string() + " is not owned by you");
    return ERROR_ACCESS_DENIED;
  }
  const std::string server_dir = ServerDirName(st);
  // Upstream Wine keeps its server directory in /tmp/.wine-<uid>.
  const fs::path upstream = fs::path("/tmp/.wine-" + std::to_string(::getuid())) / server_dir / "lock";
  if (const pid_t pid = RunningServer(upstream); pid != 0) {
    ReportServer(prefix, pid);
    return ERROR_BUSY;
  }
  const std::optional<fs::path> base = ServerBase(prefix, true);
  if (!base || !MakePrivateDir(*base) || !MakePrivateDir(*base / server_dir)) {
    Diagnose(prefix.string() + ": cannot use the wineserver directory for this prefix");
    return ERROR_ACCESS_DENIED;
  }
  const fs::path lock_file = *base / server_dir / "lock";
  const int fd = ::open(lock_file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    Diagnose(lock_file.string() + ": " + std::strerror(errno));
    return ERROR_ACCESS_DENIED;
  }
  struct flock lock{};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
      Diagnose(lock_file.string() + ": cannot lock: " + std::strerror(errno));
      ::close(fd);
      return ERROR_LOCK_VIOLATION;
    }
    if (const pid_t pid = RunningServer(lock_file); pid != 0) {
      ReportServer(prefix, pid);
      ::close(fd);
      return ERROR_BUSY;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Diagnose(prefix.string() + ": the registry stayed locked by another program for 60 s");
      ::close(fd);
      return ERROR_LOCK_VIOLATION;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  *out = PrefixLock();
  out->fd_ = fd;
  return ERROR_SUCCESS;
}

HiveFile::HiveFile(fs::path file, std::u16string branch) : file_(std::move(file)), branch_(std::move(branch)) {}

void HiveFile::Invalidate() {
  hive_.reset();
  seen_.reset();
}

LONG HiveFile::Load(Hive** out, Arch fresh_arch) {
  // The identity comes from the descriptor that is read, so that it always
  // names the content parsed.
  const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st{};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (error != ENOENT) {
      Diagnose(file_.string() + ": " + std::strerror(error));
      return error == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
    }
    if (!hive_ || seen_) {
      hive_.emplace();
      hive_->branch = branch_;
      hive_->arch = fresh_arch;
      if (fresh_arch == Arch::kWin64) {
        // Where a 64-bit prefix keeps the 32-bit view of Software.
        hive_->root.AddSubkey(u"Software", CurrentFileTime()).AddSubkey(u"Wow6432Node", CurrentFileTime());
      }
      seen_.reset();
    }
    *out = &*hive_;
    return ERROR_SUCCESS;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (st.st_uid != ::getuid()) {
    Diagnose(file_.string() + " is not owned by you");
    return ERROR_ACCESS_DENIED;
  }
  const Identity now{st.st_dev, st.st_ino, st.st_size,
                     static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  if (hive_ && seen_ && *seen_ == now) {
    *out = &*hive_;
    return ERROR_SUCCESS;
  }
  // What a save killed on the way left beside the file (the caller holds
  // the prefix lock, so no save is at work).
  ::unlink(Sibling(file_, ".skelvin-tmp").c_str());
  ::unlink(Sibling(file_, ".skelvin-old").c_str());
  // A byte more than the file holds, so that the read that finds its end
  // needs no larger buffer.
  TextBuffer buffer(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t done = 0;
  for (;;) {
    if (done == buffer.capacity()) buffer.Grow(done + 65536);  // the file grew: read on
    const ssize_t n = ::read(fd, buffer.data() + done, buffer.capacity() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Diagnose(file_.string() + ": cannot read the file: " + std::strerror(errno));
      Invalidate();
      return ERROR_CANTREAD;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  ParseError error;
  char* const text = buffer.data();
  std::optional<Hive> parsed = Parse(buffer.Release(), std::string_view(text, done), &error);
  if (!parsed) {
    Diagnose(file_.string() + ":" + std::to_string(error.line) + ": " + error.message);
    Invalidate();
    return ERROR_BADDB;
  }
  hive_ = std::move(parsed);
  seen_ = now;
  *out = &*hive_;
  return ERROR_SUCCESS;
}

LONG HiveFile::Save() {
  if (!hive_) return ERROR_INVALID_PARAMETER;
  SavedText text;
  posix::Save(*hive_, &text);

  // A target that is a symbolic link is saved where it points.
  fs::path target = file_;
  std::error_code ec;
  if (fs::is_symlink(file_, ec)) target = fs::canonical(file_, ec);
  if (ec) target = file_;

  struct stat old{};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  const fs::path temp = Sibling(target, ".skelvin-tmp");
  const fs::path backup = Sibling(target, ".skelvin-old");
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();

  const auto fail = [&](int error, const char* step, int fd) {
    if (fd >= 0) Fs().close(fd);
    ::unlink(temp.c_str());
    Invalidate();
    Diagnose(file_.string() + ": cannot save the registry (" + step + "): " + std::strerror(error));
    return StatusFromErrno(error);
  };

  // A temporary file left by an interrupted save is ours to remove: the
  // caller holds the prefix lock.
  ::unlink(temp.c_str());
  const mode_t mode = existed ? (old.st_mode & 07777) : 0666;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 0777);
  if (fd < 0) return fail(errno, "create", -1);
  if (existed) {
    if (::fchmod(fd, mode) != 0) return fail(errno, "chmod", fd);
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
      return fail(errno, "chown", fd);
    }
  }
  // Large parts (the text kept from the file) go straight from where they
  // are; small ones are gathered first.
  constexpr std::size_t kGather = 64 * 1024;
  constexpr std::size_t kChunk = 1024 * 1024;
  const auto write_all = [&](std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = Fs().write(fd, data.data(), std::min(data.size(), kChunk));
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
  if (Fs().fsync(fd) != 0) return fail(errno, "flush", fd);
  struct stat written{};
  if (::fstat(fd, &written) != 0) return fail(errno, "stat", fd);
  if (Fs().close(fd) != 0) return fail(errno, "close", -1);
  // The old file keeps a second name until the directory is flushed, so
  // that a failed flush can put it back (without hard links: no way back).
  ::unlink(backup.c_str());
  const bool kept = existed && ::link(target.c_str(), backup.c_str()) == 0;
  if (Fs().rename(temp.c_str(), target.c_str()) != 0) {
    if (kept) ::unlink(backup.c_str());
    return fail(errno, "rename", -1);
  }
  // The rename is durable once the directory is flushed.
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool dir_synced = dir_fd >= 0 && Fs().fsync(dir_fd) == 0;
  const int dir_error = errno;
  if (dir_fd >= 0) ::close(dir_fd);
  if (!dir_synced) {
    if (kept) {
      Fs().rename(backup.c_str(), target.c_str());
    } else if (!existed) {
      ::unlink(target.c_str());
    }
    Invalidate();
    Diagnose(file_.string() + ": cannot flush the directory after saving: " + std::strerror(dir_error));
    return StatusFromErrno(dir_error);
  }
  if (kept) ::unlink(backup.c_str());
  seen_ = Identity{written.st_dev, written.st_ino, written.st_size,
                   static_cast<std::int64_t>(written.st_mtim.tv_sec) * 1000000000 + written.st_mtim.tv_nsec};
  return ERROR_SUCCESS;
}

}  // namespace plat::posix
