// The store driven directly: where links and the 32-bit view lead, and the
// set-up rule (one lock, one scan before loading, one recheck before each
// rename, one load per call, no reload after its own save).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/posix/forwarding_files.h"
#include "tests/support/posix/temp_prefix.h"
#include "wineprefix/filesystem.h"
#include "wineprefix/lock.h"
#include "wineprefix/store.h"

namespace {

using vocab::LONG;
using wineprefix::KeyRef;
using wineprefix::OpenMode;
using wineprefix::Root;
using wineprefix::Store;

constexpr char kHeader32[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n";
constexpr char kHeader64[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
constexpr char kUserFile[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n"
    "\n[Software\\\\UserTarget] 1700000000\n#time=1da1747c66d0000\n";

// A section for the key at `path` (single backslashes), then `lines`.
std::string Section(const std::string& path, const std::string& lines = "") {
  std::string name;
  for (const char c : path) name += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\n[" + name + "] 1700000000\n#time=1da1747c66d0000\n" + lines;
}

// A link key at `path` to `target`, as UTF-16 without a NUL.
std::string Link(const std::string& path, const std::string& target) {
  std::string hex;
  char byte[8];
  for (const char c : target) {
    std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
    hex += byte;
  }
  hex.pop_back();
  return Section(path, "#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n");
}

std::string ToMachine(const std::string& rest) { return "\\REGISTRY\\Machine\\Software\\" + rest; }

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Narrow(const KeyRef& key) {
  std::string text = key.root == Root::kMachine ? "HKLM" : "HKCU";
  for (const std::u16string& name : key.names) text += "\\" + std::string(name.begin(), name.end());
  return text;
}

// --- Where a path leads ------------------------------------------------------

struct PathCase {
  const char* name;
  bool win64;
  std::string sections;
  const char* path;
  bool create;
  bool view64;
  LONG status;
  const char* reached;  // the key reached, when the status is ERROR_SUCCESS
  bool created;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }

class StorePathTest : public ::testing::TestWithParam<PathCase> {
 protected:
  testenv::TempPrefix prefix_;
};

TEST_P(StorePathTest, ReachesWhatWineReaches) {
  const PathCase& c = GetParam();
  const std::string system = (c.win64 ? kHeader64 : kHeader32) + Section("Software\\Target") + c.sections;
  prefix_.Write("system.reg", system);
  prefix_.Write("user.reg", kUserFile);
  Store store(prefix_.path());
  OpenMode mode;
  mode.create = c.create;
  mode.view64 = c.view64;
  const KeyRef machine{Root::kMachine, {}};
  KeyRef reached;
  bool created = !c.created;
  const wineprefix::Status status = store.Open(&machine, Wide(c.path), mode, &reached, &created);
  EXPECT_EQ(status.code, c.status) << status.message;
  if (c.status == vocab::ERROR_SUCCESS) {
    EXPECT_EQ(Narrow(reached), c.reached);
    EXPECT_EQ(created, c.created);
    EXPECT_EQ(store.Close().code, vocab::ERROR_SUCCESS);
  } else {
    EXPECT_EQ(store.Flush().code, vocab::ERROR_SUCCESS);
    EXPECT_EQ(prefix_.Read("system.reg"), system);  // a failure writes nothing
  }
}

const std::string kWowNode = Section("Software\\Wow6432Node");
const std::string kShared = Section("Software\\Classes\\Only64") + Section("Software\\Classes\\Wow6432Node") +
                            Link("Software\\Wow6432Node\\Classes", ToMachine("Classes\\Wow6432Node"));
constexpr LONG kOk = vocab::ERROR_SUCCESS;

INSTANTIATE_TEST_SUITE_P(
    Table, StorePathTest,
    ::testing::Values(
        PathCase{"Plain", false, "", "Software\\Target", false, false, kOk, "HKLM\\Software\\Target", false},
        PathCase{"CreateBelowAMissingKey", false, "", "Software\\A\\B\\C", true, false, kOk, "HKLM\\Software\\A\\B\\C",
                 true},
        PathCase{"LinkChain", false,
                 Link("Software\\C1", ToMachine("C2")) + Link("Software\\C2", ToMachine("C3")) +
                     Link("Software\\C3", ToMachine("Target")),
                 "Software\\C1", false, false, kOk, "HKLM\\Software\\Target", false},
        PathCase{"LinkIntoTheUserFile", false, Link("Software\\L", "\\REGISTRY\\User\\S-1-5-21-0-0-0-1000\\Software"),
                 "Software\\L\\UserTarget", false, false, kOk, "HKCU\\Software\\UserTarget", false},
        PathCase{"Loop", false, Link("Software\\L", ToMachine("L")), "Software\\L", false, false,
                 vocab::ERROR_INVALID_PARAMETER, "", false},
        PathCase{"LoopOfTwoOnCreate", false, Link("Software\\L", ToMachine("M")) + Link("Software\\M", ToMachine("L")),
                 "Software\\L\\Sub", true, false, vocab::ERROR_INVALID_PARAMETER, "", false},
        PathCase{"DanglingOnOpen", false, Link("Software\\L", ToMachine("New")), "Software\\L", false, false,
                 vocab::ERROR_FILE_NOT_FOUND, "", false},
        PathCase{"DanglingCreatedOnCreate", false, Link("Software\\L", ToMachine("New")), "Software\\L", true, false,
                 kOk, "HKLM\\Software\\New", true},
        PathCase{"DanglingOnTheWayCreated", false, Link("Software\\L", ToMachine("New")), "Software\\L\\Sub", true,
                 false, kOk, "HKLM\\Software\\New\\Sub", true},
        PathCase{"Wow6432NodeOnAWin64Hive", true, kWowNode, "Software\\Vendor\\App", true, false, kOk,
                 "HKLM\\Software\\Wow6432Node\\Vendor\\App", true},
        PathCase{"The64BitView", true, kWowNode, "Software\\Vendor\\App", true, true, kOk,
                 "HKLM\\Software\\Vendor\\App", true},
        PathCase{"NoRedirectionOnAWin32Hive", false, kWowNode, "Software\\Vendor", true, false, kOk,
                 "HKLM\\Software\\Vendor", true},
        PathCase{"SharedClassesFallBackOnTheirParent", true, kWowNode + kShared, "Software\\Classes\\Only64", false,
                 false, kOk, "HKLM\\Software\\Classes\\Only64", false},
        PathCase{"SharedClassesCreateInTheParent", true, kWowNode + kShared, "Software\\Classes\\NewClass", true, false,
                 kOk, "HKLM\\Software\\Classes\\NewClass", true},
        // A link to the shared keys leads to their parent, the 64-bit Classes.
        PathCase{"ALinkToTheSharedNode", true, kWowNode + kShared, "Software\\Classes", false, false, kOk,
                 "HKLM\\Software\\Classes", false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The set-up rule ----------------------------------------------------------

// The real file-system calls of a save; each rename records how many
// wineserver scans the process had made when it came.
class RenameWatch final : public testenv::ForwardingFileSystem {
 public:
  std::vector<std::uint64_t> scans_at_rename;

  int Rename(const char* from, const char* to) override {
    scans_at_rename.push_back(wineprefix::PrefixLock::Scans());
    return ForwardingFileSystem::Rename(from, to);
  }
};

// What one call set up.
struct Cost {
  int locks = 0;
  std::uint64_t scans = 0;
  int loads = 0;
  std::size_t renames = 0;
  bool operator==(const Cost&) const = default;
};

void PrintTo(const Cost& c, std::ostream* os) {
  *os << "{locks " << c.locks << ", scans " << c.scans << ", loads " << c.loads << ", renames " << c.renames << "}";
}

class SetUpRule : public ::testing::Test {
 protected:
  void SetUp() override { prefix_.Write("system.reg", std::string(kHeader32) + Section("Software")); }

  // Runs `call` and gives what it set up; a rename must come after every
  // scan of the call (the recheck right before it, nothing later).
  template <class Call>
  Cost Measure(Call call) {
    const Store::SetUps before = store_.set_ups();
    const std::uint64_t scans = wineprefix::PrefixLock::Scans();
    const std::size_t renames = watch_.scans_at_rename.size();
    const wineprefix::Status status = call();
    EXPECT_EQ(status.code, vocab::ERROR_SUCCESS) << status.message;
    const std::uint64_t after = wineprefix::PrefixLock::Scans();
    for (std::size_t i = renames; i < watch_.scans_at_rename.size(); ++i) {
      EXPECT_EQ(watch_.scans_at_rename[i], after) << "a scan after the rename";
      EXPECT_GT(watch_.scans_at_rename[i], scans) << "no recheck before the rename";
    }
    return Cost{store_.set_ups().locks - before.locks, after - scans, store_.set_ups().loads - before.loads,
                watch_.scans_at_rename.size() - renames};
  }
  wineprefix::Status Create(const std::string& path, KeyRef* key, bool make_volatile = false) {
    OpenMode mode;
    mode.create = true;
    mode.make_volatile = make_volatile;
    bool created = false;
    return store_.Open(&kMachine, Wide(path), mode, key, &created);
  }
  wineprefix::Status SetDword(const KeyRef& key, const std::string& name) {
    return store_.SetValue(&key, Wide(name), vocab::REG_DWORD, {0, 0, 0, 0});
  }

  const KeyRef kMachine{Root::kMachine, {}};
  testenv::TempPrefix prefix_;
  RenameWatch watch_;
  Store store_{prefix_.path(), watch_};
};

// The patch's calls: create, set, close, create (opens), set, close.
TEST_F(SetUpRule, EachCallSetsUpOnceAndEachSaveRechecksOnce) {
  const std::string path = "Software\\Mediamatics\\DVD Express\\Formats";
  KeyRef key;
  EXPECT_EQ(Measure([&] { return Create(path, &key); }), (Cost{1, 1, 1, 0}));
  EXPECT_EQ(Measure([&] { return SetDword(key, "YV12"); }), (Cost{0, 1, 1, 1}));
  EXPECT_EQ(Measure([&] { return store_.Close(); }), (Cost{0, 0, 0, 0}));
  EXPECT_EQ(Measure([&] { return Create(path, &key); }), (Cost{1, 1, 1, 0}));
  EXPECT_EQ(Measure([&] { return SetDword(key, "NMMC"); }), (Cost{0, 1, 1, 1}));
  EXPECT_EQ(Measure([&] { return store_.Close(); }), (Cost{0, 0, 0, 0}));
  EXPECT_THAT(prefix_.Read("system.reg"), ::testing::HasSubstr("\"NMMC\"=dword:00000000"));
}

// A key in user.reg loads both files, each once, in the call that reaches it.
TEST_F(SetUpRule, AKeyOfTheOtherFileLoadsItOnce) {
  prefix_.Write("user.reg", kUserFile);
  const KeyRef user{Root::kUser, {}};
  KeyRef key;
  bool created = false;
  EXPECT_EQ(Measure([&] { return store_.Open(&user, u"Software\\UserTarget", OpenMode{}, &key, &created); }),
            (Cost{1, 1, 2, 0}));
  winereg::Value value;
  EXPECT_EQ(store_.QueryValue(&key, u"Missing", &value).code, vocab::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Measure([&] { return store_.Close(); }), (Cost{0, 0, 0, 0}));
}

// Without an open key the lock goes with the call: the next one takes it
// and scans again.
TEST_F(SetUpRule, ACallWithoutAnOpenKeyTakesTheLockItself) {
  KeyRef key;
  ASSERT_EQ(Create("Software\\Kept", &key).code, vocab::ERROR_SUCCESS);
  ASSERT_EQ(store_.Close().code, vocab::ERROR_SUCCESS);
  EXPECT_EQ(Measure([&] { return SetDword(key, "V"); }), (Cost{1, 2, 1, 1}));
  std::u16string name;
  const KeyRef software{Root::kMachine, {u"Software"}};
  EXPECT_EQ(Measure([&] { return store_.EnumKey(&software, 0, &name); }), (Cost{1, 1, 1, 0}));
  EXPECT_EQ(name, u"Kept");
}

// A volatile key lives in memory only: were a file read again after the
// store's own save, the key would be gone. A file changed by another
// program is read again, and the key goes with the old content.
TEST_F(SetUpRule, ItsOwnSaveIsNotReadAgain) {
  KeyRef key;
  KeyRef fleeting;
  ASSERT_EQ(Create("Software\\Kept", &key).code, vocab::ERROR_SUCCESS);
  ASSERT_EQ(Create("Software\\Fleeting", &fleeting, true).code, vocab::ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, "V").code, vocab::ERROR_SUCCESS);
  ASSERT_THAT(prefix_.Read("system.reg"), ::testing::Not(::testing::HasSubstr("Fleeting")));
  KeyRef again;
  bool created = true;
  EXPECT_EQ(store_.Open(&kMachine, u"Software\\Fleeting", OpenMode{}, &again, &created).code, vocab::ERROR_SUCCESS);
  EXPECT_FALSE(created);
  prefix_.Write("system.reg", prefix_.Read("system.reg") + Section("Software\\Other"));
  EXPECT_EQ(store_.Open(&kMachine, u"Software\\Fleeting", OpenMode{}, &again, &created).code,
            vocab::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(store_.Open(&kMachine, u"Software\\Other", OpenMode{}, &again, &created).code, vocab::ERROR_SUCCESS);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(store_.Close().code, vocab::ERROR_SUCCESS);
}

}  // namespace
