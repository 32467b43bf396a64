// The prefix lock: directory locks, wineserver's own lock, and the search
// for a wineserver running for the prefix.
#include "wineprefix/lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace wineprefix {
namespace fs = std::filesystem;

namespace {

constexpr auto kLockWait = std::chrono::seconds(60);

std::atomic<std::uint64_t> scans{0};

using internal::Resolved;

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
    struct stat st = {};
    if (::stat(pointer.c_str(), &st) != 0 || (st.st_mode & 0777) != S_IRUSR || !S_ISREG(st.st_mode)) {
      return std::nullopt;
    }
    const internal::Fd fd(::open(pointer.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    char name[4096];
    const ssize_t n = fd.get() >= 0 ? ::read(fd.get(), name, sizeof name) : -1;
    if (n <= 0) return std::nullopt;
    return fs::path(JoinAsWine(root, std::string(name, static_cast<std::size_t>(n))));
  };
  if (std::optional<fs::path> base = read_pointer()) return base;
  const auto failed = [&](const std::string& what, int error) -> std::optional<fs::path> {
    *why = what + ": " + std::strerror(error);
    return std::nullopt;
  };
  // wineserver replaces a pointer file whose mode is not 0400.
  struct stat st = {};
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

// Upstream Wine's parent of the server directories: always in /tmp, whatever
// TMPDIR says.
fs::path UpstreamBase() { return fs::path("/tmp/.wine-" + std::to_string(::getuid())); }

// Creates a directory as wineserver does: 0700, and it must be the user's.
// One path whether or not it is there (mkdir, then a look at what is), so a
// run makes the same calls either way.
bool MakePrivateDir(const fs::path& dir, std::string* why) {
  struct stat st = {};
  if ((::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) || ::lstat(dir.c_str(), &st) != 0) {
    *why = dir.string() + ": cannot create the wineserver directory: " + std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0) return true;
  *why = dir.string() + ": not a directory of yours closed to other users, as wineserver needs it";
  return false;
}

// The pid of a wineserver holding the lock file's byte 0, or 0.
pid_t RunningServer(const fs::path& lock_file) {
  const internal::Fd fd(::open(lock_file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return 0;
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 1;
  // A classic lock reports its owner's pid; an open-file-description lock
  // (another native run) reports -1.
  if (::fcntl(fd.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK && probe.l_pid > 0) return probe.l_pid;
  return 0;
}

struct ServerScan {
  LONG status = ERROR_SUCCESS;
  pid_t pid = 0;
  std::size_t which = 0;  // the index of its server directory's name
};

// Looks through /proc for a process working in one of the server
// directories (wineserver lives in its own), and through the lock files of
// the places Wine may keep them. A server found is named by the pid that
// holds its lock when one does.
ServerScan FindServer(const std::vector<std::string>& server_dirs, const std::optional<fs::path>& own_base) {
  scans.fetch_add(1, std::memory_order_relaxed);
  const std::string uid = std::to_string(::getuid());
  for (std::size_t i = 0; i < server_dirs.size(); ++i) {
    std::vector<fs::path> locks{UpstreamBase() / server_dirs[i] / "lock",
                                fs::path("/run/user/" + uid) / "wine" / server_dirs[i] / "lock"};
    if (own_base) locks.push_back(*own_base / server_dirs[i] / "lock");
    for (const fs::path& lock : locks) {
      if (const pid_t pid = RunningServer(lock)) return {ERROR_SUCCESS, pid, i};
    }
  }
  DIR* proc = ::opendir("/proc");
  struct stat self = {};
  if (proc == nullptr || ::stat("/proc/self/cwd", &self) != 0) {
    if (proc != nullptr) ::closedir(proc);
    return {ERROR_LOCK_FAILED, 0, 0};
  }
  // Per entry, one readlink and no allocation; only a match costs more.
  char own[24];
  std::snprintf(own, sizeof own, "%ld", static_cast<long>(::getpid()));
  constexpr std::string_view kServer = "server-";
  constexpr std::string_view kDeleted = " (deleted)";
  ServerScan found;
  char link[48];
  while (const dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (*name < '0' || *name > '9' || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN)) continue;
    if (std::strlen(name) > 20 || std::strcmp(name, own) == 0) continue;
    std::snprintf(link, sizeof link, "/proc/%s/cwd", name);
    char cwd[4096];
    const ssize_t n = ::readlink(link, cwd, sizeof cwd - 1);
    if (n <= 0) continue;  // gone, or another user's
    std::string_view dir(cwd, static_cast<std::size_t>(n));
    if (dir.size() > kDeleted.size() && dir.substr(dir.size() - kDeleted.size()) == kDeleted) {
      dir.remove_suffix(kDeleted.size());
    }
    const std::string_view last = dir.substr(dir.rfind('/') + 1);
    if (last.substr(0, kServer.size()) != kServer) continue;
    const auto it = std::find(server_dirs.begin(), server_dirs.end(), last);
    if (it == server_dirs.end()) continue;
    found.pid = static_cast<pid_t>(std::strtol(name, nullptr, 10));
    found.which = static_cast<std::size_t>(it - server_dirs.begin());
    if (const pid_t holder = RunningServer(std::string(link) + "/lock")) found.pid = holder;
    break;
  }
  ::closedir(proc);
  return found;
}

// `dirs` are the guarded directories, in the order of the scan's names.
Status ReportScan(const fs::path& prefix, const std::vector<fs::path>& dirs, const ServerScan& scan) {
  if (scan.status == ERROR_LOCK_FAILED) {
    return Failure(ERROR_LOCK_FAILED,
                   prefix.string() +
                       ": cannot tell whether a wineserver is running for this prefix: /proc is not mounted (a running "
                       "wineserver would overwrite the registry when it exits)");
  }
  if (scan.pid == 0) return Success();
  const fs::path& owner = scan.which < dirs.size() ? dirs[scan.which] : prefix;
  // SIGINT makes wineserver end the prefix's programs, save the registry and
  // exit, as `wineserver -k` does; that one needs the server's own TMPDIR,
  // and Debian's Wine 10 aborts in it whenever TMPDIR is set.
  const std::string pid = std::to_string(scan.pid);
  return Failure(ERROR_BUSY,
                 prefix.string() + ": a wineserver (pid " + pid + ") is running for " +
                     (owner == prefix ? "this prefix" : owner.string() + ", where a registry file of this prefix is,") +
                     " and would overwrite the registry when it exits; stop it with `kill -INT " + pid +
                     "` (it ends the prefix's programs, saves the registry and exits) and try again");
}

// Takes wineserver's lock of `base`/`name` (byte 0 of its `lock`) as an
// open-file-description lock, its directories made as wineserver makes
// them, waiting for another run until `deadline`. The lock is added to `fds`;
// a file already held there is not locked again, since two locks of one
// process on it would exclude each other. ERROR_BUSY when a wineserver holds
// it.
Status HoldServerLock(const fs::path& prefix, const fs::path& base, const std::string& name,
                      std::chrono::steady_clock::time_point deadline, std::vector<internal::Fd>* fds) {
  std::string why;
  if (!MakePrivateDir(base, &why) || !MakePrivateDir(base / name, &why)) {
    return Failure(ERROR_ACCESS_DENIED,
                   prefix.string() + ": cannot set up the wineserver lock for this prefix: " + why);
  }
  const fs::path lock_file = base / name / "lock";
  internal::Fd fd(::open(lock_file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  struct stat st = {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    return Failure(ERROR_ACCESS_DENIED, lock_file.string() + ": " + std::strerror(errno));
  }
  for (const internal::Fd& held : *fds) {
    struct stat held_st = {};
    if (::fstat(held.get(), &held_st) == 0 && held_st.st_dev == st.st_dev && held_st.st_ino == st.st_ino) {
      return Success();
    }
  }
  struct flock server = {};
  server.l_type = F_WRLCK;
  server.l_whence = SEEK_SET;
  server.l_start = 0;
  server.l_len = 1;
  while (::fcntl(fd.get(), F_OFD_SETLK, &server) != 0) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
      return Failure(ERROR_LOCK_VIOLATION, lock_file.string() + ": cannot lock: " + std::strerror(errno));
    }
    if (const pid_t pid = RunningServer(lock_file); pid != 0) return ReportScan(prefix, {}, {ERROR_SUCCESS, pid, 0});
    if (std::chrono::steady_clock::now() > deadline) {
      return Failure(ERROR_LOCK_VIOLATION,
                     prefix.string() + ": the registry stayed locked by another program for 60 s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  fds->push_back(std::move(fd));
  return Success();
}

}  // namespace

Status PrefixLock::Acquire(const fs::path& prefix, PrefixLock* out) {
  struct stat st = {};
  if (::stat(prefix.c_str(), &st) != 0) {
    const int error = errno;
    if (error == ENOENT) return Success();
    return Failure(StatusFromErrno(error, ErrnoUse::kUsePrefix),
                   prefix.string() + ": cannot use the prefix: " + std::strerror(error));
  }
  if (!S_ISDIR(st.st_mode)) {
    return Failure(ERROR_PATH_NOT_FOUND, prefix.string() + ": the prefix is not a directory");
  }
  if (st.st_uid != ::getuid()) {
    return Failure(ERROR_ACCESS_DENIED, prefix.string() + " is not owned by you");
  }
  PrefixLock lock;
  lock.prefix_ = prefix;

  // The prefix, and the directory of each registry file that is a link out
  // of it: a wineserver of that other prefix would save the file too.
  std::vector<std::pair<fs::path, struct stat>> dirs{{prefix, st}};
  for (const char* name : {"system.reg", "user.reg", "userdef.reg"}) {
    // A file that is no link lies in the prefix itself.
    struct stat link_st = {};
    if (::lstat((prefix / name).c_str(), &link_st) != 0 || !S_ISLNK(link_st.st_mode)) continue;
    const std::optional<fs::path> target = Resolved(prefix / name);
    struct stat dir_st = {};
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
      const int error = errno;
      return Failure(StatusFromErrno(error, ErrnoUse::kSave),
                     dir.string() + ": cannot open the directory to lock it: " + std::strerror(error));
    }
    lock.fds_.emplace_back(fd);
    // File systems that lock no directory (NFS emulates flock with byte
    // locks, which need a file open for writing) use a lock file in it.
    int held = fd;
    const auto try_lock = [&] {
      if (held == fd) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        if (errno == EWOULDBLOCK || errno == EINTR) return EWOULDBLOCK;
        held = ::open((dir / ".skelvin.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (held < 0) return errno;
        lock.fds_.emplace_back(held);
      }
      struct flock whole = {};
      whole.l_type = F_WRLCK;
      whole.l_whence = SEEK_SET;
      if (::fcntl(held, F_OFD_SETLK, &whole) == 0) return 0;
      return errno == EAGAIN || errno == EACCES || errno == EINTR ? EWOULDBLOCK : errno;
    };
    auto pause = std::chrono::milliseconds(1);
    auto next_scan = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    for (int error = try_lock(); error != 0; error = try_lock()) {
      if (error != EWOULDBLOCK) {
        return Failure(ERROR_LOCK_VIOLATION, dir.string() + ": cannot lock the directory: " + std::strerror(error));
      }
      // While another run works, a wineserver may have started: say so soon.
      if (const auto now = std::chrono::steady_clock::now(); now >= next_scan) {
        next_scan = now + std::chrono::milliseconds(200);
        if (Status status = ReportScan(prefix, lock.dirs_, FindServer(lock.server_dirs_, base)); !status.ok()) {
          return status;
        }
      }
      if (std::chrono::steady_clock::now() > deadline) {
        return Failure(ERROR_LOCK_VIOLATION,
                       prefix.string() + ": the registry stayed locked by another program for 60 s");
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
  }
  if (Status status = ReportScan(prefix, lock.dirs_, FindServer(lock.server_dirs_, base)); !status.ok()) {
    return status;
  }

  // wineserver's own lock, in the server directory this environment
  // designates and in upstream Wine's: without them, a server of either
  // layout could start meanwhile.
  if (!base) {
    return Failure(ERROR_ACCESS_DENIED,
                   prefix.string() + ": cannot set up the wineserver lock for this prefix: " + why);
  }
  const std::string own = ServerDirName(st);
  for (const fs::path& server_base : {*base, UpstreamBase()}) {
    if (Status status = HoldServerLock(prefix, server_base, own, deadline, &lock.fds_); !status.ok()) return status;
  }
  *out = std::move(lock);
  return Success();
}

std::uint64_t PrefixLock::Scans() { return scans.load(std::memory_order_relaxed); }

Status PrefixLock::Recheck() const {
  if (!held()) return Success();
  return ReportScan(prefix_, dirs_, FindServer(server_dirs_, std::nullopt));
}

}  // namespace wineprefix
