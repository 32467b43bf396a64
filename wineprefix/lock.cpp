// The prefix lock: directory locks and wineserver's own lock, taken when no
// wineserver runs for the prefix.
#include "wineprefix/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "wineprefix/internal/fd.h"
#include "wineprefix/servers.h"

namespace wineprefix {
namespace fs = std::filesystem;

using vocab::ERROR_ACCESS_DENIED;
using vocab::ERROR_LOCK_VIOLATION;
using vocab::ERROR_PATH_NOT_FOUND;
using vocab::ERROR_SUCCESS;

namespace {

constexpr auto kLockWait = std::chrono::seconds(60);

using internal::Resolved;

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

// Takes wineserver's lock of `base`/`name` (byte 0 of its `lock`) as an
// open-file-description lock, its directories made as wineserver makes
// them, waiting for another run until `deadline`. The lock is added to `fds`;
// a file already held there is not locked again, since two locks of one
// process on it would exclude each other. ERROR_BUSY when a wineserver holds
// it, its pid in `*holder`.
Status HoldServerLock(const fs::path& prefix, const fs::path& base, const std::string& name,
                      std::chrono::steady_clock::time_point deadline, std::vector<internal::Fd>* fds, pid_t* holder) {
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
    if (const pid_t pid = RunningServer(lock_file); pid != 0) {
      if (holder != nullptr) *holder = pid;
      return ReportScan(prefix, {}, {ERROR_SUCCESS, pid, 0});
    }
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

PrefixLock::PrefixLock() = default;
PrefixLock::PrefixLock(PrefixLock&& other) noexcept = default;
PrefixLock& PrefixLock::operator=(PrefixLock&& other) noexcept = default;
PrefixLock::~PrefixLock() = default;

bool PrefixLock::held() const { return !fds_.empty(); }

Status PrefixLock::Acquire(const fs::path& prefix, PrefixLock* out, pid_t* server) {
  if (server != nullptr) *server = 0;
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
  // The scan's refusal, and the server named when it is the prefix's own.
  const auto report = [&](const ServerScan& scan) {
    Status status = ReportScan(prefix, lock.dirs_, scan);
    if (!status.ok() && server != nullptr && scan.pid != 0 && scan.which < lock.dirs_.size() &&
        lock.dirs_[scan.which] == prefix) {
      *server = scan.pid;
    }
    return status;
  };
  const auto deadline = std::chrono::steady_clock::now() + kLockWait;
  for (const auto& entry : dirs) {
    const fs::path& dir = entry.first;  // a plain reference: the lambda below captures it
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      const int error = errno;
      return Failure(StatusFromErrno(error, ErrnoUse::kLock),
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
        if (Status status = report(FindServer(lock.server_dirs_, base)); !status.ok()) return status;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        return Failure(ERROR_LOCK_VIOLATION,
                       prefix.string() + ": the registry stayed locked by another program for 60 s");
      }
      std::this_thread::sleep_for(pause);
      pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
  }
  if (Status status = report(FindServer(lock.server_dirs_, base)); !status.ok()) return status;

  // wineserver's own lock, in the server directory this environment
  // designates and in upstream Wine's: without them, a server of either
  // layout could start meanwhile.
  if (!base) {
    return Failure(ERROR_ACCESS_DENIED,
                   prefix.string() + ": cannot set up the wineserver lock for this prefix: " + why);
  }
  const std::string own = ServerDirName(st);
  for (const fs::path& server_base : {*base, UpstreamBase()}) {
    if (Status status = HoldServerLock(prefix, server_base, own, deadline, &lock.fds_, server); !status.ok()) {
      return status;
    }
  }
  *out = std::move(lock);
  return Success();
}

std::uint64_t PrefixLock::Scans() { return ServerScans(); }

Status PrefixLock::Recheck() const {
  if (!held()) return Success();
  return ReportScan(prefix_, dirs_, FindServer(server_dirs_, std::nullopt));
}

}  // namespace wineprefix
