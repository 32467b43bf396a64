// Paths on a prefix's drives, looked up as Wine looks them up.
#include "wineprefix/drive.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vocab/utf8.h"

namespace wineprefix {
namespace fs = std::filesystem;

using vocab::ERROR_BAD_PATHNAME;
using vocab::ERROR_FILE_NOT_FOUND;
using vocab::ERROR_INVALID_DRIVE;
using vocab::ERROR_INVALID_NAME;
using vocab::ERROR_PATH_NOT_FOUND;
using vocab::ERROR_SUCCESS;
using vocab::FromUtf8;
using vocab::ToUtf8;

namespace {

// Upper case of the letters that a Windows-1252 name can hold; anything else
// is compared as it is. (Not winereg's folding: that is the registry's
// lower-case table, while Wine compares file names by upper case.)
char16_t FoldCase(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0xFF:
      return 0x178;
    case 0x161:
      return 0x160;
    case 0x153:
      return 0x152;
    case 0x17E:
      return 0x17D;
    default:
      return c;
  }
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool IsDirectory(const fs::path& path) {
  struct stat st = {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool SameFileName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool IsValidFileName(std::u16string_view name) {
  if (name.empty() || name == u"." || name == u"..") return false;
  for (const char16_t c : name) {
    if (c < 0x20 || std::u16string_view(u"<>:\"|?*\\/").find(c) != std::u16string_view::npos) return false;
  }
  return true;
}

Status FindInFolder(const fs::path& dir, std::u16string_view name, fs::path* found) {
  found->clear();
  if (!IsValidFileName(name)) return Failure(ERROR_INVALID_NAME);
  fs::path exact = dir / vocab::ToUtf8(name);
  struct stat st = {};
  if (::stat(exact.c_str(), &st) == 0) {
    *found = std::move(exact);
    return Success();
  }
  std::unique_ptr<DIR, DirCloser> stream(::opendir(dir.c_str()));
  if (!stream) return ErrnoFailure(errno, ErrnoUse::kListDirectory, dir.string() + ": cannot list the folder");
  while (const dirent* entry = ::readdir(stream.get())) {
    const std::string entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    if (SameFileName(vocab::FromUtf8(entry_name), name)) {
      *found = dir / entry_name;
      return Success();
    }
  }
  return Success();
}

Status ResolveDrivePath(const fs::path& prefix, std::u16string_view path, fs::path* out) {
  // Only absolute paths on a drive: "X:\...".
  if (path.size() < 3 || path[1] != u':' || !IsSeparator(path[2])) return Failure(ERROR_BAD_PATHNAME);
  char16_t letter = path[0];
  if (letter >= u'A' && letter <= u'Z') letter = static_cast<char16_t>(letter + 0x20);
  if (letter < u'a' || letter > u'z') return Failure(ERROR_INVALID_DRIVE);

  // The components, with "." dropped and ".." applied, as Windows normalises
  // a full path before it looks at the disk.
  std::vector<std::u16string_view> parts;
  std::size_t start = 3;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    const std::u16string_view part = path.substr(start, end - start);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      if (!IsValidFileName(part)) return Failure(ERROR_INVALID_NAME);
      parts.push_back(part);
    }
    start = end + 1;
  }

  if (prefix.empty()) return Failure(ERROR_PATH_NOT_FOUND);  // no prefix Wine would use
  fs::path current = prefix / "dosdevices" / (std::string(1, static_cast<char>(letter)) + ":");
  if (!IsDirectory(current)) return Failure(ERROR_PATH_NOT_FOUND);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    fs::path found;
    if (Status status = FindInFolder(current, parts[i], &found); !status.ok()) return status;
    if (found.empty()) return Failure(last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (!last && !IsDirectory(found)) return Failure(ERROR_PATH_NOT_FOUND);
    current = std::move(found);
  }
  *out = std::move(current);
  return Success();
}

}  // namespace wineprefix
