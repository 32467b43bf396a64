// File lookup and program start over a Wine prefix.
//
// FindFile resolves a Windows path through the prefix's drive mapping (as
// PrefixFileInput does: dosdevices/<drive>: and names compared without
// regard to case) and accepts a regular file; hidden or system attributes do
// not exist there. StartProcess starts a Windows program with `wine` from
// PATH in the prefix of DefaultPrefix(), detached: in a session of its own,
// standard input and output on /dev/null, not waited for. Wine opens the
// program's windows in the normal state, the only state asked for here; a
// program given by a drive path must exist in the prefix (with ".exe"
// added when its name has no extension). Without `wine` nothing is started.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/posix/prefix.h"
#include "platform/posix/textfile.h"
#include "platform/shell.h"
#include "platform/text.h"

namespace plat {
namespace {
namespace fs = std::filesystem;

bool IsRegularFile(const fs::path& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDrivePath(const std::string& path) {
  return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// The host path of `wine` on PATH; empty when there is none.
std::string FindWine() {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return {};
  std::string list = path;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    fs::path candidate = end > start ? fs::path(list.substr(start, end - start)) : fs::path(".");
    candidate /= "wine";
    if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return {};
}

// The program part of a command line and the arguments after it: a quoted
// first part, else the shortest run of words that names an existing drive
// file, else the first word.
struct CommandLine {
  std::string program;
  std::vector<std::string> arguments;
};

std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size()) break;
    std::string word;
    bool quoted = false;
    while (i < text.size() && (quoted || (text[i] != ' ' && text[i] != '\t'))) {
      if (text[i] == '"') {
        quoted = !quoted;
      } else {
        word += text[i];
      }
      ++i;
    }
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace

namespace posix {

class PrefixShell final : public Shell {
 public:
  LONG FindFile(const char* lpFileName, DWORD /*dwAttributes*/, std::string* lpFound) override {
    if (lpFound == nullptr) return ERROR_INVALID_PARAMETER;
    lpFound->clear();
    if (lpFileName == nullptr) return ERROR_INVALID_PARAMETER;
    fs::path host;
    const LONG status = PrefixFileInput().Resolve(lpFileName, &host);
    if (status != ERROR_SUCCESS) return status == ERROR_PATH_NOT_FOUND ? status : ERROR_FILE_NOT_FOUND;
    if (!IsRegularFile(host)) return ERROR_FILE_NOT_FOUND;
    *lpFound = ToAnsi(FromUtf8(host.filename().string()));
    return ERROR_SUCCESS;
  }

  LONG StartProcess(const char* lpCommandLine, UINT /*nShowCmd*/, DWORD* lpProcessId) override {
    if (lpProcessId != nullptr) *lpProcessId = 0;
    if (lpCommandLine == nullptr) return ERROR_INVALID_PARAMETER;
    CommandLine command;
    if (const LONG status = Parse(lpCommandLine, &command); status != ERROR_SUCCESS) return status;
    const std::string wine = FindWine();
    if (wine.empty()) return ERROR_NOT_SUPPORTED;
    return Spawn(wine, command, lpProcessId);
  }

 private:
  static bool Exists(const std::string& windows_path) {
    std::string found;
    PrefixShell shell;
    return shell.FindFile(windows_path.c_str(), ATTR_NORMAL, &found) == ERROR_SUCCESS;
  }

  static bool HasExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    const std::size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash);
  }

  static bool ExistsAsProgram(const std::string& path) {
    return Exists(path) || (!HasExtension(path) && Exists(path + ".exe"));
  }

  static LONG Parse(const std::string& line, CommandLine* out) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return ERROR_FILE_NOT_FOUND;
    const std::string text = line.substr(start);
    if (text[0] == '"') {
      const std::size_t close = text.find('"', 1);
      out->program = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (close != std::string::npos) out->arguments = SplitWords(text.substr(close + 1));
    } else if (IsDrivePath(text)) {
      // An unquoted path with blanks: the shortest run of words that names
      // an existing file, as the Windows program loader tries them.
      std::size_t end = 0;
      bool found = false;
      while (!found) {
        end = text.find(' ', end + 1);
        const std::string candidate = text.substr(0, end);
        if (ExistsAsProgram(candidate)) {
          out->program = candidate;
          if (end != std::string::npos) out->arguments = SplitWords(text.substr(end + 1));
          found = true;
        }
        if (end == std::string::npos) break;
      }
      if (!found) return ERROR_FILE_NOT_FOUND;
    } else {
      std::vector<std::string> words = SplitWords(text);
      out->program = words.front();
      out->arguments.assign(words.begin() + 1, words.end());
    }
    if (out->program.empty()) return ERROR_FILE_NOT_FOUND;
    if (IsDrivePath(out->program) && !ExistsAsProgram(out->program)) return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
  }

  // Double fork: the program's parent ends at once, so that the program
  // belongs to no one here and leaves no zombie. A pipe that closes on exec
  // carries the program's process id, then the exec's errno if it failed.
  static LONG Spawn(const std::string& wine, const CommandLine& command, DWORD* lpProcessId) {
    std::vector<std::string> args{wine};
    // Arguments are Windows text (ANSI); wine takes the host's UTF-8.
    args.push_back(ToUtf8(FromAnsi(command.program)));
    for (const std::string& a : command.arguments) args.push_back(ToUtf8(FromAnsi(a)));
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string prefix = posix::DefaultPrefix().string();

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return ERROR_NOT_ENOUGH_MEMORY;
    const pid_t child = ::fork();
    if (child < 0) {
      ::close(pipe_fds[0]);
      ::close(pipe_fds[1]);
      return ERROR_NOT_ENOUGH_MEMORY;
    }
    if (child == 0) {
      ::close(pipe_fds[0]);
      ::setsid();
      const pid_t grandchild = ::fork();
      if (grandchild < 0) _exit(1);
      if (grandchild > 0) {
        const int id = static_cast<int>(grandchild);
        [[maybe_unused]] const ssize_t written = ::write(pipe_fds[1], &id, sizeof id);
        _exit(0);
      }
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        ::dup2(null_fd, STDIN_FILENO);
        ::dup2(null_fd, STDOUT_FILENO);
        ::dup2(null_fd, STDERR_FILENO);
        if (null_fd > STDERR_FILENO) ::close(null_fd);
      }
      ::setenv("WINEPREFIX", prefix.c_str(), 1);
      ::execv(wine.c_str(), argv.data());
      const int error = errno;
      [[maybe_unused]] const ssize_t written = ::write(pipe_fds[1], &error, sizeof error);
      _exit(127);
    }
    ::close(pipe_fds[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int id = 0;
    int exec_error = 0;
    const bool have_id = ReadAll(pipe_fds[0], &id);
    const bool failed = ReadAll(pipe_fds[0], &exec_error);
    ::close(pipe_fds[0]);
    if (!have_id) return ERROR_NOT_ENOUGH_MEMORY;
    if (failed) return exec_error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
    if (lpProcessId != nullptr) *lpProcessId = static_cast<DWORD>(id);
    return ERROR_SUCCESS;
  }

  static bool ReadAll(int fd, int* value) {
    char* to = reinterpret_cast<char*>(value);
    std::size_t got = 0;
    while (got < sizeof *value) {
      const ssize_t n = ::read(fd, to + got, sizeof *value - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }
};

}  // namespace posix

template <>
Shell& Backend<Shell>() {
  static posix::PrefixShell shell;
  return shell;
}

}  // namespace plat
