// OemFileEnv under Windows (or Wine): the real C:\Windows\system folder.
#include <cstdio>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

#include "tests/support/oem_env.h"

namespace testenv {

namespace {

constexpr char kFolder[] = "C:\\Windows\\system\\";
constexpr char kFile[] = "Oeminfo.ini";

std::optional<std::string> ReadFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) != 0) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot create " + path);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

}  // namespace

struct OemFileEnv::Impl {
  std::optional<std::string> original = ReadFile(std::string(kFolder) + kFile);
  std::set<std::string> written;
};

OemFileEnv::OemFileEnv() : impl_(std::make_unique<Impl>()) {
  // The test starts without the file; the one that was there comes back at the end.
  std::remove((std::string(kFolder) + kFile).c_str());
}

OemFileEnv::~OemFileEnv() {
  for (const std::string& name : impl_->written) std::remove((kFolder + name).c_str());
  std::remove((std::string(kFolder) + kFile).c_str());
  if (impl_->original) {
    try {
      WriteFile(std::string(kFolder) + kFile, *impl_->original);
    } catch (const std::exception&) {
      std::fprintf(stderr, "OemFileEnv: cannot restore %s%s\n", kFolder, kFile);
    }
  }
}

void OemFileEnv::Write(const std::string& bytes, const std::string& name) {
  impl_->written.insert(name);
  WriteFile(kFolder + name, bytes);
}

void OemFileEnv::Remove(const std::string& name) { std::remove((kFolder + name).c_str()); }

}  // namespace testenv
