// GetKeyValue against the build's own registry (a temporary prefix natively,
// the real registry under Wine or Windows), and StartSysInfo observed through
// the shell and message-box facilities.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "about/frmAbout.h"
#include "platform/app.h"
#include "platform/facility.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "tests/support/registry_env.h"
#include "tests/support/scripted.h"

namespace {

using plat::BYTE;
using plat::DWORD;
using plat::HKEY;
using plat::LONG;
using skelvin::frmAbout;

std::string Ansi(const std::u16string& text) { return plat::ToAnsi(text); }

// Forwards to the registry under test and records the calls GetKeyValue
// makes; keys below HKEY_LOCAL_MACHINE can be moved to a test key.
class ObservedRegistry final : public plat::Registry {
 public:
  struct Open {
    HKEY root;
    std::string path;
    DWORD options;
    plat::REGSAM sam;
    HKEY result;
  };
  struct Query {
    HKEY key;
    std::string name;
    bool reserved_null;
    DWORD size_on_entry;
    bool buffer_zeroed;
    bool type_wanted;
  };

  ObservedRegistry(plat::Registry& inner, HKEY root, std::string moved_machine)
      : inner_(inner), root_(root), moved_(std::move(moved_machine)) {}

  LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, plat::REGSAM samDesired,
                     HKEY* phkResult) override {
    const std::string path = lpSubKey != nullptr ? lpSubKey : "";
    LONG status;
    if (hKey == plat::HKEY_LOCAL_MACHINE && !moved_.empty()) {
      status = inner_.RegOpenKeyExA(root_, (moved_ + "\\" + path).c_str(), ulOptions, samDesired, phkResult);
    } else {
      status = inner_.RegOpenKeyExA(hKey, lpSubKey, ulOptions, samDesired, phkResult);
    }
    opens.push_back({hKey, path, ulOptions, samDesired, phkResult != nullptr ? *phkResult : 0});
    return status;
  }
  LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType, BYTE* lpData,
                        DWORD* lpcbData) override {
    Query q{hKey,
            lpValueName != nullptr ? lpValueName : "",
            lpReserved == nullptr,
            lpcbData != nullptr ? *lpcbData : 0,
            false,
            lpType != nullptr};
    if (lpData != nullptr && lpcbData != nullptr) {
      q.buffer_zeroed = std::all_of(lpData, lpData + *lpcbData, [](BYTE b) { return b == 0; });
    }
    queries.push_back(q);
    return inner_.RegQueryValueExA(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
  }
  // Closes the key; with closeFaults set, then raises a fault.
  LONG RegCloseKey(HKEY hKey) override {
    closes.push_back(hKey);
    const LONG status = inner_.RegCloseKey(hKey);
    if (closeFaults) throw plat::Fault(plat::kPathFileAccessError);
    return status;
  }
  LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, char* lpClass, DWORD dwOptions,
                       plat::REGSAM samDesired, const plat::SECURITY_ATTRIBUTES* sa, HKEY* phkResult,
                       DWORD* lpdwDisposition) override {
    ADD_FAILURE() << "RegCreateKeyExA(" << (lpSubKey != nullptr ? lpSubKey : "") << ")";
    return inner_.RegCreateKeyExA(hKey, lpSubKey, Reserved, lpClass, dwOptions, samDesired, sa, phkResult,
                                  lpdwDisposition);
  }
  LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                      DWORD cbData) override {
    ADD_FAILURE() << "RegSetValueExA(" << (lpValueName != nullptr ? lpValueName : "") << ")";
    return inner_.RegSetValueExA(hKey, lpValueName, Reserved, dwType, lpData, cbData);
  }
  LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char* lpValueName, DWORD* lpcchValueName, DWORD* lpReserved,
                     DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
    return inner_.RegEnumValueA(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData);
  }
  LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, char* lpName, DWORD cchName) override {
    return inner_.RegEnumKeyA(hKey, dwIndex, lpName, cchName);
  }
  LONG RegDeleteKeyA(HKEY hKey, const char* lpSubKey) override {
    ADD_FAILURE() << "RegDeleteKeyA";
    return inner_.RegDeleteKeyA(hKey, lpSubKey);
  }

  std::vector<Open> opens;
  std::vector<Query> queries;
  std::vector<HKEY> closes;
  bool closeFaults = false;

 private:
  plat::Registry& inner_;
  HKEY root_;
  std::string moved_;
};

class GetKeyValueTest : public ::testing::Test {
 protected:
  GetKeyValueTest() : observed(env.api(), env.root(), "") {}

  std::string Key(const std::string& below = "Values") const { return Ansi(env.base()) + "\\" + below; }

  void Put(const std::string& path, const std::string& name, DWORD type, const std::vector<BYTE>& data, DWORD count) {
    HKEY key = 0;
    ASSERT_EQ(env.api().RegCreateKeyExA(env.root(), path.c_str(), 0, nullptr, 0, 0x2003F, nullptr, &key, nullptr),
              plat::ERROR_SUCCESS);
    const LONG status = env.api().RegSetValueExA(key, name.c_str(), 0, type, data.data(), count);
    (void)env.api().RegCloseKey(key);  // the write's status is what is checked
    ASSERT_EQ(status, plat::ERROR_SUCCESS) << name;
  }
  void Put(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    Put(Key(), name, type, data, static_cast<DWORD>(data.size()));
  }
  static std::vector<BYTE> Bytes(const std::string& text) { return {text.begin(), text.end()}; }
  static std::vector<BYTE> Dword(DWORD value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
            static_cast<BYTE>(value >> 24)};
  }

  // GetKeyValue with the test's key, through the observing registry.
  std::int16_t Get(const std::string& name, std::u16string& value) {
    std::int32_t root = static_cast<std::int32_t>(env.root());
    std::u16string key = plat::FromAnsi(Key());
    std::u16string sub = plat::FromAnsi(name);
    plat::ScopedUse<plat::Registry> use(observed);
    const std::int16_t result = form.GetKeyValue(root, key, sub, value);
    EXPECT_EQ(root, static_cast<std::int32_t>(env.root()));
    return result;
  }

  // Every key opened was closed, and the failed open's 0 too.
  void ExpectBalanced() {
    ASSERT_EQ(observed.opens.size(), 1U);
    ASSERT_EQ(observed.closes.size(), 1U);
    EXPECT_EQ(observed.closes[0], observed.opens[0].result);
  }

  testenv::RegistryEnv env;
  ObservedRegistry observed;
  frmAbout form;
};

TEST_F(GetKeyValueTest, TextWithItsTerminatingZero) {
  Put("Text", plat::REG_SZ, Bytes(std::string("C:\\Tools\\msinfo32.exe", 21) + '\0'));
  std::u16string value;
  EXPECT_EQ(Get("Text", value), -1);
  EXPECT_EQ(value, u"C:\\Tools\\msinfo32.exe");
  ExpectBalanced();
}

TEST_F(GetKeyValueTest, TextWithoutTerminatingZero) {
  // Stored from "abcX" with a count of 3: no zero follows the counted bytes.
  const std::vector<BYTE> data = Bytes("abcX");
  Put(Key(), "Bare", plat::REG_SZ, data, 3);
  std::u16string value;
  EXPECT_EQ(Get("Bare", value), -1);
  EXPECT_EQ(value, u"abc");
}

TEST_F(GetKeyValueTest, EmptyText) {
  Put("Empty", plat::REG_SZ, {0});
  std::u16string value = u"before";
  EXPECT_EQ(Get("Empty", value), -1);
  EXPECT_EQ(value, u"");
}

TEST_F(GetKeyValueTest, TextOfCodePageCharacters) {
  Put("Accents", plat::REG_SZ, Bytes(std::string("caf\xE9 \x80", 6) + '\0'));
  std::u16string value;
  EXPECT_EQ(Get("Accents", value), -1);
  EXPECT_EQ(value, u"caf\u00E9 \u20AC");
}

TEST_F(GetKeyValueTest, LongestTextThatFits) {
  Put("Long", plat::REG_SZ, Bytes(std::string(1023, 'a') + '\0'));
  std::u16string value;
  EXPECT_EQ(Get("Long", value), -1);
  EXPECT_EQ(value, std::u16string(1023, u'a'));
}

TEST_F(GetKeyValueTest, TextOf1025BytesFails) {
  Put("TooLong", plat::REG_SZ, Bytes(std::string(1024, 'a') + '\0'));
  std::u16string value = u"keep";
  EXPECT_EQ(Get("TooLong", value), 0);
  EXPECT_EQ(value, u"");
  ExpectBalanced();
}

TEST_F(GetKeyValueTest, Binary1025BytesFailsAnd1024Fit) {
  Put("Big", plat::REG_BINARY, std::vector<BYTE>(1025, 0x41));
  Put("Fits", plat::REG_BINARY, std::vector<BYTE>(1024, 0x41));
  std::u16string value = u"keep";
  EXPECT_EQ(Get("Big", value), 0);
  EXPECT_EQ(value, u"");
  value = u"keep";
  EXPECT_EQ(Get("Fits", value), -1);
  EXPECT_EQ(value, u"keep");
}

struct DwordCase {
  DWORD value;
  const char16_t* text;     // KeyVal passed empty
  const char16_t* after_x;  // KeyVal passed as "x": "&h" + "x" + digits is no number
};

class GetKeyValueDword : public GetKeyValueTest, public ::testing::WithParamInterface<DwordCase> {};

TEST_P(GetKeyValueDword, DigitsAndDecimalText) {
  Put("Number", plat::REG_DWORD, Dword(GetParam().value));
  std::u16string value;
  EXPECT_EQ(Get("Number", value), -1);
  EXPECT_EQ(value, GetParam().text);
  // The digits appended to what KeyVal held, two per byte, most significant
  // first, the zero top byte trimmed.
  value = u"x";
  EXPECT_EQ(Get("Number", value), -1);
  EXPECT_EQ(value, GetParam().after_x);
}

INSTANTIATE_TEST_SUITE_P(Values, GetKeyValueDword,
                         ::testing::Values(DwordCase{0x00000100, u"256", u"&hx000100"},
                                           DwordCase{0x0000000A, u"10", u"&hx00000A"},
                                           DwordCase{0x00000000, u"0", u"&hx000000"},
                                           DwordCase{0x00FFFFFF, u"16777215", u"&hxFFFFFF"},
                                           DwordCase{0x12345678, u"305419896", u"&hx12345678"},
                                           DwordCase{0x7FFFFFFF, u"2147483647", u"&hx7FFFFFFF"},
                                           DwordCase{0x80000000, u"-2147483648", u"&hx80000000"},
                                           DwordCase{0xFFFFFFFF, u"-1", u"&hxFFFFFFFF"}));

TEST_F(GetKeyValueTest, DwordDigitsAppendedToHexText) {
  // KeyVal "12" + digits "000100" make the literal &h12000100.
  Put("Number", plat::REG_DWORD, Dword(0x100));
  std::u16string value = u"12";
  EXPECT_EQ(Get("Number", value), -1);
  EXPECT_EQ(value, u"301990144");
}

class GetKeyValueOtherType : public GetKeyValueTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(GetKeyValueOtherType, LeavesTheTextAsPassed) {
  Put("Other", GetParam(), Bytes(std::string("%SystemRoot%\\x", 14) + '\0'));
  std::u16string value = u"as passed";
  EXPECT_EQ(Get("Other", value), -1);
  EXPECT_EQ(value, u"as passed");
  value.clear();
  EXPECT_EQ(Get("Other", value), -1);
  EXPECT_EQ(value, u"");
}

INSTANTIATE_TEST_SUITE_P(Types, GetKeyValueOtherType,
                         ::testing::Values(plat::REG_EXPAND_SZ, plat::REG_BINARY, plat::REG_MULTI_SZ));

TEST_F(GetKeyValueTest, MissingKey) {
  std::u16string value = u"keep";
  std::int32_t root = static_cast<std::int32_t>(env.root());
  std::u16string key = plat::FromAnsi(Key("Nowhere"));
  std::u16string sub = u"PATH";
  {
    plat::ScopedUse<plat::Registry> use(observed);
    EXPECT_EQ(form.GetKeyValue(root, key, sub, value), 0);
  }
  EXPECT_EQ(value, u"");
  EXPECT_TRUE(observed.queries.empty());
  // No key was opened, so none is closed.
  EXPECT_TRUE(observed.closes.empty());
}

TEST_F(GetKeyValueTest, MissingValue) {
  Put("Present", plat::REG_SZ, Bytes(std::string("x", 1) + '\0'));
  std::u16string value = u"keep";
  EXPECT_EQ(Get("Absent", value), 0);
  EXPECT_EQ(value, u"");
  ExpectBalanced();
}

TEST_F(GetKeyValueTest, ZeroLengthDataIsFault5) {
  Put("Nothing", plat::REG_BINARY, {});
  std::u16string value = u"keep";
  try {
    Get("Nothing", value);
    FAIL() << "no error";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), plat::kInvalidArgument);
  }
  EXPECT_EQ(value, u"keep");
  ExpectBalanced();
}

// A fault of RegCloseKey leaves GetKeyValue as any fault of its steps does;
// one already on its way out (no data) closes the key silently and stands.
struct FaultingCloseCase {
  const char* name;
  std::int32_t number;
};

class GetKeyValueFaultingClose : public GetKeyValueTest, public ::testing::WithParamInterface<FaultingCloseCase> {};

TEST_P(GetKeyValueFaultingClose, TheFaultReachesTheCaller) {
  Put("Text", plat::REG_SZ, Bytes(std::string("v", 1) + '\0'));
  Put("Nothing", plat::REG_BINARY, {});
  observed.closeFaults = true;
  std::u16string value;
  try {
    Get(GetParam().name, value);
    FAIL() << "no error";
  } catch (const plat::Error& error) {
    EXPECT_EQ(error.Number(), GetParam().number);
  }
  ExpectBalanced();
}

INSTANTIATE_TEST_SUITE_P(Values, GetKeyValueFaultingClose,
                         ::testing::Values(FaultingCloseCase{"Text", plat::kPathFileAccessError},
                                           FaultingCloseCase{"Absent", plat::kPathFileAccessError},
                                           FaultingCloseCase{"Nothing", plat::kInvalidArgument}),
                         [](const ::testing::TestParamInfo<FaultingCloseCase>& info) { return info.param.name; });

TEST_F(GetKeyValueTest, CallsAsTheRegistryIsAskedThem) {
  Put("Text", plat::REG_SZ, Bytes(std::string("v", 1) + '\0'));
  std::u16string value;
  ASSERT_EQ(Get("Text", value), -1);
  ASSERT_EQ(observed.opens.size(), 1U);
  EXPECT_EQ(observed.opens[0].root, env.root());
  EXPECT_EQ(observed.opens[0].path, Key());
  EXPECT_EQ(observed.opens[0].options, 0U);
  EXPECT_EQ(observed.opens[0].sam, 0x2003FU);
  ASSERT_EQ(observed.queries.size(), 1U);
  EXPECT_EQ(observed.queries[0].key, observed.opens[0].result);
  EXPECT_EQ(observed.queries[0].name, "Text");
  EXPECT_TRUE(observed.queries[0].reserved_null);
  EXPECT_TRUE(observed.queries[0].type_wanted);
  EXPECT_EQ(observed.queries[0].size_on_entry, 1024U);
  EXPECT_TRUE(observed.queries[0].buffer_zeroed);
  ExpectBalanced();
}

TEST_F(GetKeyValueTest, NamesComeBackAsTheirAnsiRoundTrip) {
  // U+0101 is not in the ANSI code page: it travels as '?'.
  const std::u16string wide_key = plat::FromAnsi(Key()) + u"\\\u0101 caf\u00E9";
  const std::u16string wide_value = u"\u0101";
  Put(Ansi(wide_key), Ansi(wide_value), plat::REG_SZ, Bytes(std::string("found", 5) + '\0'), 6);
  std::int32_t root = static_cast<std::int32_t>(env.root());
  std::u16string key = wide_key;
  std::u16string sub = wide_value;
  std::u16string value;
  EXPECT_EQ(form.GetKeyValue(root, key, sub, value), -1);
  EXPECT_EQ(value, u"found");
  EXPECT_EQ(key, plat::FromAnsi(Key()) + u"\\? caf\u00E9");
  EXPECT_EQ(sub, u"?");
}

// StartSysInfo. The two HKEY_LOCAL_MACHINE keys are moved below the test's
// own key; the file lookup, the start and the message are recorded.
class RecordingShell final : public plat::Shell {
 public:
  LONG FindFile(const char* lpFileName, DWORD dwAttributes, std::string* lpFound) override {
    lookups.push_back(lpFileName);
    attributes.push_back(dwAttributes);
    lpFound->clear();
    if (files.count(lpFileName) == 0) return plat::ERROR_FILE_NOT_FOUND;
    const std::string path = lpFileName;
    *lpFound = path.substr(path.find_last_of('\\') + 1);
    return plat::ERROR_SUCCESS;
  }
  LONG StartProcess(const char* lpCommandLine, plat::UINT nShowCmd, DWORD* lpProcessId) override {
    starts.push_back(lpCommandLine);
    show.push_back(nShowCmd);
    if (programs.count(lpCommandLine) == 0) return plat::ERROR_FILE_NOT_FOUND;
    *lpProcessId = 4242;
    return plat::ERROR_SUCCESS;
  }

  std::set<std::string> files;
  std::set<std::string> programs;
  std::vector<std::string> lookups;
  std::vector<DWORD> attributes;
  std::vector<std::string> starts;
  std::vector<plat::UINT> show;
};

constexpr char kFirstKey[] = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr char kSecondKey[] = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr char16_t kMessage[] = u"System Information Is Unavailable At This Time";

class StartSysInfoTest : public GetKeyValueTest {
 protected:
  StartSysInfoTest() : moved(env.api(), env.root(), Ansi(env.base()) + "\\HKLM") {}

  void PutMachine(const std::string& path, const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    Put(Ansi(env.base()) + "\\HKLM\\" + path, name, type, data, static_cast<DWORD>(data.size()));
  }
  void PutText(const std::string& path, const std::string& name, const std::string& text) {
    PutMachine(path, name, plat::REG_SZ, Bytes(text + '\0'));
  }

  void Run() {
    plat::ScopedUse<plat::Registry> r(moved);
    plat::ScopedUse<plat::Shell> s(shell);
    plat::ScopedUse<plat::MsgBox> m(box);
    form.StartSysInfo();
  }
  std::vector<std::string> OpenedPaths() const {
    std::vector<std::string> paths;
    for (const auto& open : moved.opens) {
      EXPECT_EQ(open.root, plat::HKEY_LOCAL_MACHINE);
      EXPECT_EQ(open.sam, 0x2003FU);
      paths.push_back(open.path);
    }
    return paths;
  }
  void ExpectMessage() {
    ASSERT_EQ(box.calls.size(), 1U);
    EXPECT_EQ(box.calls[0].text, kMessage);
    EXPECT_EQ(box.calls[0].caption, plat::App().Title);
    EXPECT_EQ(box.calls[0].type, 0U);
  }
  // Every key that opened is closed, in order; a failed open holds nothing.
  void ExpectAllClosed() const {
    std::vector<HKEY> opened;
    for (const auto& open : moved.opens) {
      if (open.result != 0) opened.push_back(open.result);
    }
    EXPECT_EQ(moved.closes, opened);
  }

  ObservedRegistry moved;
  RecordingShell shell;
  testenv::RecordingMsgBox box;
};

TEST_F(StartSysInfoTest, FirstLocationIsStartedAndTheSecondNeverRead) {
  PutText(kFirstKey, "PATH", "C:\\Program Files\\Common Files\\msinfo32.exe");
  PutText(kSecondKey, "MSINFO", "C:\\Elsewhere");
  shell.programs.insert("C:\\Program Files\\Common Files\\msinfo32.exe");
  Run();
  EXPECT_EQ(OpenedPaths(), std::vector<std::string>{kFirstKey});
  EXPECT_TRUE(shell.lookups.empty());
  EXPECT_EQ(shell.starts, std::vector<std::string>{"C:\\Program Files\\Common Files\\msinfo32.exe"});
  EXPECT_EQ(shell.show, std::vector<plat::UINT>{1});
  EXPECT_TRUE(box.calls.empty());
  ExpectAllClosed();
}

TEST_F(StartSysInfoTest, FirstLocationNamingNoFileShowsTheMessage) {
  PutText(kFirstKey, "PATH", "C:\\Missing\\msinfo32.exe");
  PutText(kSecondKey, "MSINFO", "C:\\Sys");
  shell.files.insert("C:\\Sys\\MSINFO32.EXE");
  shell.programs.insert("C:\\Sys\\MSINFO32.EXE");
  Run();
  EXPECT_EQ(OpenedPaths(), std::vector<std::string>{kFirstKey});
  EXPECT_TRUE(shell.lookups.empty());
  EXPECT_EQ(shell.starts, std::vector<std::string>{"C:\\Missing\\msinfo32.exe"});
  ExpectMessage();
}

TEST_F(StartSysInfoTest, SecondLocationWithTheProgram) {
  PutText(kSecondKey, "MSINFO", "C:\\Sys");
  shell.files.insert("C:\\Sys\\MSINFO32.EXE");
  shell.programs.insert("C:\\Sys\\MSINFO32.EXE");
  Run();
  EXPECT_EQ(OpenedPaths(), (std::vector<std::string>{kFirstKey, kSecondKey}));
  EXPECT_EQ(shell.lookups, std::vector<std::string>{"C:\\Sys\\MSINFO32.EXE"});
  EXPECT_EQ(shell.attributes, std::vector<DWORD>{0});
  EXPECT_EQ(shell.starts, std::vector<std::string>{"C:\\Sys\\MSINFO32.EXE"});
  EXPECT_EQ(shell.show, std::vector<plat::UINT>{1});
  EXPECT_TRUE(box.calls.empty());
  ExpectAllClosed();
}

TEST_F(StartSysInfoTest, SecondLocationWhenTheFirstKeyHasNoPathValue) {
  PutText(kFirstKey, "Other", "C:\\Wrong\\msinfo32.exe");
  PutText(kSecondKey, "MSINFO", "C:\\Sys");
  shell.files.insert("C:\\Sys\\MSINFO32.EXE");
  shell.programs.insert("C:\\Sys\\MSINFO32.EXE");
  Run();
  EXPECT_EQ(shell.starts, std::vector<std::string>{"C:\\Sys\\MSINFO32.EXE"});
  EXPECT_TRUE(box.calls.empty());
}

TEST_F(StartSysInfoTest, SecondLocationWithoutTheProgram) {
  PutText(kSecondKey, "MSINFO", "C:\\Sys");
  shell.programs.insert("C:\\Sys\\MSINFO32.EXE");
  Run();
  EXPECT_EQ(shell.lookups, std::vector<std::string>{"C:\\Sys\\MSINFO32.EXE"});
  EXPECT_TRUE(shell.starts.empty());
  ExpectMessage();
  ExpectAllClosed();
}

TEST_F(StartSysInfoTest, NeitherLocation) {
  Run();
  EXPECT_EQ(OpenedPaths(), (std::vector<std::string>{kFirstKey, kSecondKey}));
  EXPECT_TRUE(shell.lookups.empty());
  EXPECT_TRUE(shell.starts.empty());
  ExpectMessage();
}

TEST_F(StartSysInfoTest, FirstLocationOfAnotherTypeLeavesThePathEmpty) {
  PutMachine(kFirstKey, "PATH", plat::REG_EXPAND_SZ, Bytes(std::string("%ProgramFiles%\\m.exe", 20) + '\0'));
  PutText(kSecondKey, "MSINFO", "C:\\Sys");
  shell.files.insert("C:\\Sys\\MSINFO32.EXE");
  Run();
  EXPECT_EQ(OpenedPaths(), std::vector<std::string>{kFirstKey});
  // The empty path is no command: nothing is started.
  EXPECT_TRUE(shell.starts.empty());
  ExpectMessage();
}

TEST_F(StartSysInfoTest, ZeroLengthValueEndsInTheMessage) {
  PutMachine(kFirstKey, "PATH", plat::REG_BINARY, {});
  PutText(kSecondKey, "MSINFO", "C:\\Sys");
  shell.files.insert("C:\\Sys\\MSINFO32.EXE");
  shell.programs.insert("C:\\Sys\\MSINFO32.EXE");
  Run();
  EXPECT_EQ(OpenedPaths(), std::vector<std::string>{kFirstKey});
  EXPECT_TRUE(shell.starts.empty());
  ExpectMessage();
  ExpectAllClosed();
}

TEST_F(StartSysInfoTest, AFaultingCloseEndsInTheMessage) {
  PutText(kFirstKey, "PATH", "C:\\Sys\\msinfo32.exe");
  shell.programs.insert("C:\\Sys\\msinfo32.exe");
  moved.closeFaults = true;
  Run();
  EXPECT_EQ(OpenedPaths(), std::vector<std::string>{kFirstKey});
  EXPECT_TRUE(shell.starts.empty());
  ExpectMessage();
  ExpectAllClosed();
}

TEST_F(StartSysInfoTest, MessageCarriesTheApplicationTitle) {
  plat::FixedAppInfo app(plat::AppInfo{u"Another Title", u"x", 1, 0, 0});
  const plat::ScopedUse<plat::AppMetadata> use_app(app);
  Run();
  ASSERT_EQ(box.calls.size(), 1U);
  EXPECT_EQ(box.calls[0].caption, u"Another Title");
}

TEST(GeneralFormat, HexLiteralsAndOtherTexts) {
  using skelvin::about::GeneralFormat;
  EXPECT_EQ(GeneralFormat(u"&h000100"), u"256");
  EXPECT_EQ(GeneralFormat(u"&H0a"), u"10");
  EXPECT_EQ(GeneralFormat(u"&hFFFF"), u"-1");  // four digits: 16-bit
  EXPECT_EQ(GeneralFormat(u"&h0FFFF"), u"65535");
  EXPECT_EQ(GeneralFormat(u"&h80000000"), u"-2147483648");
  EXPECT_EQ(GeneralFormat(u"&h123456789"), u"&h123456789");
  EXPECT_EQ(GeneralFormat(u"&h"), u"&h");
  EXPECT_EQ(GeneralFormat(u"&hxyz"), u"&hxyz");
  EXPECT_EQ(GeneralFormat(u"text"), u"text");
  EXPECT_EQ(GeneralFormat(u""), u"");
}

}  // namespace
