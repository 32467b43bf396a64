// The registry functions over a prefix: symbolic-link keys.
#include "tests/platform/posix/registry_fixture.h"

namespace {

using namespace posix_registry_test;  // NOLINT: the shared fixture

// --- Symbolic-link keys ---------------------------------------------------------

constexpr char kUserHeader32[] =
    "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win32\n";
constexpr char kMachineSoftware[] = "\\REGISTRY\\Machine\\Software\\";
constexpr char kUserSoftware[] = "\\REGISTRY\\User\\S-1-5-21-0-0-0-1000\\Software\\";

// A section for the key at `path` (single backslashes), then `lines`.
std::string Section(const std::string& path, const std::string& lines) {
  std::string name;
  for (const char c : path) name += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\n[" + name + "] 1700000000\n#time=1da1747c66d0000\n" + lines;
}

// A link key's section: `target` as UTF-16 without a NUL, and `extra`
// bytes after it, in a SymbolicLinkValue written with the type tag `tag`.
std::string Link(const std::string& path, const std::string& target, const std::string& tag = "hex(6)",
                 const std::string& extra = "") {
  std::string hex;
  char byte[8];
  for (const char c : target) {
    std::snprintf(byte, sizeof byte, "%02x,00,", static_cast<unsigned char>(c));
    hex += byte;
  }
  for (const char c : extra) {
    std::snprintf(byte, sizeof byte, "%02x,", static_cast<unsigned char>(c));
    hex += byte;
  }
  hex.pop_back();
  return Section(path, "#link\n\"SymbolicLinkValue\"=" + tag + ":" + hex + "\n");
}

// Links from Software\C1 through Software\C<n> to Software\Target.
std::string Chain(int n) {
  std::string links;
  for (int i = 1; i <= n; ++i) {
    const std::string next = i == n ? "Target" : "C" + std::to_string(i + 1);
    links += Link("Software\\C" + std::to_string(i), kMachineSoftware + next);
  }
  return links;
}

// Whether every link key of a saved file holds its SymbolicLinkValue only
// and has no subkeys.
::testing::AssertionResult LinksHoldNothingElse(const std::string& text) {
  std::optional<winereg::Hive> hive = winereg::Parse(winereg::ParseInput::FromString(text));
  if (!hive) return ::testing::AssertionFailure() << "does not parse";
  std::vector<const winereg::Key*> pending{&hive->root};
  while (!pending.empty()) {
    const winereg::Key* key = pending.back();
    pending.pop_back();
    if (key->is_link() &&
        (key->has_subkeys() || key->values().size() != 1 || key->values()[0].name != u"SymbolicLinkValue")) {
      return ::testing::AssertionFailure() << "a link key holds more than its SymbolicLinkValue";
    }
    for (const auto& child : key->subkeys()) pending.push_back(child.get());
  }
  return ::testing::AssertionSuccess();
}

class LinkTest : public PrefixRegistryTest {
 protected:
  // Software\Target (V=1) and its subkey Deeper (V=2) in a 32-bit prefix;
  // HKCU Software\UserTarget (V=3).
  void Use(const std::string& links) {
    prefix_.Write("system.reg", std::string(kHeader32) + Section("Software\\Target", "\"V\"=dword:00000001\n") +
                                    Section("Software\\Target\\Deeper", "\"V\"=dword:00000002\n") + links);
    prefix_.Write("user.reg", std::string(kUserHeader32) + Section("Software\\UserTarget", "\"V\"=dword:00000003\n"));
    system_ = File();
    user_ = prefix_.Read("user.reg");
  }
  bool Unchanged() const { return File() == system_ && prefix_.Read("user.reg") == user_; }

  std::string system_;
  std::string user_;
};

// Opening follows links as wineserver does: any value type read as UTF-16,
// from the registry's root, through other links up to 32 deep.
struct FollowCase {
  const char* name;
  std::string links;
  const char* path;
  LONG status;
  BYTE value;  // V of the key reached
};

void PrintTo(const FollowCase& c, std::ostream* os) { *os << c.name; }

class LinkFollowTest : public LinkTest, public ::testing::WithParamInterface<FollowCase> {};

TEST_P(LinkFollowTest, OpensWhatWineOpens) {
  const FollowCase& c = GetParam();
  Use(c.links);
  HKEY key = 0x1234;
  ASSERT_EQ(reg_.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, c.path, 0, plat::KEY_QUERY_VALUE, &key), c.status);
  if (c.status == plat::ERROR_SUCCESS) {
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(reg_.RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(value, c.value);
    (void)reg_.RegCloseKey(key);
  } else {
    EXPECT_EQ(key, 0U);
  }
  EXPECT_TRUE(Unchanged());
}

const std::string kToTarget = std::string(kMachineSoftware) + "Target";

INSTANTIATE_TEST_SUITE_P(
    Table, LinkFollowTest,
    ::testing::Values(
        FollowCase{"RegLink", Link("Software\\L", kToTarget), "Software\\L", 0, 1},
        FollowCase{"PathGoesOnInTheTarget", Link("Software\\L", kToTarget), "Software\\L\\Deeper", 0, 2},
        // Chains: 32 links one inside another at most.
        FollowCase{"Chain", Chain(2), "Software\\C1", 0, 1}, FollowCase{"ChainOf32", Chain(32), "Software\\C1", 0, 1},
        FollowCase{"ChainOf33", Chain(33), "Software\\C1", plat::ERROR_INVALID_PARAMETER, 0},
        FollowCase{"LinkInsideTheTarget",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2\\Deeper") + Link("Software\\L2", kToTarget),
                   "Software\\L", 0, 2},
        FollowCase{"StringWithoutNul", Link("Software\\L", kToTarget, "hex(1)"), "Software\\L", 0, 1},
        FollowCase{"ExpandString", Link("Software\\L", kToTarget, "hex(2)"), "Software\\L", 0, 1},
        FollowCase{"Binary", Link("Software\\L", kToTarget, "hex"), "Software\\L", 0, 1},
        FollowCase{"OddByteLeftOut", Link("Software\\L", kToTarget, "hex(6)", "A"), "Software\\L", 0, 1},
        FollowCase{"CaseAndBackslashRuns", Link("Software\\L", "\\registry\\MACHINE\\\\software\\\\\\target\\"),
                   "Software\\L", 0, 1},
        FollowCase{"MachineRoot", Link("Software\\L", "\\REGISTRY\\Machine"), "Software\\L\\Software\\Target", 0, 1},
        FollowCase{"UserBranch", Link("Software\\L", std::string(kUserSoftware) + "UserTarget"), "Software\\L", 0, 3},
        // The string's NUL is part of the name: a key "Target\0" is looked for.
        FollowCase{"StringWithNul",
                   Section("Software\\L", "#link\n\"SymbolicLinkValue\"=\"" +
                                              std::string("\\\\REGISTRY\\\\Machine\\\\Software\\\\Target") + "\"\n"),
                   "Software\\L", plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NoLinkValue", Section("Software\\L", "#link\n"), "Software\\L", plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NotFromTheRoot", Link("Software\\L", kToTarget.substr(1)), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"Dangling", Link("Software\\L", std::string(kMachineSoftware) + "New"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"DanglingOnTheWay", Link("Software\\L", std::string(kMachineSoftware) + "New"), "Software\\L\\Sub",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NameTooLong", Link("Software\\L", std::string(kMachineSoftware) + std::string(257, 'n')),
                   "Software\\L", plat::ERROR_INVALID_PARAMETER, 0},
        // Keys the backend does not hold.
        FollowCase{"DefaultUser", Link("Software\\L", "\\REGISTRY\\User\\.Default\\Software"), "Software\\L",
                   plat::ERROR_NOT_SUPPORTED, 0},
        FollowCase{"RegistryRoot", Link("Software\\L", "\\REGISTRY"), "Software\\L", plat::ERROR_NOT_SUPPORTED, 0},
        // Not there for wineserver either.
        FollowCase{"NoSuchBranch", Link("Software\\L", "\\REGISTRY\\NewBranch"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"NoSuchUser", Link("Software\\L", "\\REGISTRY\\User\\S-1-5-21-9\\Software"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0},
        FollowCase{"OutsideTheRegistry", Link("Software\\L", "\\??\\C:"), "Software\\L", plat::ERROR_NOT_SUPPORTED, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// A link loop fails as under Wine (ERROR_INVALID_PARAMETER), whichever call
// meets it, and nothing is written.
struct LoopCase {
  const char* name;
  bool win64;
  std::string links;
  std::string path;  // as the program names it
};

struct LoopOp {
  const char* name;
  LONG (*call)(plat::Registry&, const std::string&, HKEY*);
};

void PrintTo(const LoopCase& c, std::ostream* os) { *os << c.name; }
void PrintTo(const LoopOp& c, std::ostream* os) { *os << c.name; }

class LinkLoopTest : public PrefixRegistryTest, public ::testing::WithParamInterface<std::tuple<LoopCase, LoopOp>> {};

TEST_P(LinkLoopTest, FailsAndWritesNothing) {
  const auto& [loop, op] = GetParam();
  prefix_.Write("system.reg", std::string(loop.win64 ? kHeader64 : kHeader32) + loop.links);
  const std::string before = File();
  HKEY key = 0;
  EXPECT_EQ(op.call(reg_, loop.path, &key), plat::ERROR_INVALID_PARAMETER);
  EXPECT_EQ(key, 0U);
  EXPECT_EQ(reg_.Flush(), plat::ERROR_SUCCESS);
  EXPECT_EQ(File(), before);
}

const LoopCase kLoops[] = {
    {"ToItself", false, Link("Software\\Mediamatics", std::string(kMachineSoftware) + "Mediamatics"),
     "Software\\Mediamatics"},
    {"OfTwo", false,
     Link("Software\\Mediamatics", std::string(kMachineSoftware) + "Other") +
         Link("Software\\Other", std::string(kMachineSoftware) + "Mediamatics"),
     "Software\\Mediamatics"},
    {"InWow6432Node", true,
     Section("Software\\Wow6432Node", "") +
         Link("Software\\Wow6432Node\\Mediamatics", std::string(kMachineSoftware) + "Wow6432Node\\Mediamatics"),
     "Software\\Mediamatics"},
};

LONG CreateAt(plat::Registry& r, HKEY root, const std::string& path, HKEY* key) {
  return r.RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, key, nullptr);
}
LONG OpenIt(plat::Registry& r, const std::string& path, HKEY* key) {
  return r.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, path.c_str(), 0, plat::KEY_ALL_ACCESS, key);
}
LONG CreateIt(plat::Registry& r, const std::string& path, HKEY* key) {
  return CreateAt(r, plat::HKEY_LOCAL_MACHINE, path, key);
}
LONG CreateBelowIt(plat::Registry& r, const std::string& path, HKEY* key) {
  return CreateAt(r, plat::HKEY_LOCAL_MACHINE, path + "\\DVD Express\\Formats", key);
}
LONG CreateFromAHandle(plat::Registry& r, const std::string& path, HKEY* key) {
  HKEY software = 0;
  if (const LONG open = r.RegOpenKeyExA(plat::HKEY_LOCAL_MACHINE, "Software", 0, plat::KEY_ALL_ACCESS, &software);
      open != plat::ERROR_SUCCESS) {
    return open;
  }
  const LONG status = CreateAt(r, software, path.substr(path.find('\\') + 1) + "\\Formats", key);
  (void)r.RegCloseKey(software);
  return status;
}
LONG DeleteIt(plat::Registry& r, const std::string& path, HKEY*) {
  return r.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, path.c_str());
}

const LoopOp kLoopOps[] = {{"Open", OpenIt},
                           {"Create", CreateIt},
                           {"CreateBelow", CreateBelowIt},
                           {"CreateFromAnOpenHandle", CreateFromAHandle},
                           {"Delete", DeleteIt}};

INSTANTIATE_TEST_SUITE_P(Calls, LinkLoopTest,
                         ::testing::Combine(::testing::ValuesIn(kLoops), ::testing::ValuesIn(kLoopOps)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

// A handle whose key became a link (the file changed under it): nothing is
// written under the link key; a subkey goes where the link leads.
TEST_F(LinkTest, AnOpenHandleNeverWritesUnderALinkKey) {
  Use(Section("Software\\Mediamatics", ""));
  const HKEY key = Create("Software\\Mediamatics");
  for (const auto& [target, status] :
       {std::pair{std::string(kMachineSoftware) + "Mediamatics", plat::ERROR_INVALID_PARAMETER},
        std::pair{kToTarget, plat::ERROR_SUCCESS}}) {
    SCOPED_TRACE(target);
    Use(Link("Software\\Mediamatics", target));
    EXPECT_EQ(SetDword(key, "YV12", 0), plat::ERROR_ACCESS_DENIED);
    HKEY sub = 0;
    EXPECT_EQ(reg_.RegCreateKeyExA(key, "Formats", 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              status);
    if (sub != 0) {
      EXPECT_EQ(SetDword(sub, "NMMC", 0), plat::ERROR_SUCCESS);
      (void)reg_.RegCloseKey(sub);
      EXPECT_EQ(testenv::ReadRaw(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Target\\Formats", "NMMC"),
                (RawValue{plat::REG_DWORD, {0, 0, 0, 0}}));
    } else {
      EXPECT_TRUE(Unchanged());
    }
    EXPECT_TRUE(LinksHoldNothingElse(File()));
  }
  (void)reg_.RegCloseKey(key);
}

// Creating through a link creates under its target; a target whose last key
// is missing is created, as wineserver does.
struct CreateCase {
  const char* name;
  std::string links;
  const char* path;
  LONG status;
  DWORD disposition;
  HKEY target_root;
  const char* target;  // where the key created or opened is
};

void PrintTo(const CreateCase& c, std::ostream* os) { *os << c.name; }

class LinkCreateTest : public LinkTest, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(LinkCreateTest, CreatesWhereWineCreates) {
  const CreateCase& c = GetParam();
  Use(c.links);
  HKEY key = 0;
  DWORD disposition = 0;
  ASSERT_EQ(reg_.RegCreateKeyExA(plat::HKEY_LOCAL_MACHINE, c.path, 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key,
                                 &disposition),
            c.status);
  if (c.status != plat::ERROR_SUCCESS) {
    EXPECT_EQ(key, 0U);
    EXPECT_EQ(reg_.Flush(), plat::ERROR_SUCCESS);
    EXPECT_TRUE(Unchanged());
    return;
  }
  EXPECT_EQ(disposition, c.disposition);
  EXPECT_EQ(SetDword(key, "N", 9), plat::ERROR_SUCCESS);
  EXPECT_EQ(reg_.RegCloseKey(key), plat::ERROR_SUCCESS);
  EXPECT_EQ(testenv::ReadRaw(reg_, c.target_root, c.target, "N"), (RawValue{plat::REG_DWORD, {9, 0, 0, 0}}));
  EXPECT_TRUE(LinksHoldNothingElse(File()));
  if (c.target_root == plat::HKEY_CURRENT_USER) {
    EXPECT_EQ(File(), system_);
  }
}

const std::string kToNew = std::string(kMachineSoftware) + "New";

INSTANTIATE_TEST_SUITE_P(
    Table, LinkCreateTest,
    ::testing::Values(
        CreateCase{"ExistingTarget", Link("Software\\L", kToTarget), "Software\\L", 0, plat::REG_OPENED_EXISTING_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\Target"},
        CreateCase{"BelowTheTarget", Link("Software\\L", kToTarget), "Software\\L\\Sub", 0, plat::REG_CREATED_NEW_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\Target\\Sub"},
        CreateCase{"LinkInsideTheTarget",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2\\Deeper") + Link("Software\\L2", kToTarget),
                   "Software\\L\\New", 0, plat::REG_CREATED_NEW_KEY, plat::HKEY_LOCAL_MACHINE,
                   "Software\\Target\\Deeper\\New"},
        CreateCase{"DanglingMakesItsTarget", Link("Software\\L", kToNew), "Software\\L", 0, plat::REG_CREATED_NEW_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\New"},
        CreateCase{"DanglingOnTheWay", Link("Software\\L", kToNew), "Software\\L\\Sub", 0, plat::REG_CREATED_NEW_KEY,
                   plat::HKEY_LOCAL_MACHINE, "Software\\New\\Sub"},
        CreateCase{"DanglingChain",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2") + Link("Software\\L2", kToNew),
                   "Software\\L", 0, plat::REG_CREATED_NEW_KEY, plat::HKEY_LOCAL_MACHINE, "Software\\New"},
        CreateCase{"IntoTheUserBranch", Link("Software\\L", std::string(kUserSoftware) + "UserNew"), "Software\\L", 0,
                   plat::REG_CREATED_NEW_KEY, plat::HKEY_CURRENT_USER, "Software\\UserNew"},
        CreateCase{"TwoKeysMissing", Link("Software\\L", std::string(kMachineSoftware) + "Missing\\New"), "Software\\L",
                   plat::ERROR_FILE_NOT_FOUND, 0, 0, nullptr},
        CreateCase{"DanglingInsideTheTarget",
                   Link("Software\\L", std::string(kMachineSoftware) + "L2\\Sub") + Link("Software\\L2", kToNew),
                   "Software\\L", plat::ERROR_FILE_NOT_FOUND, 0, 0, nullptr},
        CreateCase{"NewBranch", Link("Software\\L", "\\REGISTRY\\NewBranch"), "Software\\L", plat::ERROR_NOT_SUPPORTED,
                   0, 0, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// RegDeleteKeyA opens the key, so a link's target goes and the link stays.
TEST_F(LinkTest, DeletingALinkDeletesItsTarget) {
  Use(Link("Software\\L", kToTarget + "\\Deeper") + Link("Software\\Parent", kToTarget) + Link("Software\\D", kToNew));
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\Parent"), plat::ERROR_ACCESS_DENIED);
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\D"), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(Unchanged());
  EXPECT_EQ(reg_.RegDeleteKeyA(plat::HKEY_LOCAL_MACHINE, "Software\\L"), plat::ERROR_SUCCESS);
  EXPECT_FALSE(testenv::KeyPresent(reg_, plat::HKEY_LOCAL_MACHINE, "Software\\Target\\Deeper"));
  EXPECT_THAT(File(),
              HasSubstr("\n[Software\\\\L] 1700000000\n#time=1da1747c66d0000\n#link\n\"SymbolicLinkValue\"=hex(6):"));
  EXPECT_TRUE(LinksHoldNothingElse(File()));
}

}  // namespace
