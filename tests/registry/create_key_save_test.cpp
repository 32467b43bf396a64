// CreateKey over the native registry when the save of the new key, made at
// its close, really fails: the answer and a fresh look agree, for every kind
// of save call that can fail.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/facility.h"
#include "platform/registry.h"
#include "registry/cRegistry.h"
#include "tests/support/posix/backends.h"
#include "tests/support/posix/forwarding_files.h"
#include "tests/support/posix/temp_prefix.h"

namespace {

// Fails every call of one kind with one errno; the rest go through.
class FailingFiles final : public testenv::ForwardingFileSystem {
 public:
  std::string failing;
  int error = 0;

  ssize_t Write(int fd, const void* data, std::size_t size) override {
    return Fails("write") ? -1 : ForwardingFileSystem::Write(fd, data, size);
  }
  int Fsync(int fd) override { return Fails("fsync") ? -1 : ForwardingFileSystem::Fsync(fd); }
  int Rename(const char* from, const char* to) override {
    return Fails("rename") ? -1 : ForwardingFileSystem::Rename(from, to);
  }

 private:
  bool Fails(const char* call) const {
    if (failing != call) return false;
    errno = error;
    return true;
  }
};

struct SaveFault {
  const char* call;
  int error;
};

class CreateKeySaveFault : public ::testing::TestWithParam<SaveFault> {};

TEST_P(CreateKeySaveFault, AnswersFalseAndLeavesNoKey) {
  testenv::TempPrefix prefix;
  FailingFiles files;
  const auto registry = testenv::PrefixRegistryOn(prefix.path(), files);
  plat::ScopedUse<plat::Registry> use(*registry);
  skelvin::cRegistry reg;
  reg.ClassKey(static_cast<std::int32_t>(plat::HKEY_LOCAL_MACHINE));
  reg.SectionKey(u"Software\\Unsaved\\Key");
  files.failing = GetParam().call;
  files.error = GetParam().error;
  ::testing::internal::CaptureStderr();  // the save's own line
  EXPECT_EQ(reg.CreateKey(), 0);
  EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(reg.KeyExists(), 0);
  files.failing.clear();

  // Another registry over the same prefix: the file holds no such key either.
  const auto fresh = testenv::PrefixRegistryOn(prefix.path());
  plat::HKEY key = 0;
  EXPECT_EQ(fresh->RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software\\Unsaved", 0, plat::KEY_QUERY_VALUE, &key),
            plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.CreateKey(), -1);  // once the disk is back
}

INSTANTIATE_TEST_SUITE_P(Faults, CreateKeySaveFault,
                         ::testing::Values(SaveFault{"write", ENOSPC}, SaveFault{"write", EIO}, SaveFault{"fsync", EIO},
                                           SaveFault{"rename", EROFS}),
                         [](const ::testing::TestParamInfo<SaveFault>& info) {
                           return std::string(info.param.call) + "_" + std::to_string(info.param.error);
                         });

}  // namespace
