#include "tests/support/posix/temp_prefix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace testenv {

TempPrefix::TempPrefix() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/skelvin-prefix-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

void RemoveServerDirs(const std::filesystem::path& prefix_dir, const std::filesystem::path& tmp_root) {
  std::error_code ec;
  std::vector<std::filesystem::path> prefixes{prefix_dir};
  for (const auto& entry : std::filesystem::directory_iterator(prefix_dir, ec)) {
    if (entry.is_directory(ec) && !entry.is_symlink(ec)) prefixes.push_back(entry.path());
  }
  for (const std::filesystem::path& prefix : prefixes) {
    struct stat st = {};
    if (::stat(prefix.c_str(), &st) == 0) {
      char dir[64];
      std::snprintf(dir, sizeof dir, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                    static_cast<unsigned long long>(st.st_ino));
      std::filesystem::remove_all(std::filesystem::path("/tmp/.wine-" + std::to_string(::getuid())) / dir, ec);
    }
    std::ifstream pointer(prefix / "wineserver");
    std::string name;
    if (std::getline(pointer, name) && !name.empty() && name.find('/') == std::string::npos) {
      std::filesystem::remove_all(tmp_root / name, ec);
    }
  }
}

TempPrefix::~TempPrefix() {
  const char* tmp = std::getenv("TMPDIR");
  RemoveServerDirs(path_, tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void TempPrefix::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string TempPrefix::Read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace testenv
