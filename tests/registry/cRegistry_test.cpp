// The accessor's behaviour on the build's own registry: natively a temporary
// Wine prefix, cross-compiled the real registry under Wine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/app.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/utf8.h"
#include "registry/cRegistry.h"
#include "tests/support/registry_env.h"
#include "tests/support/scripted.h"

namespace {

using plat::BYTE;
using testenv::RawValue;

std::string Utf8(const std::u16string& text) { return plat::ToUtf8(text); }

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() {
    reg_.ClassKey(static_cast<std::int32_t>(env_.root()));
    reg_.SectionKey(env_.base());
  }
  ~RegistryTest() override { testenv::RegistryEnv::DeleteTree(env_.api(), env_.root(), Base()); }

  std::string Base() const { return plat::ToAnsi(env_.base()); }
  std::string Path(const std::string& sub) const { return sub.empty() ? Base() : Base() + "\\" + sub; }
  std::optional<RawValue> Raw(const std::string& sub, const std::string& name) {
    return testenv::ReadRaw(env_.api(), env_.root(), Path(sub), name);
  }
  bool Present(const std::string& sub) { return testenv::KeyPresent(env_.api(), env_.root(), Path(sub)); }
  // Writes a raw value through the registry functions themselves.
  void Put(const std::string& sub, const std::string& name, plat::DWORD type, const std::vector<BYTE>& data) {
    plat::HKEY key = 0;
    ASSERT_EQ(env_.api().RegCreateKeyExA(env_.root(), Path(sub).c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr,
                                         &key, nullptr),
              plat::ERROR_SUCCESS);
    ASSERT_EQ(env_.api().RegSetValueExA(key, name.c_str(), 0, type, data.data(), static_cast<plat::DWORD>(data.size())),
              plat::ERROR_SUCCESS);
    (void)env_.api().RegCloseKey(key);  // set-up: read back by the test
  }
  void PutString(const std::string& sub, const std::string& name, const std::string& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    Put(sub, name, plat::REG_SZ, data);
  }
  void Select(const std::string& sub, const std::u16string& value) {
    reg_.SectionKey(plat::FromAnsi(Path(sub)));
    reg_.ValueKey(value);
  }
  static plat::Error CatchError(const std::function<void()>& action) {
    try {
      action();
    } catch (const plat::Error& error) {
      return error;
    }
    ADD_FAILURE() << "no error raised";
    return plat::Error(0, u"", u"");
  }

  testenv::RegistryEnv env_;
  skelvin::cRegistry reg_;
};

// --- Selection and state -------------------------------------------------

TEST_F(RegistryTest, PropertiesReturnExactlyWhatWasSet) {
  skelvin::cRegistry fresh;
  EXPECT_EQ(fresh.ClassKey(), 0);
  EXPECT_EQ(fresh.SectionKey(), u"");
  EXPECT_EQ(fresh.ValueKey(), u"");
  EXPECT_EQ(fresh.Default(), u"");
  fresh.ClassKey(static_cast<std::int32_t>(0x80000001U));
  fresh.SectionKey(u"A\\b\\ C ");
  fresh.ValueKey(u"Mixed Case");
  fresh.Default(u"?WHERE?");
  EXPECT_EQ(fresh.ClassKey(), static_cast<std::int32_t>(0x80000001U));
  EXPECT_EQ(fresh.SectionKey(), u"A\\b\\ C ");
  EXPECT_EQ(fresh.ValueKey(), u"Mixed Case");
  EXPECT_EQ(fresh.Default(), u"?WHERE?");
  fresh.Default(u"");
  EXPECT_EQ(fresh.Default(), u"");
}

// --- DWORD writes ----------------------------------------------------------

TEST_F(RegistryTest, DWordWriteCreatesEveryMissingComponent) {
  Select("One\\Two\\Three", u"V");
  ASSERT_FALSE(Present("One"));
  reg_.DWordValue(7);
  EXPECT_TRUE(Present("One"));
  EXPECT_TRUE(Present("One\\Two"));
  EXPECT_EQ(Raw("One\\Two\\Three", "V"), (RawValue{plat::REG_DWORD, {7, 0, 0, 0}}));
}

struct DwordCase {
  std::int32_t value;
  std::vector<BYTE> bytes;
};

class DwordBytes : public RegistryTest, public ::testing::WithParamInterface<DwordCase> {};

TEST_P(DwordBytes, StoredLeastSignificantByteFirst) {
  Select("", u"D");
  reg_.DWordValue(GetParam().value);
  EXPECT_EQ(Raw("", "D"), (RawValue{plat::REG_DWORD, GetParam().bytes}));
}

INSTANTIATE_TEST_SUITE_P(Values, DwordBytes,
                         ::testing::Values(DwordCase{0, {0, 0, 0, 0}}, DwordCase{-1, {0xFF, 0xFF, 0xFF, 0xFF}},
                                           DwordCase{0x12345678, {0x78, 0x56, 0x34, 0x12}},
                                           DwordCase{INT32_MIN, {0, 0, 0, 0x80}}));

TEST_F(RegistryTest, DWordReplacesAValueOfAnotherTypeAndTheUnnamedValue) {
  PutString("", "YV12", "text");
  Select("", u"YV12");
  reg_.DWordValue(0);
  EXPECT_EQ(Raw("", "YV12"), (RawValue{plat::REG_DWORD, {0, 0, 0, 0}}));

  Select("", u"");
  reg_.DWordValue(5);
  EXPECT_EQ(Raw("", ""), (RawValue{plat::REG_DWORD, {5, 0, 0, 0}}));
}

struct FailureCase {
  std::int32_t root;
  std::u16string section;
  std::u16string value_name;
  std::int32_t value;
  std::string description;
};

class DwordFailure : public RegistryTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(DwordFailure, RaisesTheAccessorErrorNamingTheSelection) {
  testenv::ScriptedRegistry refusing(env_.api());
  refusing.SetRule([](const std::string& call, const std::string&) -> std::optional<plat::LONG> {
    if (call == "RegCreateKeyExA" || call == "RegSetValueExA") return plat::ERROR_ACCESS_DENIED;
    return std::nullopt;
  });
  plat::ScopedUse<plat::Registry> use(refusing);
  skelvin::cRegistry reg;
  reg.ClassKey(GetParam().root);
  reg.SectionKey(GetParam().section);
  reg.ValueKey(GetParam().value_name);
  const plat::Error error = CatchError([&] { reg.DWordValue(GetParam().value); });
  EXPECT_EQ(error.Number(), 26001);
  EXPECT_EQ(error.Source(), plat::App().EXEName + u".cRegistry");
  EXPECT_EQ(Utf8(error.Description()), GetParam().description);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, DwordFailure,
    ::testing::Values(
        FailureCase{static_cast<std::int32_t>(0x80000002U),
                    u"Software\\Mediamatics\\DVD Express\\ActiveMovie Decoder\\Formats", u"YV12", 0,
                    "Failed to set registry value Key: '-2147483646',Section: 'Software\\Mediamatics\\DVD "
                    "Express\\ActiveMovie Decoder\\Formats',Key: 'YV12' to value: '0'"},
        FailureCase{static_cast<std::int32_t>(0x80000001U), u"S", u"V", -1,
                    "Failed to set registry value Key: '-2147483647',Section: 'S',Key: 'V' to value: '-1'"}));

TEST_F(RegistryTest, AFreshObjectFailsOnRootZeroAndKeepsItsFields) {
  skelvin::cRegistry fresh;
  const plat::Error error = CatchError([&] { fresh.DWordValue(3); });
  EXPECT_EQ(error.Number(), 26001);
  EXPECT_EQ(Utf8(error.Description()), "Failed to set registry value Key: '0',Section: '',Key: '' to value: '3'");
  EXPECT_EQ(fresh.SectionKey(), u"");
}

// --- String and binary writes -----------------------------------------------

TEST_F(RegistryTest, StringWriteStoresTheTextWithItsNul) {
  Select("S", u"abc");
  reg_.StringValue(u"abc");
  EXPECT_EQ(Raw("S", "abc"), (RawValue{plat::REG_SZ, {0x61, 0x62, 0x63, 0}}));
  Select("S", u"empty");
  reg_.StringValue(u"");
  EXPECT_EQ(Raw("S", "empty"), (RawValue{plat::REG_SZ, {0}}));
}

TEST_F(RegistryTest, StringWriteRefusedByTheRegistryRaisesWithoutAMessageBox) {
  testenv::ScriptedRegistry refusing(env_.api());
  refusing.FailSetValue("V", plat::ERROR_ACCESS_DENIED);
  testenv::RecordingMsgBox box;
  plat::ScopedUse<plat::Registry> use(refusing);
  plat::ScopedUse<plat::MsgBox> use_box(box);
  Select("", u"V");
  const plat::Error error = CatchError([&] { reg_.StringValue(u"text"); });
  EXPECT_EQ(error.Number(), 26001);
  EXPECT_THAT(Utf8(error.Description()), ::testing::EndsWith("',Key: 'V' to value: 'text'"));
  EXPECT_TRUE(box.calls.empty());
}

TEST_F(RegistryTest, AFaultInsideTheStringWriteShowsTheErrorBoxThenRaises) {
  testenv::ScriptedRegistry faulting(env_.api());
  faulting.SetRule([](const std::string& call, const std::string&) -> std::optional<plat::LONG> {
    if (call == "RegSetValueExA") throw plat::Fault(plat::kInvalidArgument);
    return std::nullopt;
  });
  testenv::RecordingMsgBox box;
  plat::ScopedUse<plat::Registry> use(faulting);
  plat::ScopedUse<plat::MsgBox> use_box(box);
  Select("", u"V");
  const plat::Error error = CatchError([&] { reg_.StringValue(u"x"); });
  EXPECT_EQ(error.Number(), 26001);
  ASSERT_EQ(box.calls.size(), 1U);
  EXPECT_EQ(box.calls[0].text, u"ERROR # 5 : " + plat::FaultText(5) + u"\rPlease exit and try again.");
  EXPECT_EQ(box.calls[0].type, 0U);
  EXPECT_EQ(box.calls[0].caption, plat::App().Title);
}

TEST_F(RegistryTest, BinaryWriteStoresOneBytePerCharacterAndRebuildsItsBuffer) {
  Select("B", u"bin");
  reg_.BinaryValue(u"AB");
  EXPECT_EQ(Raw("B", "bin"), (RawValue{plat::REG_BINARY, {0x41, 0x42}}));
  reg_.BinaryValue(u"ABC");
  reg_.BinaryValue(u"Z");
  EXPECT_EQ(Raw("B", "bin"), (RawValue{plat::REG_BINARY, {0x5A}}));
  reg_.BinaryValue(plat::FromAnsi("\xFF"));
  EXPECT_EQ(Raw("B", "bin"), (RawValue{plat::REG_BINARY, {0xFF}}));
}

TEST_F(RegistryTest, EmptyBinaryTextCreatesTheKeyButWritesNothing) {
  Select("Empty", u"bin");
  const plat::Error error = CatchError([&] { reg_.BinaryValue(u""); });
  EXPECT_EQ(error.Number(), plat::kSubscriptOutOfRange);
  EXPECT_TRUE(Present("Empty"));
  EXPECT_EQ(Raw("Empty", "bin"), std::nullopt);
}

// --- Reads -------------------------------------------------------------------

TEST_F(RegistryTest, ReadGivesTheDataLessItsLastByteOrTheDefault) {
  PutString("", "abc", "abc");
  PutString("", "empty", "");
  Put("", "zero", plat::REG_DWORD, {0, 0, 0, 0});
  reg_.Default(u"?WHERE?");

  Select("", u"abc");
  EXPECT_EQ(reg_.Value(), u"abc");
  Select("", u"empty");
  EXPECT_EQ(reg_.StringValue(), u"");
  Select("", u"zero");
  EXPECT_EQ(reg_.Value(), std::u16string(3, u'\0'));
  Select("", u"ABC");  // names match case-sensitively here
  EXPECT_EQ(reg_.Value(), u"?WHERE?");
  Select("", u"absent");
  EXPECT_EQ(reg_.StringValue(), u"?WHERE?");
  Select("Missing", u"abc");
  EXPECT_EQ(reg_.Value(), u"?WHERE?");
}

TEST_F(RegistryTest, AValueTooLargeForTheBufferEndsTheSearch) {
  // Listed in name order by the store; "a-big" comes before "b-sought".
  Put("", "a-big", plat::REG_BINARY, std::vector<BYTE>(300, 1));
  PutString("", "b-sought", "found");
  reg_.Default(u"default");
  Select("", u"b-sought");
  EXPECT_EQ(reg_.Value(), u"default");
}

TEST_F(RegistryTest, ZeroByteDataIsAnInvalidArgumentFault) {
  Put("", "nothing", plat::REG_BINARY, {});
  Select("", u"nothing");
  reg_.Default(u"default");
  EXPECT_EQ(CatchError([&] { reg_.Value(); }).Number(), plat::kInvalidArgument);
}

// --- Presence, creation, deletion ----------------------------------------------

TEST_F(RegistryTest, KeyExistsAndCreateKey) {
  Select("X\\Y", u"");
  EXPECT_EQ(reg_.KeyExists(), 0);
  EXPECT_EQ(reg_.CreateKey(), -1);
  EXPECT_EQ(reg_.KeyExists(), -1);
  EXPECT_EQ(reg_.CreateKey(), -1);  // already there
  reg_.SectionKey(u"");
  EXPECT_EQ(reg_.KeyExists(), -1);  // the root itself

  skelvin::cRegistry fresh;
  EXPECT_EQ(fresh.CreateKey(), 0);
  EXPECT_EQ(fresh.KeyExists(), 0);
}

// A close that fails after the key was made: the answer is what the registry
// holds afterwards, whether the failed close kept the key (as Windows does) or
// dropped it (as a registry that saves a new key at its close may).
struct FailedCloseCase {
  const char* name;
  bool dropsTheKey;
};

class CreateKeyFailedClose : public RegistryTest, public ::testing::WithParamInterface<FailedCloseCase> {};

TEST_P(CreateKeyFailedClose, AnswersWhetherTheKeyIsThere) {
  const std::string path = Path("Made\\Here");
  bool failedOnce = false;
  testenv::ScriptedRegistry failing(env_.api());
  failing.SetRule([&](const std::string& call, const std::string&) -> std::optional<plat::LONG> {
    if (call != "RegCloseKey" || failedOnce) return std::nullopt;
    failedOnce = true;
    if (GetParam().dropsTheKey) {
      EXPECT_EQ(env_.api().RegDeleteKeyA(env_.root(), path.c_str()), plat::ERROR_SUCCESS);
    }
    return plat::ERROR_DISK_FULL;
  });
  plat::ScopedUse<plat::Registry> use(failing);
  skelvin::cRegistry reg;
  reg.ClassKey(static_cast<std::int32_t>(env_.root()));
  reg.SectionKey(plat::FromAnsi(path));
  const std::int16_t answer = reg.CreateKey();
  EXPECT_TRUE(failedOnce);
  EXPECT_EQ(answer, GetParam().dropsTheKey ? 0 : -1);
  EXPECT_EQ(Present("Made\\Here"), !GetParam().dropsTheKey);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CreateKeyFailedClose,
                         ::testing::Values(FailedCloseCase{"KeptByTheFailedClose", false},
                                           FailedCloseCase{"DroppedByTheFailedClose", true}),
                         [](const ::testing::TestParamInfo<FailedCloseCase>& info) { return info.param.name; });

// --- Closing the key -------------------------------------------------------------

// Every operation that opens a key, run on the selection C\V = "text" (C has
// the subkey Sub). `run` gives a text to compare: what a read returns, the
// data a write leaves as Value reads it, a truth value, the listed names.
struct CloseCase {
  const char* operation;
  std::function<std::u16string(skelvin::cRegistry&)> run;
  std::u16string whenCloseFails;  // RegCloseKey returns an error status
  std::int32_t whenCloseFaults;   // the error number the caller sees
};

std::u16string Names(const std::vector<skelvin::ValueEntry>& values) {
  std::u16string names;
  for (const skelvin::ValueEntry& value : values) names += value.Name + u";";
  return names;
}

const CloseCase kCloseCases[] = {
    {"DWordValueSet",
     [](skelvin::cRegistry& reg) {
       reg.DWordValue(7);
       return reg.Value();
     },
     std::u16string(u"\x07\0\0", 3), plat::kPathFileAccessError},
    {"StringValueSet",
     [](skelvin::cRegistry& reg) {
       reg.StringValue(u"new");
       return reg.Value();
     },
     u"new", skelvin::cRegistry::kErrorNumber},
    {"BinaryValueSet",
     [](skelvin::cRegistry& reg) {
       reg.BinaryValue(u"AB");
       return reg.Value();
     },
     u"A", plat::kPathFileAccessError},
    {"ValueGet", [](skelvin::cRegistry& reg) { return reg.Value(); }, u"text", plat::kPathFileAccessError},
    {"StringValueGet", [](skelvin::cRegistry& reg) { return reg.StringValue(); }, u"text", plat::kPathFileAccessError},
    {"KeyExistsGet", [](skelvin::cRegistry& reg) { return plat::Decimal(reg.KeyExists()); }, u"-1",
     plat::kPathFileAccessError},
    // The one operation that looks at the close: it then asks whether the key is there.
    {"CreateKey", [](skelvin::cRegistry& reg) { return plat::Decimal(reg.CreateKey()); }, u"-1",
     plat::kPathFileAccessError},
    {"EnumerateValues",
     [](skelvin::cRegistry& reg) {
       std::vector<skelvin::ValueEntry> values;
       std::int16_t count = 0;
       reg.EnumerateValues(values, count);
       return Names(values);
     },
     u"V;", plat::kPathFileAccessError},
    {"EnumerateSections",
     [](skelvin::cRegistry& reg) {
       std::vector<std::u16string> sections;
       std::int16_t count = 0;
       reg.EnumerateSections(sections, count);
       return sections.empty() ? std::u16string() : sections[0];
     },
     u"Sub", plat::kPathFileAccessError},
};

class KeyClosing : public RegistryTest, public ::testing::WithParamInterface<CloseCase> {
 protected:
  void SetUp() override {
    PutString("C", "V", "text");
    PutString("C\\Sub", "W", "below");
    Select("C", u"V");
  }
  testenv::ScriptedRegistry scripted_{env_.api()};
  testenv::RecordingMsgBox box_;
};

TEST_P(KeyClosing, AFailedCloseLeavesTheAnswer) {
  scripted_.SetRule([](const std::string& call, const std::string&) -> std::optional<plat::LONG> {
    if (call == "RegCloseKey") return plat::ERROR_INVALID_HANDLE;
    return std::nullopt;
  });
  plat::ScopedUse<plat::Registry> use(scripted_);
  plat::ScopedUse<plat::MsgBox> use_box(box_);
  EXPECT_EQ(Utf8(GetParam().run(reg_)), Utf8(GetParam().whenCloseFails));
  EXPECT_TRUE(box_.calls.empty());
}

// A fault raised by RegCloseKey travels as any fault of the operation does:
// to the caller, or into the string write's "ERROR #" box and then 26001.
TEST_P(KeyClosing, AFaultingCloseReachesTheCaller) {
  scripted_.SetRule([](const std::string& call, const std::string&) -> std::optional<plat::LONG> {
    if (call == "RegCloseKey") throw plat::Fault(plat::kPathFileAccessError);
    return std::nullopt;
  });
  plat::ScopedUse<plat::Registry> use(scripted_);
  plat::ScopedUse<plat::MsgBox> use_box(box_);
  const plat::Error error = CatchError([&] { GetParam().run(reg_); });
  EXPECT_EQ(error.Number(), GetParam().whenCloseFaults);
  if (GetParam().whenCloseFaults == skelvin::cRegistry::kErrorNumber) {
    ASSERT_EQ(box_.calls.size(), 1U);
    EXPECT_EQ(box_.calls[0].text, u"ERROR # 75 : Path/File access error\rPlease exit and try again.");
    EXPECT_EQ(Utf8(error.Description()), "Failed to set registry value Key: '" +
                                             Utf8(plat::Decimal(static_cast<std::int32_t>(env_.root()))) +
                                             "',Section: '" + Path("C") + "',Key: 'V' to value: 'new'");
  } else {
    EXPECT_TRUE(box_.calls.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, KeyClosing, ::testing::ValuesIn(kCloseCases),
                         [](const ::testing::TestParamInfo<CloseCase>& info) { return info.param.operation; });

// A fault on its way out closes the key silently: that fault, not the
// close's, reaches the caller.
TEST_F(RegistryTest, AFaultingCloseLeavesTheFaultOnItsWayOut) {
  Put("Z", "nothing", plat::REG_BINARY, {});
  testenv::ScriptedRegistry faulting(env_.api());
  faulting.SetRule([](const std::string& call, const std::string&) -> std::optional<plat::LONG> {
    if (call == "RegCloseKey") throw plat::Fault(plat::kPathFileAccessError);
    return std::nullopt;
  });
  plat::ScopedUse<plat::Registry> use(faulting);
  Select("Z", u"nothing");
  EXPECT_EQ(CatchError([&] { reg_.Value(); }).Number(), plat::kInvalidArgument);
  Select("Z", u"bin");
  EXPECT_EQ(CatchError([&] { reg_.BinaryValue(u""); }).Number(), plat::kSubscriptOutOfRange);
}

TEST_F(RegistryTest, DeleteKeyEmptiesSectionKeyOnSuccessAndNamesItOnFailure) {
  Select("Gone", u"");
  ASSERT_EQ(reg_.CreateKey(), -1);
  std::u16string target = reg_.SectionKey();
  reg_.DeleteKey(target);
  EXPECT_FALSE(Present("Gone"));
  EXPECT_EQ(reg_.SectionKey(), u"");

  reg_.SectionKey(u"Stored\\Selection");
  std::u16string missing = plat::FromAnsi(Path("NoSuchKey"));
  const plat::Error error = CatchError([&] { reg_.DeleteKey(missing); });
  EXPECT_EQ(error.Number(), 26001);
  EXPECT_EQ(Utf8(error.Description()), "Failed to delete registry Key: 'Stored\\Selection'");
  EXPECT_EQ(reg_.SectionKey(), u"Stored\\Selection");
}

TEST_F(RegistryTest, DeleteKeyRefusesAKeyWithSubkeys) {
  Select("Parent\\Child", u"");
  ASSERT_EQ(reg_.CreateKey(), -1);
  std::u16string parent = plat::FromAnsi(Path("Parent"));
  EXPECT_EQ(CatchError([&] { reg_.DeleteKey(parent); }).Number(), 26001);
  EXPECT_TRUE(Present("Parent\\Child"));
}

// --- Listings ----------------------------------------------------------------------

TEST_F(RegistryTest, EnumerateValuesListsNamesAndFullData) {
  PutString("L", "A", "x");
  Put("L", "B", plat::REG_DWORD, {1, 0, 0, 0});
  Select("L", u"");
  std::vector<skelvin::ValueEntry> values{{u"stale", u"stale"}};
  std::int16_t count = -5;
  reg_.EnumerateValues(values, count);
  ASSERT_EQ(count, 2);
  ASSERT_EQ(values.size(), 2U);
  EXPECT_EQ(values[0].Name, u"A");
  EXPECT_EQ(values[0].Data, std::u16string(u"x\0", 2));
  EXPECT_EQ(values[1].Name, u"B");
  EXPECT_EQ(values[1].Data, std::u16string(u"\x01\0\0\0", 4));
}

TEST_F(RegistryTest, EnumerateValuesOfAnEmptyOrMissingKeyErasesTheArray) {
  Select("Empty", u"");
  ASSERT_EQ(reg_.CreateKey(), -1);
  std::vector<skelvin::ValueEntry> values{{u"old", u"old"}};
  std::int16_t count = 9;
  reg_.EnumerateValues(values, count);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(values.empty());
  Select("Missing", u"");
  values = {{u"old", u"old"}};
  reg_.EnumerateValues(values, count);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(values.empty());
}

TEST_F(RegistryTest, EnumerateValuesListsTheUnnamedValueAndStopsAtALargeOne) {
  PutString("U", "", "default");
  Put("U", "b", plat::REG_BINARY, std::vector<BYTE>(300, 7));
  PutString("U", "c", "after");
  Select("U", u"");
  std::vector<skelvin::ValueEntry> values;
  std::int16_t count = 0;
  reg_.EnumerateValues(values, count);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(values[0].Name, u"");
  EXPECT_EQ(values[0].Data, std::u16string(u"default\0", 8));
}

TEST_F(RegistryTest, EnumerateSectionsListsSubkeyNames) {
  Select("P\\One", u"");
  ASSERT_EQ(reg_.CreateKey(), -1);
  Select("P\\Two", u"");
  ASSERT_EQ(reg_.CreateKey(), -1);
  Select("P", u"");
  std::vector<std::u16string> sections{u"stale"};
  std::int16_t count = 0;
  reg_.EnumerateSections(sections, count);
  EXPECT_EQ(count, 2);
  EXPECT_THAT(sections, ::testing::ElementsAre(u"One", u"Two"));

  Select("P\\One", u"");
  reg_.EnumerateSections(sections, count);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(sections.empty());
}

TEST_F(RegistryTest, MoreThan32767ValuesOverflowWith32767Listed) {
  env_.FillValues(Path("Many"), 32768);
  Select("Many", u"");
  std::vector<skelvin::ValueEntry> values;
  std::int16_t count = 0;
  EXPECT_EQ(CatchError([&] { reg_.EnumerateValues(values, count); }).Number(), plat::kOverflow);
  EXPECT_EQ(count, 32767);
  ASSERT_EQ(values.size(), 32767U);
  EXPECT_EQ(values.front().Name, u"V00000");
  EXPECT_EQ(values.back().Name, u"V32766");
  EXPECT_EQ(values.back().Data, std::u16string(u"V32766\0", 7));
}

// --- Conversions ---------------------------------------------------------------------

TEST_F(RegistryTest, StoredSectionKeyComesBackAsItsAnsiRoundTrip) {
  const std::u16string odd = plat::FromAnsi(Path("Caf\xE9")) + u"\x4E2D";
  reg_.SectionKey(odd);
  ASSERT_EQ(reg_.CreateKey(), -1);
  EXPECT_EQ(reg_.SectionKey(), plat::FromAnsi(Path("Caf\xE9")) + u"?");
  EXPECT_TRUE(Present("Caf\xE9?"));
}

TEST_F(RegistryTest, ListingsAndDeleteHandBackTheirStringsAsAnsiRoundTrips) {
  const std::u16string odd = plat::FromAnsi(Path("R")) + u"\x0416";  // not in the code page
  const std::u16string round_trip = plat::FromAnsi(Path("R")) + u"?";
  std::vector<skelvin::ValueEntry> values;
  std::vector<std::u16string> sections;
  std::int16_t count = 0;
  reg_.SectionKey(odd);
  reg_.EnumerateValues(values, count);
  EXPECT_EQ(reg_.SectionKey(), round_trip);
  reg_.SectionKey(odd);
  reg_.EnumerateSections(sections, count);
  EXPECT_EQ(reg_.SectionKey(), round_trip);
  reg_.SectionKey(odd);
  EXPECT_EQ(reg_.KeyExists(), 0);
  EXPECT_EQ(reg_.SectionKey(), odd);  // a presence test leaves it alone
  reg_.SectionKey(round_trip);
  ASSERT_EQ(reg_.CreateKey(), -1);
  std::u16string argument = odd;
  reg_.DeleteKey(argument);
  EXPECT_EQ(argument, round_trip);
  EXPECT_FALSE(Present("R?"));
}

struct NameLengthCase {
  std::size_t length;
  bool listed;
};

class NameLength : public RegistryTest, public ::testing::WithParamInterface<NameLengthCase> {};

TEST_P(NameLength, ListingsTakeNamesOfUpTo254Characters) {
  const std::string name(GetParam().length, 'n');
  PutString("Names", name, "x");
  PutString("Names", "z-after", "y");
  Select("Names", u"");
  std::vector<skelvin::ValueEntry> values;
  std::int16_t count = 0;
  reg_.EnumerateValues(values, count);
  EXPECT_EQ(count, GetParam().listed ? 2 : 0);
  Select("Names", plat::FromAnsi(name));
  reg_.Default(u"default");
  EXPECT_EQ(reg_.Value(), GetParam().listed ? u"x" : u"default");

  // Created below an open parent: the full path is longer than the "A"
  // functions take.
  plat::HKEY parent = 0;
  ASSERT_EQ(env_.api().RegCreateKeyExA(env_.root(), Path("Keys").c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr,
                                       &parent, nullptr),
            plat::ERROR_SUCCESS);
  for (const std::string& child : {name, std::string("z-after")}) {
    plat::HKEY key = 0;
    ASSERT_EQ(
        env_.api().RegCreateKeyExA(parent, child.c_str(), 0, nullptr, 0, plat::KEY_ALL_ACCESS, nullptr, &key, nullptr),
        plat::ERROR_SUCCESS);
    (void)env_.api().RegCloseKey(key);  // set-up: read back by the test
  }
  (void)env_.api().RegCloseKey(parent);  // set-up: read back by the test
  Select("Keys", u"");
  std::vector<std::u16string> sections;
  reg_.EnumerateSections(sections, count);
  EXPECT_EQ(count, GetParam().listed ? 2 : 0);
}

INSTANTIATE_TEST_SUITE_P(Lengths, NameLength, ::testing::Values(NameLengthCase{254, true}, NameLengthCase{255, false}));

}  // namespace
