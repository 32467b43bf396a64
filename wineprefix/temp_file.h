// A temporary file beside a target, with one owner of its descriptor and its
// name from creation until it is kept (renamed over the target) or discarded.
#pragma once

#include <filesystem>
#include <string>

#include "wineprefix/filesystem.h"

namespace wineprefix {

class TempFile {
 public:
  // Owns nothing.
  TempFile() = default;
  TempFile(TempFile&& other) noexcept;
  TempFile& operator=(TempFile&& other) noexcept;
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  // Discards what is still owned; no fault escapes.
  ~TempFile() { Discard(); }

  // A new empty file ".<name>.skelvin-XXXXXX" beside `target`, created
  // exclusively with mode 0600 (never through a link) and open for writing,
  // marked as this run's while it is open where the file system has such
  // locks (a mark that cannot be set is no failure). 0, or the errno of the
  // failure, after which `out` owns nothing.
  [[nodiscard]] static int Create(FileSystem& files, const std::filesystem::path& target, TempFile* out);
  // A second name of that pattern for the existing file `target` (a hard
  // link), with no descriptor: Keep puts it back over the target. 0, or the
  // errno of the failure, after which `out` owns nothing.
  [[nodiscard]] static int Link(FileSystem& files, const std::filesystem::path& target, TempFile* out);

  // The descriptor, -1 once closed (or when there is none).
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  bool owned() const { return !name_.empty(); }

  // Closes the descriptor: 0, or the errno close(2) gives (a write the file
  // system reports late). Either way the descriptor is gone and the name is
  // still owned.
  [[nodiscard]] int Close();
  // Closes the descriptor if it is open, then renames the file over `target`.
  // 0: the file is the target now and nothing is owned. Otherwise the errno of
  // the close or the rename; the file is still owned, the target unchanged.
  [[nodiscard]] int Keep(const std::filesystem::path& target);
  // Removes the name and closes the descriptor, failures ignored (a name that
  // cannot be removed is left for the next save's sweep); then owns nothing.
  // errno is kept.
  void Discard() noexcept;

 private:
  FileSystem* files_ = nullptr;
  int fd_ = -1;
  std::string name_;  // empty: nothing owned
};

// Removes what saves killed on the way left beside `target`: files of the
// temporary pattern (and the fixed names earlier releases used) and links
// planted at such names. A file is removed only when it is known to be a
// regular file of the user's that no open descriptor marks: one that cannot
// be examined, or that a live run marks, is left. Best effort: nothing is
// reported. Called only under the prefix lock, which every saving run holds
// throughout its save.
void RemoveLeftovers(FileSystem& files, const std::filesystem::path& target);

}  // namespace wineprefix
