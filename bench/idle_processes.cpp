// Idle processes for scripts/bench: forks <count> children that sleep until
// <seconds> have passed, prints "ready" once all of them exist, then waits.
// SIGTERM, SIGINT or SIGHUP makes it kill exactly those children (by pids it
// holds unreaped, so none can be another process's), reap them and exit 0;
// it also ends by itself when they do. A child whose parent dies is killed by
// the kernel (PR_SET_PDEATHSIG). Exit 1 when not all children could start.
// Usage: idle_processes <count> <seconds>   (count <= 1000, seconds <= 600)
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr long kMaxCount = 1000;
constexpr long kMaxSeconds = 600;

bool ParseBounded(const char* text, long max, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0 || v > max) return false;
  *value = v;
  return true;
}

// A child: sleeps until the deadline; ends with its parent.
[[noreturn]] void SleepUntil(pid_t parent, const timespec& deadline, const sigset_t& mask) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) ::_exit(0);
  ::sigprocmask(SIG_SETMASK, &mask, nullptr);
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
  ::_exit(0);
}

// Reaps the children that have ended; their slots become 0.
void Reap(std::vector<pid_t>& children, std::size_t* left) {
  for (pid_t pid; (pid = ::waitpid(-1, nullptr, WNOHANG)) > 0;) {
    auto it = std::find(children.begin(), children.end(), pid);
    if (it != children.end()) {
      *it = 0;
      --*left;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  long count = 0;
  long seconds = 0;
  if (argc != 3 || !ParseBounded(argv[1], kMaxCount, &count) || !ParseBounded(argv[2], kMaxSeconds, &seconds)) {
    std::fprintf(stderr, "usage: idle_processes <count, at most %ld> <seconds, at most %ld>\n", kMaxCount, kMaxSeconds);
    return 2;
  }
  // Children must stay unreaped until waited for here (an inherited SIG_IGN
  // would reap them at once and free their pids).
  ::signal(SIGCHLD, SIG_DFL);
  sigset_t waited;
  sigset_t mask;
  ::sigemptyset(&waited);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) ::sigaddset(&waited, sig);
  ::sigprocmask(SIG_BLOCK, &waited, &mask);

  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += seconds;
  const pid_t self = ::getpid();
  std::vector<pid_t> children;
  children.reserve(static_cast<std::size_t>(count));
  for (long i = 0; i < count; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) SleepUntil(self, deadline, mask);
    if (pid < 0) {
      std::perror("idle_processes: fork");
      break;
    }
    children.push_back(pid);
  }
  const bool failed = children.size() != static_cast<std::size_t>(count);
  if (!failed) {
    std::printf("ready\n");
    std::fflush(stdout);
  }

  std::size_t left = children.size();
  for (bool stop = failed; left > 0 && !stop;) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    timespec wait{deadline.tv_sec - now.tv_sec + 5, 0};  // the children's own end, with a margin
    if (wait.tv_sec < 0) wait.tv_sec = 0;
    const int sig = ::sigtimedwait(&waited, nullptr, &wait);
    if (sig == SIGCHLD) {
      Reap(children, &left);
    } else if (sig >= 0 || errno != EINTR) {
      stop = true;  // a stop signal, or the deadline long past
    }
  }
  for (pid_t pid : children) {
    if (pid != 0) ::kill(pid, SIGKILL);
  }
  for (pid_t pid : children) {
    if (pid != 0) ::waitpid(pid, nullptr, 0);
  }
  return failed ? 1 : 0;
}
