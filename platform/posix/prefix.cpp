#include "platform/posix/prefix.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

namespace plat::posix {
namespace fs = std::filesystem;

namespace {

constexpr auto kLockWait = std::chrono::seconds(60);

void Diagnose(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

FsOps& DefaultFs() {
  static FsOps ops{::write, ::fsync, ::rename, ::close};
  return ops;
}

LONG StatusFromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WRITE_FAULT;
  }
}

// A descriptor closed when it goes.
struct Fd {
  int fd = -1;
  explicit Fd(int value) : fd(value) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  int release() { return std::exchange(fd, -1); }
};

void StripTrailingSlashes(std::string& dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
}

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", value);
  return text;
}

// wineserver's name for a prefix's server directory.
std::string ServerDirName(const struct stat& prefix) {
  return "server-" + Hex(static_cast<unsigned long long>(prefix.st_dev)) + "-" +
         Hex(static_cast<unsigned long long>(prefix.st_ino));
}

// `name` in `dir`, joined as Debian's Wine joins them (an empty dir adds
// nothing, so TMPDIR="" means the working directory).
std::string JoinAsWine(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// $TMPDIR as Debian's Wine takes it: /tmp only when unset.
std::string TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr ? tmp : "/tmp";
}

// Where the server directory's parent is for this environment, as Debian's
// wineserver decides: /run/user/<uid>/wine when /run/user/<uid> exists, else
// the directory in $TMPDIR named by the prefix's `wineserver` file, which is
// made here as wineserver makes it when missing (so that a server started
// later uses the same lock). nullopt, and the cause in `why`, when it cannot
// be made.
std::optional<fs::path> ServerBase(const fs::path& prefix, std::string* why) {
  const std::string run_dir = "/run/user/" + std::to_string(::getuid());
  if (DIR* dir = ::opendir(run_dir.c_str())) {
    ::closedir(dir);
    return fs::path(run_dir) / "wine";
  }
  const std::string root = TempRoot();
  const fs::path pointer = prefix / "wineserver";
  const auto read_pointer = [&]() -> std::optional<fs::path> {
    struct stat st {};
    if (::stat(pointer.c_str(), &st) != 0 || (st.st_mode & 0777) != S_IRUSR || !S_ISREG(st.st_mode)) {
      return std::nullopt;
    }
    const Fd fd(::open(pointer.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    char name[4096];
    const ssize_t n = fd.fd >= 0 ? ::read(fd.fd, name, sizeof name) : -1;
    if (n <= 0) return std::nullopt;
    return fs::path(JoinAsWine(root, std::string(name, static_cast<std::size_t>(n))));
  };
  if (std::optional<fs::path> base = read_pointer()) return base;
  const auto failed = [&](const std::string& what, int error) -> std::optional<fs::path> {
    *why = what + ": " + std::strerror(error);
    return std::nullopt;
  };
  // wineserver replaces a pointer file whose mode is not 0400.
  struct stat st {};
  if (::lstat(pointer.c_str(), &st) == 0 && (st.st_mode & 0777) != S_IRUSR && ::unlink(pointer.c_str()) != 0) {
    return failed(pointer.string() + ": cannot replace the wineserver file", errno);
  }
  std::string dir = JoinAsWine(root, "wine-XXXXXX");
  if (::mkdtemp(dir.data()) == nullptr) return failed(dir + ": cannot create the wineserver directory", errno);
  const std::string name = fs::path(dir).filename().string();
  // Published with link(), which fails when another run got there first:
  // then its directory is the one to use. The draft has no name until then
  // (O_TMPFILE), so a run killed on the way leaves nothing in the prefix.
  int error = 0;
  bool published = false;
  bool drafted = false;
  if (const int anon = ::open(prefix.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, S_IRUSR); anon >= 0) {
    const std::string self = "/proc/self/fd/" + std::to_string(anon);
    if (::write(anon, name.data(), name.size()) != static_cast<ssize_t>(name.size())) {
      error = errno;
      drafted = true;
    } else if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, pointer.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      published = drafted = true;
    } else {
      error = errno;
      drafted = error != ENOENT;  // ENOENT: no /proc to name it by; a named draft
    }
    ::close(anon);
  }
  if (!drafted) {
    // A file system without unnamed files: a named draft, removed at once.
    const fs::path draft = prefix / (".wineserver-" + std::to_string(::getpid()));
    ::unlink(draft.c_str());
    const int fd = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR);
    if (fd < 0) {
      error = errno;
    } else {
      const bool written = ::write(fd, name.data(), name.size()) == static_cast<ssize_t>(name.size());
      error = written ? 0 : errno;
      ::close(fd);
      published = written && ::link(draft.c_str(), pointer.c_str()) == 0;
      if (written && !published) error = errno;
      ::unlink(draft.c_str());
    }
  }
  if (published) return fs::path(dir);
  ::rmdir(dir.c_str());
  if (std::optional<fs::path> base = read_pointer()) return base;
  return failed(pointer.string() + ": cannot create the wineserver file", error != 0 ? error : EIO);
}

// Creates a directory as wineserver does: 0700, and it must be the user's.
bool MakePrivateDir(const fs::path& dir, std::string* why) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    if ((::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) || ::lstat(dir.c_str(), &st) != 0) {
      *why = dir.string() + ": cannot create the wineserver directory: " + std::strerror(errno);
      return false;
    }
  }
  if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0) return true;
  *why = dir.string() + ": not a directory of yours closed to other users, as wineserver needs it";
  return false;
}

// The pid of a wineserver holding the lock file's byte 0, or 0.
pid_t RunningServer(const fs::path& lock_file) {
  const Fd fd(::open(lock_file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.fd < 0) return 0;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 1;
  // A classic lock reports its owner's pid; an open-file-description lock
  // (another native run) reports -1.
  if (::fcntl(fd.fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0) return probe.l_pid;
  return 0;
}

struct ServerScan {
  LONG status = ERROR_SUCCESS;
  pid_t pid = 0;
  std::size_t which = 0;  // the index of its server directory's name
  std::string tmpdir;     // the TMPDIR it was started with, when not this run's
};

// Looks through /proc for a process working in one of the server
// directories (wineserver lives in its own), and through the lock files of
// the places Wine may keep them. A server found is named by the pid that
// holds its lock when one does.
ServerScan FindServer(const std::vector<std::string>& server_dirs, const std::optional<fs::path>& own_base) {
  const std::string uid = std::to_string(::getuid());
  for (std::size_t i = 0; i < server_dirs.size(); ++i) {
    std::vector<fs::path> locks{fs::path("/tmp/.wine-" + uid) / server_dirs[i] / "lock",
                                fs::path("/run/user/" + uid) / "wine" / server_dirs[i] / "lock"};
    if (own_base) locks.push_back(*own_base / server_dirs[i] / "lock");
    for (const fs::path& lock : locks) {
      if (const pid_t pid = RunningServer(lock)) return {ERROR_SUCCESS, pid, i, {}};
    }
  }
  DIR* proc = ::opendir("/proc");
  struct stat self {};
  if (proc == nullptr || ::stat("/proc/self/cwd", &self) != 0) {
    if (proc != nullptr) ::closedir(proc);
    return {ERROR_LOCK_FAILED, 0, 0, {}};
  }
  ServerScan found;
  while (const dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (*name < '0' || *name > '9' || std::atoi(name) == ::getpid()) continue;
    const std::string base = std::string("/proc/") + name;
    char cwd[4096];
    const ssize_t n = ::readlink((base + "/cwd").c_str(), cwd, sizeof cwd - 1);
    if (n <= 0) continue;  // gone, or another user's
    std::string_view dir(cwd, static_cast<std::size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (dir.size() > kDeleted.size() && dir.substr(dir.size() - kDeleted.size()) == kDeleted) {
      dir.remove_suffix(kDeleted.size());
    }
    const auto it = std::find(server_dirs.begin(), server_dirs.end(), dir.substr(dir.rfind('/') + 1));
    if (it == server_dirs.end()) continue;
    found.pid = static_cast<pid_t>(std::atoi(name));
    found.which = static_cast<std::size_t>(it - server_dirs.begin());
    if (const pid_t holder = RunningServer(base + "/cwd/lock")) found.pid = holder;
    // <TMPDIR>/wine-XXXXXX/server-*: a server of another TMPDIR is stopped
    // with that one.
    const fs::path parent = fs::path(dir).parent_path();
    if (parent.filename().string().rfind("wine-", 0) == 0 && parent.parent_path() != fs::path(TempRoot())) {
      found.tmpdir = parent.parent_path().string();
    }
    break;
  }
  ::closedir(proc);
  return found;
}

// `dirs` are the guarded directories, in the order of the scan's names.
LONG ReportScan(const fs::path& prefix, const std::vector<fs::path>& dirs, const ServerScan& scan) {
  if (scan.status == ERROR_LOCK_FAILED) {
    Diagnose(prefix.string() +
             ": cannot tell whether a wineserver is running for this prefix: /proc is not mounted (a running "
             "wineserver would overwrite the registry when it exits)");
    return ERROR_LOCK_FAILED;
  }
  if (scan.pid == 0) return ERROR_SUCCESS;
  const fs::path& owner = scan.which < dirs.size() ? dirs[scan.which] : prefix;
  const std::string tmpdir = scan.tmpdir.empty() ? "" : "TMPDIR=" + scan.tmpdir + " ";
  Diagnose(prefix.string() + ": a wineserver (pid " + std::to_string(scan.pid) + ") is running for " +
           (owner == prefix ? "this prefix" : owner.string() + ", where a registry file of this prefix is,") +
           " and would overwrite the registry when it exits; stop it with `" + tmpdir + "WINEPREFIX=" + owner.string() +
           " wineserver -k` and try again");
  return ERROR_BUSY;
}

// The `#arch` of a registry file's header (before its first key), or nullopt.
std::optional<Arch> HeaderArch(const fs::path& file) {
  const Fd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  char text[8192];
  const ssize_t n = ::read(fd.fd, text, sizeof text);
  if (n <= 0) return std::nullopt;
  std::string_view rest(text, static_cast<std::size_t>(n));
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (!line.empty() && line.front() == '[') break;
    if (line == "#arch=win32") return Arch::kWin32;
    if (line == "#arch=win64") return Arch::kWin64;
  }
  return std::nullopt;
}

const char* ArchName(Arch arch) { return arch == Arch::kWin64 ? "win64" : "win32"; }

// WINEARCH: nullopt when unset; ERROR_BAD_ENVIRONMENT for anything but
// win32 or win64.
LONG WineArch(std::optional<Arch>* out) {
  const char* arch = std::getenv("WINEARCH");
  if (arch == nullptr) {
    out->reset();
  } else if (std::strcmp(arch, "win32") == 0) {
    *out = Arch::kWin32;
  } else if (std::strcmp(arch, "win64") == 0) {
    *out = Arch::kWin64;
  } else {
    Diagnose("WINEARCH=" + Quoted(arch) + ": must be win32 or win64");
    return ERROR_BAD_ENVIRONMENT;
  }
  return ERROR_SUCCESS;
}

LONG ArchConflict(const fs::path& prefix, Arch held, Arch wanted) {
  Diagnose(prefix.string() + " is a " + (held == Arch::kWin64 ? "64" : "32") + "-bit prefix, but WINEARCH=" +
           ArchName(wanted) + " asks for a " + (wanted == Arch::kWin64 ? "64" : "32") + "-bit one");
  return ERROR_BAD_ENVIRONMENT;
}

bool IsDirectory(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
    auto text = std::make_shared<std::string>(capacity, '\0');
    data_ = text->data();
    capacity_ = text->size();
    owner_ = std::move(text);
  }
  char* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }
  std::shared_ptr<const void> Release() { return std::move(owner_); }

 private:
  std::shared_ptr<void> owner_;
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// A fresh name of the pattern a save uses beside `file`:
// ".<name>.skelvin-XXXXXX". Empty when no randomness is to be had.
std::string TempName(const fs::path& file) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6];
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return {};
  std::string name = (file.parent_path() / ("." + file.filename().string() + ".skelvin-")).string();
  for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
  return name;
}

// A new file of that pattern, created exclusively (never through a link);
// `out` gets its name. -1 and errno on failure.
int CreateTemp(const fs::path& file, std::string* out) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = TempName(file);
    if (name.empty()) return -1;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) {
      if (fd >= 0) *out = std::move(name);
      return fd;
    }
  }
  errno = EEXIST;
  return -1;
}

// Marks a file as in use by this run for as long as `fd` stays open.
void MarkOwned(int fd) {
  struct flock lock {};
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
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      ::unlink(path.c_str());  // never one of ours: saves make regular files
      continue;
    }
    const Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd.fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_UNLCK) ::unlink(path.c_str());
  }
  ::closedir(listing);
}

std::optional<fs::path> Resolved(const fs::path& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return std::nullopt;
  return fs::path(buffer);
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

// Wine's choice of prefix; on failure the reason, for a diagnostic.
std::optional<fs::path> WinePrefix(std::string* why) {
  std::string dir;
  if (const char* prefix = std::getenv("WINEPREFIX")) {
    if (prefix[0] != '/') {
      *why = "WINEPREFIX=" + Quoted(prefix) + ": not an absolute path; Wine refuses such a prefix";
      return std::nullopt;
    }
    dir = prefix;
  } else {
    std::string home;
    if (const char* env = std::getenv("HOME")) {
      home = env;
    } else {
      std::vector<char> buffer(16384);
      struct passwd entry {};
      struct passwd* found = nullptr;
      if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
          found->pw_dir == nullptr) {
        *why = "cannot find your home directory: HOME is unset and user " + std::to_string(::getuid()) +
               " has no passwd entry; set WINEPREFIX";
        return std::nullopt;
      }
      home = found->pw_dir;
    }
    if (home.empty() || home[0] != '/') {
      *why = "the home directory " + Quoted(home) + " is not an absolute path; set WINEPREFIX";
      return std::nullopt;
    }
    StripTrailingSlashes(home);
    dir = (home == "/" ? "" : home) + "/.wine";
  }
  StripTrailingSlashes(dir);
  return fs::path(dir);
}

}  // namespace

LONG FindPrefix(fs::path* out) {
  std::string why;
  std::optional<fs::path> prefix = WinePrefix(&why);
  if (!prefix) {
    Diagnose(why);
    return ERROR_BAD_PATHNAME;
  }
  *out = std::move(*prefix);
  return ERROR_SUCCESS;
}

fs::path DefaultPrefix() {
  std::string why;
  return WinePrefix(&why).value_or(fs::path());
}

LONG PrefixArch(const fs::path& prefix, Arch* out) {
  std::optional<Arch> wanted;
  if (const LONG status = WineArch(&wanted); status != ERROR_SUCCESS) return status;
  struct stat st {};
  if (::lstat((prefix / "system.reg").c_str(), &st) == 0) {
    *out = wanted.value_or(Arch::kWin32);
    return ERROR_SUCCESS;
  }
  const std::optional<Arch> user = HeaderArch(prefix / "user.reg");
  const std::optional<Arch> defaults = HeaderArch(prefix / "userdef.reg");
  if (user && defaults && *user != *defaults) {
    Diagnose(prefix.string() + ": user.reg says #arch=" + ArchName(*user) +
             " but userdef.reg says #arch=" + ArchName(*defaults) + "; the prefix is damaged");
    return ERROR_BAD_ENVIRONMENT;
  }
  std::optional<Arch> held = user ? user : defaults;
  if (!held && IsDirectory(prefix / "drive_c/windows/syswow64")) held = Arch::kWin64;
  if (!held && IsDirectory(prefix / "drive_c/windows/system32")) held = Arch::kWin32;
  if (held && wanted && *held != *wanted) return ArchConflict(prefix, *held, *wanted);
  *out = held ? *held : wanted.value_or(Arch::kWin32);
  return ERROR_SUCCESS;
}

LONG CheckWineArch(const fs::path& prefix, Arch system_arch) {
  std::optional<Arch> wanted;
  if (const LONG status = WineArch(&wanted); status != ERROR_SUCCESS) return status;
  const Arch held = system_arch == Arch::kWin64 ? Arch::kWin64 : Arch::kWin32;
  if (wanted && *wanted != held) return ArchConflict(prefix, held, *wanted);
  return ERROR_SUCCESS;
}

FsOps& Fs() { return DefaultFs(); }

LONG EnsurePrefixDirectory(const fs::path& prefix) {
  if (::mkdir(prefix.c_str(), 0777) == 0 || errno == EEXIST) return ERROR_SUCCESS;
  const int error = errno;
  Diagnose(prefix.string() + ": cannot create the prefix directory: " + std::strerror(error));
  return StatusFromErrno(error);
}

PrefixLock::PrefixLock(PrefixLock&& other) noexcept
    : fds_(std::move(other.fds_)),
      dirs_(std::move(other.dirs_)),
      server_dirs_(std::move(other.server_dirs_)),
      prefix_(std::move(other.prefix_)) {
  other.fds_.clear();
}
PrefixLock& PrefixLock::operator=(PrefixLock&& other) noexcept {
  if (this != &other) {
    for (const int fd : fds_) ::close(fd);
    fds_ = std::move(other.fds_);
    other.fds_.clear();
    dirs_ = std::move(other.dirs_);
    server_dirs_ = std::move(other.server_dirs_);
    prefix_ = std::move(other.prefix_);
  }
  return *this;
}
PrefixLock::~PrefixLock() {
  for (const int fd : fds_) ::close(fd);  // closing a description releases its locks
}

LONG PrefixLock::Acquire(const fs::path& prefix, PrefixLock* out) {
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0) {
    const int error = errno;
    if (error == ENOENT) return ERROR_SUCCESS;
    Diagnose(prefix.string() + ": cannot use the prefix: " + std::strerror(error));
    return error == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
  }
  if (!S_ISDIR(st.st_mode)) {
    Diagnose(prefix.string() + ": the prefix is not a directory");
    return ERROR_PATH_NOT_FOUND;
  }
  if (st.st_uid != ::getuid()) {
    Diagnose(prefix.string() + " is not owned by you");
    return ERROR_ACCESS_DENIED;
  }
  PrefixLock lock;
  lock.prefix_ = prefix;

  // The prefix, and the directory of each registry file that is a link out
  // of it: a wineserver of that other prefix would save the file too.
  std::vector<std::pair<fs::path, struct stat>> dirs{{prefix, st}};
  for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
    const std::optional<fs::path> target = Resolved(prefix / name);
    struct stat dir_st {};
    if (!target || ::stat(target->parent_path().c_str(), &dir_st) != 0) continue;
    const bool known = std::any_of(dirs.begin(), dirs.end(), [&](const auto& d) {
      return d.second.st_dev == dir_st.st_dev && d.second.st_ino == dir_st.st_ino;
    });
    if (!known) dirs.emplace_back(target->parent_path(), dir_st);
  }
  // One order for every run, so that two never wait for each other.
  std::sort(dirs.begin(), dirs.end(), [](const auto& a, const auto& b) {
    return std::pair(a.second.st_dev, a.second.st_ino) < std::pair(b.second.st_dev, b.second.st_ino);
  });
  for (const auto& [dir, dir_st] : dirs) {
    lock.dirs_.push_back(dir);
    lock.server_dirs_.push_back(ServerDirName(dir_st));
  }

  std::string why;
  const std::optional<fs::path> base = ServerBase(prefix, &why);
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (const auto& entry : dirs) {
    const fs::path& dir = entry.first;  // a plain reference: the lambda below captures it
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      Diagnose(dir.string() + ": cannot open the directory to lock it: " + std::strerror(errno));
      return StatusFromErrno(errno);
    }
    lock.fds_.push_back(fd);
    // File systems that lock no directory (NFS emulates flock with byte
    // locks, which need a file open for writing) use a lock file in it.
    int held = fd;
    const auto try_lock = [&] {
      if (held == fd) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        if (errno == EWOULDBLOCK || errno == EINTR) return EWOULDBLOCK;
        held = ::open((dir / ".skelvin.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (held < 0) return errno;
        lock.fds_.push_back(held);
      }
      struct flock whole {};
      whole.l_type = F_WRLCK;
      whole.l_whence = SEEK_SET;
      if (::fcntl(held, F_OFD_SETLK, &whole) == 0) return 0;
      return errno == EAGAIN || errno == EACCES || errno == EINTR ? EWOULDBLOCK : errno;
    };
    auto pause = std::chrono::milliseconds(1);
    auto next_scan = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    for (int error = try_lock(); error != 0; error = try_lock()) {
      if (error != EWOULDBLOCK) {
        Diagnose(dir.string() + ": cannot lock the directory: " + std::strerror(error));
        return ERROR_LOCK_VIOLATION;
      }
      // While another run works, a wineserver may have started: say so soon.
      if (const auto now = std::chrono::steady_clock::now(); now >= next_scan) {
        next_scan = now + std::chrono::milliseconds(200);
        if (const LONG status = ReportScan(prefix, lock.dirs_, FindServer(lock.server_dirs_, base));
            status != ERROR_SUCCESS) {
          return status;
        }
      }
      if (std::chrono::steady_clock::now() > deadline) {
        Diagnose(prefix.string() + ": the registry stayed locked by another program for 60 s");
        return ERROR_LOCK_VIOLATION;
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
  }
  if (const LONG status = ReportScan(prefix, lock.dirs_, FindServer(lock.server_dirs_, base));
      status != ERROR_SUCCESS) {
    return status;
  }

  // wineserver's own lock, where a server started in this environment takes
  // it: without it, such a server could start meanwhile.
  const std::string own = ServerDirName(st);
  if (!base || !MakePrivateDir(*base, &why) || !MakePrivateDir(*base / own, &why)) {
    Diagnose(prefix.string() + ": cannot set up the wineserver lock for this prefix: " + why);
    return ERROR_ACCESS_DENIED;
  }
  {
    const fs::path lock_file = *base / own / "lock";
    const int fd = ::open(lock_file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      Diagnose(lock_file.string() + ": " + std::strerror(errno));
      return ERROR_ACCESS_DENIED;
    }
    lock.fds_.push_back(fd);
    struct flock server {};
    server.l_type = F_WRLCK;
    server.l_whence = SEEK_SET;
    server.l_start = 0;
    server.l_len = 1;
    while (::fcntl(fd, F_OFD_SETLK, &server) != 0) {
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
        Diagnose(lock_file.string() + ": cannot lock: " + std::strerror(errno));
        return ERROR_LOCK_VIOLATION;
      }
      if (const pid_t pid = RunningServer(lock_file); pid != 0)
        return ReportScan(prefix, {}, {ERROR_SUCCESS, pid, 0, {}});
      if (std::chrono::steady_clock::now() > deadline) {
        Diagnose(prefix.string() + ": the registry stayed locked by another program for 60 s");
        return ERROR_LOCK_VIOLATION;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  *out = std::move(lock);
  return ERROR_SUCCESS;
}

LONG PrefixLock::Recheck() const {
  if (!held()) return ERROR_SUCCESS;
  return ReportScan(prefix_, dirs_, FindServer(server_dirs_, std::nullopt));
}

HiveFile::HiveFile(fs::path file, std::u16string branch) : file_(std::move(file)), branch_(std::move(branch)) {}

void HiveFile::Invalidate() {
  hive_.reset();
  seen_.reset();
}

LONG HiveFile::Load(Hive** out, Arch fresh_arch) {
  // Non-blocking, so that a FIFO cannot hold the open; the identity comes
  // from the descriptor that is read, so that it always names the content
  // parsed.
  const int fd = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    if (error != ENOENT) {
      Diagnose(file_.string() + ": cannot open the registry file: " + std::strerror(error));
      return error == EACCES ? ERROR_ACCESS_DENIED : ERROR_CANTREAD;
    }
    if (!hive_ || seen_) {
      hive_.emplace();
      hive_->branch = branch_;
      hive_->arch = fresh_arch;
      if (fresh_arch == Arch::kWin64 && branch_ == u"REGISTRY\\Machine") {
        // Where a 64-bit prefix keeps the 32-bit view of Software.
        hive_->root.AddSubkey(u"Software", CurrentFileTime()).AddSubkey(u"Wow6432Node", CurrentFileTime());
      }
      seen_.reset();
    }
    *out = &*hive_;
    return ERROR_SUCCESS;
  }
  const Fd closer(fd);
  if (!S_ISREG(st.st_mode)) {
    Diagnose(file_.string() + ": not a regular file; a registry file must be one");
    Invalidate();
    return ERROR_BADDB;
  }
  if (st.st_size > kMaxSize) {
    Diagnose(file_.string() + ": " + std::to_string(st.st_size) + " bytes, too large for a registry file (at most " +
             std::to_string(kMaxSize) + ")");
    Invalidate();
    return ERROR_BADDB;
  }
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
  // What saves killed on the way left (the caller holds the prefix lock).
  RemoveLeftovers(SaveTarget(file_));
  const auto size = static_cast<std::size_t>(st.st_size);
  TextBuffer buffer(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, buffer.data() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Diagnose(file_.string() + ": cannot read the registry file: " + std::strerror(errno));
      Invalidate();
      return ERROR_CANTREAD;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  char probe = 0;
  if (done != size || ::read(fd, &probe, 1) != 0) {
    Diagnose(file_.string() + ": the registry file changed while it was read (another program is writing it)");
    Invalidate();
    return ERROR_CANTREAD;
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

LONG HiveFile::Save(const PrefixLock* lock) {
  if (!hive_) return ERROR_INVALID_PARAMETER;
  SavedText text;
  posix::Save(*hive_, &text);

  const fs::path target = SaveTarget(file_);

  struct stat old {};
  const bool existed = ::stat(target.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) {
    Invalidate();
    Diagnose(file_.string() + ": not a regular file; a registry file must be one");
    return ERROR_BADDB;
  }
  const fs::path dir = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::string temp;
  std::string backup;

  const auto fail = [&](int error, const char* step, int fd) {
    if (fd >= 0) Fs().close(fd);
    if (!temp.empty()) ::unlink(temp.c_str());
    if (!backup.empty()) ::unlink(backup.c_str());
    Invalidate();
    Diagnose(file_.string() + ": cannot save the registry (" + step + "): " + std::strerror(error));
    return StatusFromErrno(error);
  };

  // What saves killed on the way left (the caller holds the prefix lock).
  RemoveLeftovers(target);
  // A file of its own, marked as this run's while it is open (where the
  // file system has such locks) so that no other run takes it for a leftover.
  const int fd = CreateTemp(target, &temp);
  if (fd < 0) return fail(errno, "create", -1);
  MarkOwned(fd);
  const mode_t mode = existed ? (old.st_mode & 07777) : (0666 & ~[] {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
  }());
  if (::fchmod(fd, mode) != 0) return fail(errno, "chmod", fd);
  if (existed && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    return fail(errno, "chown", fd);
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
  struct stat written {};
  if (::fstat(fd, &written) != 0) return fail(errno, "stat", fd);
  // Open (and marked) until just before the rename.
  Fd temp_fd(fd);

  // The old file keeps a second name until the directory is flushed, so
  // that a failed flush can put it back (without hard links: no way back).
  if (existed) {
    for (int attempt = 0; attempt < 100 && backup.empty(); ++attempt) {
      std::string name = TempName(target);
      if (name.empty()) break;
      if (::link(target.c_str(), name.c_str()) == 0) {
        backup = std::move(name);
      } else if (errno != EEXIST) {
        break;
      }
    }
  }
  if (lock != nullptr) {
    if (const LONG status = lock->Recheck(); status != ERROR_SUCCESS) {
      ::unlink(temp.c_str());
      if (!backup.empty()) ::unlink(backup.c_str());
      Invalidate();
      return status;
    }
  }
  if (Fs().close(temp_fd.release()) != 0) return fail(errno, "close", -1);
  if (Fs().rename(temp.c_str(), target.c_str()) != 0) return fail(errno, "rename", -1);
  temp.clear();
  // The rename is durable once the directory is flushed.
  const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool dir_synced = dir_fd >= 0 && Fs().fsync(dir_fd) == 0;
  const int dir_error = errno;
  if (dir_fd >= 0) ::close(dir_fd);
  if (!dir_synced) {
    if (!backup.empty()) {
      Fs().rename(backup.c_str(), target.c_str());
    } else if (!existed) {
      ::unlink(target.c_str());
    }
    Invalidate();
    Diagnose(file_.string() + ": cannot flush the directory after saving: " + std::strerror(dir_error));
    return StatusFromErrno(dir_error);
  }
  if (!backup.empty()) ::unlink(backup.c_str());
  seen_ = Identity{written.st_dev, written.st_ino, written.st_size,
                   static_cast<std::int64_t>(written.st_mtim.tv_sec) * 1000000000 + written.st_mtim.tv_nsec};
  return ERROR_SUCCESS;
}

}  // namespace plat::posix
