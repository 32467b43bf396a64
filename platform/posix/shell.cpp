// File lookup and program start over a Wine prefix.
//
// FindFile resolves a Windows path through the prefix's drive mapping
// (wineprefix/drive.h, as PrefixFileInput does: dosdevices/<drive>: and names
// compared without regard to case) and accepts a regular file; hidden or
// system attributes do not exist there. StartProcess starts a Windows
// program with `wine` from PATH in the prefix of DefaultPrefix(), detached:
// in a session of its own, standard input and output on /dev/null, not
// waited for. Wine opens the program's windows in the normal state, the only
// state asked for here.
// The program must exist before anything starts, found as Windows finds it
// (with ".exe" tried first when its name has no extension): a drive path in
// the prefix; a plain name in this program's folder, the current folder,
// then the prefix's C:\windows\system32, C:\windows\system and C:\windows
// (PATH is not searched); a relative path below the current folder. Names
// match without regard to case, as Wine matches them. A program found by
// search is handed to wine by the path found. Without `wine` nothing is
// started.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/posix/deliver.h"
#include "wineprefix/drive.h"
#include "wineprefix/prefix.h"
#include "platform/shell.h"
#include "platform/utf8.h"

namespace plat {
namespace {
namespace fs = std::filesystem;

bool IsRegularFile(const fs::path& path) {
  struct stat st = {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDrivePath(const std::string& path) {
  return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Where Windows looks for a program given by a plain name once the program's
// own folder and the current folder have not got it.
constexpr const char* kSystemFolders[] = {"C:\\windows\\system32", "C:\\windows\\system", "C:\\windows"};

// The entry of the host folder `dir` that the Windows name `name` (ANSI)
// names, as on a drive of the prefix. Empty when there is none.
fs::path FindInHostFolder(const fs::path& dir, const std::string& name) {
  fs::path found;
  if (!wineprefix::FindInFolder(dir, FromAnsi(name), &found).ok()) return {};
  return found;
}

bool HasExtension(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  const std::size_t dot = path.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// The names a program named `name` may have on disk, in the order tried.
std::vector<std::string> ProgramNames(const std::string& name) {
  if (HasExtension(name)) return {name};
  return {name + ".exe", name};
}

// The program file `name` in the host folder `dir`; empty when none.
fs::path FindProgramInHostFolder(const fs::path& dir, const std::string& name) {
  for (const std::string& candidate : ProgramNames(name)) {
    fs::path found = FindInHostFolder(dir, candidate);
    if (!found.empty() && IsRegularFile(found)) return found;
  }
  return {};
}

// The program file of a relative path (ANSI) below the host folder `dir`.
fs::path FindBelowHostFolder(fs::path dir, const std::string& relative) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = start;
    while (end < relative.size() && !IsSeparator(relative[end])) ++end;
    parts.push_back(relative.substr(start, end - start));
    start = end + 1;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (parts[i].empty() || parts[i] == ".") continue;
    if (parts[i] == "..") {
      dir = dir.parent_path();
      continue;
    }
    dir = FindInHostFolder(dir, parts[i]);
    if (dir.empty()) return {};
  }
  return FindProgramInHostFolder(dir, parts.back());
}

// The folder of this program, and the current folder; empty when unknown.
fs::path ProgramFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
}

fs::path CurrentFolder() {
  std::error_code error;
  fs::path current = fs::current_path(error);
  return error ? fs::path() : current;
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

// The program part of a command line and the arguments after it.
struct CommandLine {
  std::string program;                 // as wine takes it: host text (UTF-8)
  std::vector<std::string> arguments;  // ANSI
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
  [[nodiscard]] LONG FindFile(const char* lpFileName, DWORD /*dwAttributes*/, std::string* lpFound) override {
    if (lpFound == nullptr) return ERROR_INVALID_PARAMETER;
    lpFound->clear();
    if (lpFileName == nullptr) return ERROR_INVALID_PARAMETER;
    const LONG status = Deliver(StoredName(lpFileName, lpFound));
    return status == ERROR_SUCCESS || status == ERROR_PATH_NOT_FOUND ? status : ERROR_FILE_NOT_FOUND;
  }

  [[nodiscard]] LONG StartProcess(const char* lpCommandLine, UINT /*nShowCmd*/, DWORD* lpProcessId) override {
    if (lpProcessId != nullptr) *lpProcessId = 0;
    if (lpCommandLine == nullptr) return ERROR_INVALID_PARAMETER;
    CommandLine command;
    if (const LONG status = Parse(lpCommandLine, &command); status != ERROR_SUCCESS) return status;
    const std::string wine = FindWine();
    if (wine.empty()) {
      return Deliver(vocab::Failure(ERROR_NOT_SUPPORTED, "no program 'wine' in PATH to start " + command.program));
    }
    return Spawn(wine, command, lpProcessId);
  }

 private:
  // The stored name (ANSI) of the regular file that a drive path names in
  // the default prefix, or why there is none; `found` is set on success only.
  static vocab::Status StoredName(const char* windows_path, std::string* found) {
    fs::path host;
    if (vocab::Status status = wineprefix::ResolveDrivePath(wineprefix::DefaultPrefix(), FromAnsi(windows_path), &host);
        !status.ok()) {
      return status;
    }
    if (!IsRegularFile(host)) return vocab::Failure(ERROR_FILE_NOT_FOUND);
    *found = ToAnsi(FromUtf8(host.filename().string()));
    return vocab::Success();
  }

  // StoredName, empty when none. A search tries many names: what stops one
  // lookup is not told.
  static std::string FindInPrefix(const std::string& windows_path) {
    std::string found;
    return StoredName(windows_path.c_str(), &found).ok() ? found : std::string();
  }

  static bool ExistsAsProgram(const std::string& path) {
    for (const std::string& candidate : ProgramNames(path)) {
      if (!FindInPrefix(candidate).empty()) return true;
    }
    return false;
  }

  // A plain name, where Windows looks for it (see the top of this file).
  static LONG Search(const std::string& name, std::string* program) {
    for (const fs::path& folder : {ProgramFolder(), CurrentFolder()}) {
      const fs::path found = folder.empty() ? fs::path() : FindProgramInHostFolder(folder, name);
      if (!found.empty()) {
        *program = found.string();
        return ERROR_SUCCESS;
      }
    }
    for (const char* folder : kSystemFolders) {
      for (const std::string& candidate : ProgramNames(name)) {
        const std::string found = FindInPrefix(std::string(folder) + "\\" + candidate);
        if (!found.empty()) {
          *program = ToUtf8(FromAnsi(std::string(folder) + "\\" + found));
          return ERROR_SUCCESS;
        }
      }
    }
    return ERROR_FILE_NOT_FOUND;
  }

  // The program that `name` (ANSI, unquoted) names, as wine's first argument.
  // A drive path must exist in the prefix and goes as it is; a plain name or
  // a relative path goes as the path where it was found. Paths from the
  // current drive's root (\x, \\server\share) and drive-relative ones (C:x)
  // go unchecked.
  static LONG Locate(const std::string& name, std::string* program) {
    if (name.empty()) return ERROR_FILE_NOT_FOUND;
    if (IsDrivePath(name)) {
      if (!ExistsAsProgram(name)) return ERROR_FILE_NOT_FOUND;
      *program = ToUtf8(FromAnsi(name));
      return ERROR_SUCCESS;
    }
    if (IsSeparator(name[0]) || (name.size() >= 2 && name[1] == ':')) {
      *program = ToUtf8(FromAnsi(name));
      return ERROR_SUCCESS;
    }
    if (name.find(':') != std::string::npos) return ERROR_FILE_NOT_FOUND;
    if (name.find_first_of("\\/") == std::string::npos) return Search(name, program);
    const fs::path current = CurrentFolder();
    const fs::path found = current.empty() ? fs::path() : FindBelowHostFolder(current, name);
    if (found.empty()) return ERROR_FILE_NOT_FOUND;
    *program = found.string();
    return ERROR_SUCCESS;
  }

  // A quoted first part names the program; unquoted, the shortest run of
  // words that names an existing program does, as the Windows program loader
  // tries them.
  static LONG Parse(const std::string& line, CommandLine* out) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return ERROR_FILE_NOT_FOUND;
    const std::string text = line.substr(start);
    if (text[0] == '"') {
      const std::size_t close = text.find('"', 1);
      const std::string name = text.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (const LONG status = Locate(name, &out->program); status != ERROR_SUCCESS) return status;
      if (close != std::string::npos) out->arguments = SplitWords(text.substr(close + 1));
      return ERROR_SUCCESS;
    }
    for (std::size_t end = text.find(' ');; end = text.find(' ', end + 1)) {
      if (Locate(text.substr(0, end), &out->program) == ERROR_SUCCESS) {
        if (end != std::string::npos) out->arguments = SplitWords(text.substr(end + 1));
        return ERROR_SUCCESS;
      }
      if (end == std::string::npos) return ERROR_FILE_NOT_FOUND;
    }
  }

  // Double fork: the program's parent ends at once, so that the program
  // belongs to no one here and leaves no zombie. A pipe that closes on exec
  // carries the program's process id, then the exec's errno if it failed.
  static LONG Spawn(const std::string& wine, const CommandLine& command, DWORD* lpProcessId) {
    std::vector<std::string> args{wine};
    // Arguments are Windows text (ANSI); wine takes the host's UTF-8.
    args.push_back(command.program);
    for (const std::string& a : command.arguments) args.push_back(ToUtf8(FromAnsi(a)));
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string prefix = wineprefix::DefaultPrefix().string();

    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return NoProcess(errno);
    const pid_t child = ::fork();
    if (child < 0) {
      const int error = errno;
      ::close(pipe_fds[0]);
      ::close(pipe_fds[1]);
      return NoProcess(error);
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
    if (!have_id) return Deliver(vocab::Failure(ERROR_NOT_ENOUGH_MEMORY, "cannot start a process for " + wine));
    if (failed) {
      return Deliver(vocab::Failure(exec_error == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_BAD_EXE_FORMAT,
                                    wine + ": cannot run it: " + std::strerror(exec_error)));
    }
    if (lpProcessId != nullptr) *lpProcessId = static_cast<DWORD>(id);
    return ERROR_SUCCESS;
  }

  static LONG NoProcess(int error) {
    return Deliver(
        vocab::Failure(ERROR_NOT_ENOUGH_MEMORY, std::string("cannot start a process: ") + std::strerror(error)));
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
