// The search for a wineserver running for a prefix, and where wineserver
// keeps its server directories.
#include "wineprefix/servers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "wineprefix/internal/fd.h"

namespace wineprefix {
namespace fs = std::filesystem;

using vocab::ERROR_BUSY;
using vocab::ERROR_LOCK_FAILED;
using vocab::ERROR_SUCCESS;

namespace {

std::atomic<std::uint64_t> scans{0};

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", value);
  return text;
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

}  // namespace

std::string ServerDirName(const struct stat& prefix) {
  return "server-" + Hex(static_cast<unsigned long long>(prefix.st_dev)) + "-" +
         Hex(static_cast<unsigned long long>(prefix.st_ino));
}

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

fs::path UpstreamBase() { return fs::path("/tmp/.wine-" + std::to_string(::getuid())); }

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

std::vector<pid_t> ServerProcesses(const std::string& server_dir) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return found;
  while (const dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (*name < '0' || *name > '9') continue;
    const std::string dir = std::string("/proc/") + name;
    std::error_code error;
    const fs::path cwd = fs::read_symlink(dir + "/cwd", error);
    if (error || cwd.filename() != server_dir) continue;
    char comm[32] = {};
    if (FILE* file = std::fopen((dir + "/comm").c_str(), "re")) {
      if (std::fgets(comm, sizeof comm, file) == nullptr) comm[0] = '\0';
      std::fclose(file);
    }
    if (std::string_view(comm).substr(0, 10) == "wineserver")
      found.push_back(static_cast<pid_t>(std::strtol(name, nullptr, 10)));
  }
  ::closedir(proc);
  return found;
}

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

std::uint64_t ServerScans() { return scans.load(std::memory_order_relaxed); }

}  // namespace wineprefix
