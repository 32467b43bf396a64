#include "tests/support/posix/temp_prefix.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testenv {

TempPrefix::TempPrefix() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/skelvin-prefix-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempPrefix::~TempPrefix() {
  std::error_code ec;
  // The server directory that a lock on this prefix created outside it.
  std::ifstream pointer(path_ / "wineserver");
  std::string name;
  if (std::getline(pointer, name) && !name.empty() && name.find('/') == std::string::npos) {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::remove_all(std::filesystem::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / name, ec);
  }
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
