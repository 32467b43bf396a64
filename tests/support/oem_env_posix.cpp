// OemFileEnv natively: a temporary prefix laid out as Wine lays out drive C:.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/facility.h"
#include "platform/posix/textfile.h"
#include "tests/support/oem_env.h"
#include "tests/support/posix/temp_prefix.h"

namespace testenv {

namespace fs = std::filesystem;

struct OemFileEnv::Impl {
  TempPrefix prefix;
  fs::path system = prefix.path() / "drive_c" / "windows" / "system";
  plat::posix::PrefixFileInput files{prefix.path()};
  plat::ScopedUse<plat::FileInput> installed{files};

  Impl() {
    fs::create_directories(system);
    fs::create_directories(prefix.path() / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix.path() / "dosdevices" / "c:");
  }
};

OemFileEnv::OemFileEnv() : impl_(std::make_unique<Impl>()) {}
OemFileEnv::~OemFileEnv() = default;

void OemFileEnv::Write(const std::string& bytes, const std::string& name) {
  std::ofstream out(impl_->system / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + (impl_->system / name).string());
}

void OemFileEnv::Remove(const std::string& name) {
  std::error_code ec;
  fs::remove(impl_->system / name, ec);
}

}  // namespace testenv
