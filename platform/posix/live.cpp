// The helper process: found, started with the server's own Wine, spoken to
// over two pipes, and ended.
#include "platform/posix/live.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "wineprefix/prefix.h"
#include "wineprefix/servers.h"

extern char** environ;

namespace plat::posix {
namespace fs = std::filesystem;

using vocab::Failure;
using vocab::Status;

namespace {

// How long a helper may take to answer: a Wine that updates the prefix first
// takes a while.
constexpr int kGreetingMs = 120'000;
constexpr std::string_view kDeleted = " (deleted)";

Status Refuse(const fs::path& prefix, pid_t server, const std::string& cause) {
  const std::string pid = std::to_string(server);
  return Failure(vocab::ERROR_BUSY,
                 prefix.string() + ": a wineserver (pid " + pid +
                     ") is running for this prefix, and the program cannot work through it: " + cause +
                     "; stop it with `kill -INT " + pid +
                     "` (it ends the prefix's programs, saves the registry and exits) and try again");
}

bool Executable(const fs::path& file) { return ::access(file.c_str(), X_OK) == 0 && fs::is_regular_file(file); }

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "it exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("it was ended by signal ") + ::strsignal(WTERMSIG(status));
  return "it did not answer";
}

// The environment of the helper: the program's, with the prefix named (as an
// absolute path, which Wine requires), Wine's debug output off unless the
// user asked for it, and the C locale, in which Wine's ANSI code page is
// Windows-1252, the program's on both paths.
std::vector<std::string> HelperEnvironment(const fs::path& prefix) {
  std::vector<std::string> env;
  bool debug = false;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.substr(0, 11) == "WINEPREFIX=" || text.substr(0, 7) == "LC_ALL=") continue;
    if (text.substr(0, 10) == "WINEDEBUG=") debug = true;
    env.emplace_back(text);
  }
  env.push_back("WINEPREFIX=" + fs::absolute(prefix).lexically_normal().string());
  env.emplace_back("LC_ALL=C.UTF-8");
  if (!debug) env.emplace_back("WINEDEBUG=-all");
  return env;
}

}  // namespace

fs::path LiveHelperDir() {
  if (const char* dir = std::getenv("SKELVIN_LIVE_DIR"); dir != nullptr && *dir != '\0') return fs::path(dir);
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::path(SKELVIN_LIVE_DIR);
  return (self.parent_path() / SKELVIN_LIVE_DIR).lexically_normal();
}

LiveSession::Pipes::~Pipes() {
  CloseInput();
  if (from_child_ >= 0) ::close(from_child_);
}

void LiveSession::Pipes::CloseInput() {
  if (to_child_ >= 0) ::close(std::exchange(to_child_, -1));
}

bool LiveSession::Pipes::Read(void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  constexpr int kTickMs = 100;
  constexpr int kReplacementMs = 15'000;
  int waited = 0;
  int gone_ms = 0;
  while (size > 0) {
    pollfd wait{from_child_, POLLIN, 0};
    const int ready = ::poll(&wait, 1, kTickMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready == 0) {
      waited += kTickMs;
      siginfo_t info{};
      // Exited (left for Reap to collect), or waited long enough.
      if (::waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) {
        return false;
      }
      // While it starts, its Wine may start a server in place of one gone,
      // which answers within seconds; a Wine whose server went away may
      // also wait for ever.
      if (::kill(*server_, 0) != 0 && errno == ESRCH) {
        gone_ms += kTickMs;
        if (timeout_ms_ < 0 || gone_ms >= kReplacementMs) {
          ::kill(child_, SIGKILL);
          return false;
        }
      }
      if (timeout_ms_ >= 0 && waited >= timeout_ms_) return false;
      continue;
    }
    const ssize_t got = ::read(from_child_, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool LiveSession::Pipes::Write(const void* data, std::size_t size) {
  if (to_child_ < 0) return false;
  // A helper that has gone must not end this process with SIGPIPE: the
  // signal is held back while writing, and one it raised taken away.
  sigset_t pipe_signal, previous;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  ::sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  const auto* bytes = static_cast<const char*>(data);
  bool ok = true;
  while (size > 0) {
    const ssize_t put = ::write(to_child_, bytes, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      ok = false;
      break;
    }
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
  if (!ok && !was_pending) {
    const timespec none{0, 0};
    while (::sigtimedwait(&pipe_signal, nullptr, &none) == SIGPIPE) {
    }
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return ok;
}

LiveSession::LiveSession(pid_t child, int to_child, int from_child, pid_t server)
    : child_(child), server_(server), pipes_(to_child, from_child, child, &server_) {}

LiveSession::~LiveSession() {
  pipes_.CloseInput();
  (void)Reap(10'000);
}

int LiveSession::Reap(int ms) {
  int status = 0;
  if (child_ <= 0) return status;
  const pid_t child = std::exchange(child_, -1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) return status;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string LiveSession::BrokenLine(const fs::path& prefix) const {
  return prefix.string() + ": the connection to the prefix's running Wine (wineserver pid " + std::to_string(server_) +
         ") broke off: the server or the program working through it went away; the call's effect is unknown";
}

std::unique_ptr<LiveSession> LiveSession::Start(const fs::path& prefix, pid_t server, Status* refusal) {
  // The helper of the prefix's architecture.
  winereg::Arch arch = winereg::Arch::kWin64;
  if (Status status = wineprefix::HeldArch(prefix, &arch); !status.ok()) {
    *refusal = Refuse(prefix, server, status.message);
    return nullptr;
  }
  const bool wide = arch == winereg::Arch::kWin64;
  const fs::path helper = LiveHelperDir() / (wide ? "skelvin_live64.exe" : "skelvin_live32.exe");
  if (!fs::is_regular_file(helper)) {
    *refusal = Refuse(prefix, server,
                      helper.string() + " is missing (a build without the MinGW-w64 cross compiler has no helper)");
    return nullptr;
  }

  // The server's own Wine: its executable, seen from this mount namespace.
  const std::string proc = "/proc/" + std::to_string(server);
  std::error_code error;
  const fs::path own_ns = fs::read_symlink("/proc/self/ns/mnt", error);
  const fs::path server_ns = fs::read_symlink(proc + "/ns/mnt", error);
  if (!error && !own_ns.empty() && own_ns != server_ns) {
    *refusal = Refuse(prefix, server,
                      "it runs in another mount namespace (a container or a sandbox), whose Wine is not "
                      "reachable from here");
    return nullptr;
  }
  const fs::path exe = fs::read_symlink(proc + "/exe", error);
  if (error) {
    *refusal = Refuse(prefix, server, "cannot tell which Wine it belongs to: " + proc + "/exe: " + error.message());
    return nullptr;
  }
  const std::string exe_text = exe.string();
  if (exe_text.size() > kDeleted.size() && exe_text.substr(exe_text.size() - kDeleted.size()) == kDeleted) {
    *refusal = Refuse(prefix, server,
                      "its executable " + exe_text.substr(0, exe_text.size() - kDeleted.size()) +
                          " has been deleted or replaced since it started (Wine was upgraded or removed)");
    return nullptr;
  }
  fs::path loader;
  for (const char* name : wide ? std::vector<const char*>{"wine64", "wine"} : std::vector<const char*>{"wine"}) {
    if (Executable(exe.parent_path() / name)) {
      loader = exe.parent_path() / name;
      break;
    }
  }
  if (loader.empty()) {
    *refusal = Refuse(prefix, server,
                      std::string("there is no Wine loader (") + (wide ? "wine64 or wine" : "wine") + ") beside " +
                          exe_text + " to run the " + (wide ? "64" : "32") + "-bit helper");
    return nullptr;
  }

  // The helper's Wine must find this server where it looks for it in this
  // environment, or it would start a second one: in the server directory
  // this environment designates, or in upstream Wine's.
  // While it saves the registry, wineserver works in the prefix itself for
  // a moment.
  fs::path cwd = fs::read_symlink(proc + "/cwd", error);
  for (int i = 0; i < 200 && !error && cwd == fs::weakly_canonical(prefix, error); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    cwd = fs::read_symlink(proc + "/cwd", error);
  }
  std::string why;
  const std::optional<fs::path> base = wineprefix::ServerBase(prefix, &why);
  const auto same = [](const fs::path& a, const fs::path& b) {
    std::error_code ignored;
    return fs::weakly_canonical(a, ignored) == fs::weakly_canonical(b, ignored);
  };
  if (error || !(same(cwd.parent_path(), wineprefix::UpstreamBase()) || (base && same(cwd.parent_path(), *base)))) {
    *refusal = Refuse(prefix, server,
                      "its server directory " + (error ? proc + "/cwd" : cwd.string()) +
                          " is not where Wine looks for it in this environment (" + (base ? base->string() : why) +
                          "): TMPDIR or /run/user differ from the server's");
    return nullptr;
  }

  // Started with two pipes for its standard input and output.
  int to_child[2] = {-1, -1};
  int from_child[2] = {-1, -1};
  if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) {
    const int cause = errno;
    for (int fd : {to_child[0], to_child[1]}) {
      if (fd >= 0) ::close(fd);
    }
    *refusal = Refuse(prefix, server, std::string("cannot make a pipe: ") + std::strerror(cause));
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  // The programs the helper's Wine may start (its services, when it is the
  // session's first client) keep its standard streams: its error output goes
  // nowhere, so that they never hold the user's terminal or pipe, unless
  // the user asked for Wine's debug output.
  if (std::getenv("WINEDEBUG") == nullptr) {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  const std::vector<std::string> env = HelperEnvironment(prefix);
  std::vector<char*> envp;
  envp.reserve(env.size() + 1);
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  std::string loader_arg = loader.string(), helper_arg = helper.string();
  char* argv[] = {loader_arg.data(), helper_arg.data(), nullptr};
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, loader.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(to_child[0]);
  ::close(from_child[1]);
  if (spawned != 0) {
    ::close(to_child[1]);
    ::close(from_child[0]);
    *refusal = Refuse(prefix, server, "cannot start " + loader.string() + ": " + std::strerror(spawned));
    return nullptr;
  }
  std::unique_ptr<LiveSession> session(new LiveSession(child, to_child[1], from_child[0], server));

  session->pipes_.set_timeout(kGreetingMs);
  const bool greeted = remote::ReadGreeting(session->pipes_);
  session->pipes_.set_timeout(-1);
  if (!greeted) {
    session->pipes_.CloseInput();
    const int status = session->Reap(5'000);
    *refusal =
        Refuse(prefix, server, loader.string() + " could not run " + helper.string() + " (" + ExitText(status) + ")");
    return nullptr;
  }

  // The helper must work on that server: a Wine that keeps its server
  // directory elsewhere in this environment would have started a second one.
  struct stat prefix_st = {};
  if (::stat(prefix.c_str(), &prefix_st) == 0) {
    const std::vector<pid_t> servers = wineprefix::ServerProcesses(wineprefix::ServerDirName(prefix_st));
    for (const pid_t other : servers) {
      if (other == server) continue;
      if (servers.size() == 1) {
        // The first server has gone meanwhile, and the helper's Wine started
        // this one in its place: the helper works on it.
        session->server_ = other;
        break;
      }
      *refusal = Refuse(prefix, server,
                        loader.string() + " started a second wineserver (pid " + std::to_string(other) +
                            ") for the prefix, since in this environment (TMPDIR, /run/user) it looks for the server "
                            "elsewhere; stop that one too with `kill -INT " +
                            std::to_string(other) + "`");
      return nullptr;
    }
  }
  return session;
}

}  // namespace plat::posix
