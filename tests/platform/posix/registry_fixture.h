// The registry functions over a prefix of a test's own: the fixture the
// backend's test files share.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/posix/registry.h"
#include "tests/support/posix/forwarding_files.h"
#include "tests/support/posix/temp_prefix.h"
#include "tests/support/scripted.h"
#include "wineprefix/filesystem.h"
#include "winereg/model.h"
#include "winereg/reader.h"

namespace posix_registry_test {

using plat::BYTE;
using plat::DWORD;
using plat::HKEY;
using plat::LONG;
using plat::REGSAM;
using testenv::RawValue;
using ::testing::HasSubstr;

inline constexpr char kHeader32[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n";
inline constexpr char kHeader64[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";

// The real file-system calls of a save, those of the kind named `failing`
// failing with `error`; renames that go through are counted.
class FaultyFileSystem final : public testenv::ForwardingFileSystem {
 public:
  const char* failing = "";
  int error = 0;
  int renames = 0;

  ssize_t Write(int fd, const void* data, size_t size) override {
    return Fails("write") ? -1 : ForwardingFileSystem::Write(fd, data, size);
  }
  int Fsync(int fd) override { return Fails("fsync") ? -1 : ForwardingFileSystem::Fsync(fd); }
  int Rename(const char* from, const char* to) override {
    if (Fails("rename")) return -1;
    ++renames;
    return ForwardingFileSystem::Rename(from, to);
  }

 private:
  bool Fails(const char* step) const {
    if (std::strcmp(step, failing) != 0) return false;
    errno = error;
    return true;
  }
};

class PrefixRegistryTest : public ::testing::Test {
 protected:
  HKEY Create(const std::string& path, REGSAM sam = plat::KEY_ALL_ACCESS, LONG expected = plat::ERROR_SUCCESS) {
    HKEY key = 0;
    EXPECT_EQ(reg_.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, sam, nullptr, &key, nullptr),
              expected)
        << path;
    return key;
  }
  LONG SetString(HKEY key, const std::string& name, const std::string& text) {
    return reg_.RegSetValueExA(key, name.c_str(), 0, plat::REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1));
  }
  LONG SetDword(HKEY key, const std::string& name, DWORD value) {
    return reg_.RegSetValueExA(key, name.c_str(), 0, plat::REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
  }
  std::string File() const { return prefix_.Read("system.reg"); }

  testenv::TempPrefix prefix_;
  // The registry's saves go through it: the real calls until a test sets a
  // kind of call failing.
  FaultyFileSystem files_;
  plat::posix::PrefixRegistry reg_{prefix_.path(), files_};
};

}  // namespace posix_registry_test
