// A temporary Wine prefix directory for one test, removed afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace testenv {

// Removes the server directories that a lock on `prefix`, or on a prefix
// made in it, made outside it: in upstream Wine's /tmp/.wine-<uid> (which
// stays, as wineserver leaves it; a later prefix that gets the same inode
// would find it there), and in `tmp` (the runs' TMPDIR), named by the
// `wineserver` file.
void RemoveServerDirs(const std::filesystem::path& prefix, const std::filesystem::path& tmp);

class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path file(const std::string& name) const { return path_ / name; }
  // Writes a file in the prefix (replacing it).
  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace testenv
