// The prefix's location and architecture, found as Wine finds them.
#include "wineprefix/prefix.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "wineprefix/internal/fd.h"
#include "winereg/reader.h"

namespace wineprefix {
namespace fs = std::filesystem;

using vocab::ERROR_BAD_ENVIRONMENT;
using vocab::ERROR_BAD_PATHNAME;

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void StripTrailingSlashes(std::string& dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
}

// The `#arch` of a registry file's header (before its first key), or nullopt.
std::optional<Arch> HeaderArch(const fs::path& file) {
  const internal::Fd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st = {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  char text[8192];
  const ssize_t n = ::read(fd.get(), text, sizeof text);
  if (n <= 0) return std::nullopt;
  const auto size = static_cast<std::size_t>(n);
  // Read as the reader reads it; a header it would refuse tells nothing.
  const std::optional<winereg::FileHeader> header = winereg::ReadHeader(
      std::string_view(text, size), size < sizeof text ? winereg::Extent::kWholeFile : winereg::Extent::kFileStart);
  if (!header || header->arch == Arch::kUnspecified) return std::nullopt;
  return header->arch;
}

const char* ArchName(Arch arch) { return arch == Arch::kWin64 ? "win64" : "win32"; }

// WINEARCH: nullopt when unset; ERROR_BAD_ENVIRONMENT for anything but
// win32 or win64.
Status WineArch(std::optional<Arch>* out) {
  const char* arch = std::getenv("WINEARCH");
  if (arch == nullptr) {
    out->reset();
  } else if (std::strcmp(arch, "win32") == 0) {
    *out = Arch::kWin32;
  } else if (std::strcmp(arch, "win64") == 0) {
    *out = Arch::kWin64;
  } else {
    return Failure(ERROR_BAD_ENVIRONMENT, "WINEARCH=" + Quoted(arch) + ": must be win32 or win64");
  }
  return Success();
}

Status ArchConflict(const fs::path& prefix, Arch held, Arch wanted) {
  return Failure(ERROR_BAD_ENVIRONMENT, prefix.string() + " is a " + (held == Arch::kWin64 ? "64" : "32") +
                                            "-bit prefix, but WINEARCH=" + ArchName(wanted) + " asks for a " +
                                            (wanted == Arch::kWin64 ? "64" : "32") + "-bit one");
}

bool IsDirectory(const fs::path& path) {
  struct stat st = {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
      struct passwd entry = {};
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

Status FindPrefix(fs::path* out) {
  std::string why;
  std::optional<fs::path> prefix = WinePrefix(&why);
  if (!prefix) return Failure(ERROR_BAD_PATHNAME, why);
  *out = std::move(*prefix);
  return Success();
}

fs::path DefaultPrefix() {
  std::string why;
  return WinePrefix(&why).value_or(fs::path());
}

Status PrefixArch(const fs::path& prefix, Arch* out) {
  std::optional<Arch> wanted;
  if (Status status = WineArch(&wanted); !status.ok()) return status;
  struct stat st = {};
  if (::lstat((prefix / "system.reg").c_str(), &st) == 0) {
    *out = wanted.value_or(Arch::kWin32);
    return Success();
  }
  const std::optional<Arch> user = HeaderArch(prefix / "user.reg");
  const std::optional<Arch> defaults = HeaderArch(prefix / "userdef.reg");
  if (user && defaults && *user != *defaults) {
    return Failure(ERROR_BAD_ENVIRONMENT, prefix.string() + ": user.reg says #arch=" + ArchName(*user) +
                                              " but userdef.reg says #arch=" + ArchName(*defaults) +
                                              "; the prefix is damaged");
  }
  std::optional<Arch> held = user ? user : defaults;
  if (!held && IsDirectory(prefix / "drive_c/windows/syswow64")) held = Arch::kWin64;
  if (!held && IsDirectory(prefix / "drive_c/windows/system32")) held = Arch::kWin32;
  if (held && wanted && *held != *wanted) return ArchConflict(prefix, *held, *wanted);
  *out = held ? *held : wanted.value_or(Arch::kWin32);
  return Success();
}

Status HeldArch(const fs::path& prefix, Arch* out) {
  struct stat st = {};
  if (::lstat((prefix / "system.reg").c_str(), &st) != 0) return PrefixArch(prefix, out);
  *out = HeaderArch(prefix / "system.reg").value_or(Arch::kWin32);
  return Success();
}

Status CheckWineArch(const fs::path& prefix, Arch system_arch) {
  std::optional<Arch> wanted;
  if (Status status = WineArch(&wanted); !status.ok()) return status;
  const Arch held = system_arch == Arch::kWin64 ? Arch::kWin64 : Arch::kWin32;
  if (wanted && *wanted != held) return ArchConflict(prefix, held, *wanted);
  return Success();
}

Status EnsurePrefixDirectory(const fs::path& prefix, bool* created) {
  *created = ::mkdir(prefix.c_str(), 0777) == 0;
  if (*created || errno == EEXIST) return Success();
  const int error = errno;
  return Failure(StatusFromErrno(error, ErrnoUse::kMakePrefix),
                 prefix.string() + ": cannot create the prefix directory: " + std::strerror(error));
}

}  // namespace wineprefix
