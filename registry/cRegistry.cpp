#include "registry/cRegistry.h"

#include <algorithm>
#include <array>
#include <new>

#include "platform/app.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/registry.h"

namespace skelvin {
namespace {

using plat::BYTE;
using plat::DWORD;
using plat::HKEY;
using plat::LONG;

// The access every write and CreateKey asks for: the six key rights, not
// KEY_ALL_ACCESS.
constexpr plat::REGSAM kWriteAccess = plat::KEY_QUERY_VALUE | plat::KEY_SET_VALUE | plat::KEY_CREATE_SUB_KEY |
                                      plat::KEY_ENUMERATE_SUB_KEYS | plat::KEY_NOTIFY | plat::KEY_CREATE_LINK;
constexpr DWORD kBufferSize = 255;

plat::Registry& Api() { return plat::Use<plat::Registry>(); }

HKEY Root(std::int32_t root) { return static_cast<HKEY>(root); }

// Opens or creates root\path as every write does. The status is not examined
// by the writers: on failure the handle stays 0 and the write fails.
[[nodiscard]] LONG CreateForWrite(std::int32_t root, const std::string& path, plat::UniqueHKey& key) {
  char noClass[] = "";
  plat::SECURITY_ATTRIBUTES attributes{0, nullptr, 0};
  DWORD disposition = 0;
  plat::Registry& api = Api();
  return api.RegCreateKeyExA(Root(root), path.c_str(), 0, noClass, plat::REG_OPTION_NON_VOLATILE, kWriteAccess,
                             &attributes, key.receive(api), &disposition);
}

// A name/data buffer pair for one RegEnumValueA call: 255 blanks each.
struct EnumBuffers {
  std::array<char, kBufferSize + 1> name{};
  std::array<BYTE, kBufferSize + 1> data{};
  DWORD nameSize = kBufferSize;
  DWORD dataSize = kBufferSize;

  LONG Next(HKEY key, DWORD index) {
    name.fill(' ');
    name[kBufferSize] = '\0';
    data.fill(' ');
    data[kBufferSize] = 0;
    nameSize = kBufferSize;
    dataSize = kBufferSize;
    DWORD type = 0;
    return Api().RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
  }
  std::u16string Name() const { return plat::FromAnsi(std::string_view(name.data(), Clamp(nameSize))); }
  // The first `count` data bytes as text, one character per byte.
  std::u16string Data(DWORD count) const {
    return plat::FromAnsi(std::string_view(reinterpret_cast<const char*>(data.data()), Clamp(count)));
  }
  static std::size_t Clamp(DWORD size) { return size < kBufferSize ? size : kBufferSize; }
};

// The string writer's report of a fault: "ERROR #", the number (a blank
// before it unless negative), " : ", the fault's text, CR, the advice.
void ShowFault(std::int32_t number, const std::u16string& text) {
  const std::u16string message = u"ERROR #" + std::u16string(number >= 0 ? u" " : u"") + plat::Decimal(number) +
                                 u" : " + text + u"\r" + u"Please exit and try again.";
  // A box with OK alone: its answer tells nothing.
  (void)plat::Use<plat::MsgBox>().MessageBoxW(0, message.c_str(), plat::App().Title.c_str(), plat::MB_OK);
}

}  // namespace

std::int16_t cRegistry::KeyExists() { return KeyIsPresent(classKey_, sectionKey_); }

std::u16string cRegistry::Value() {
  std::u16string text;
  if (ReadStringFromKey(classKey_, sectionKey_, valueKey_, text) != 0) return text;
  return default_;
}

std::u16string cRegistry::StringValue() { return Value(); }

void cRegistry::StringValue(const std::u16string& sValue) {
  if (WriteStringToKey(classKey_, sectionKey_, valueKey_, sValue) == 0) RaiseWriteFailure(sValue);
  lastString_ = sValue;
}

void cRegistry::DWordValue(std::int32_t sDWordValue) {
  if (WriteDWordToKey(classKey_, sectionKey_, valueKey_, sDWordValue) == 0) {
    RaiseWriteFailure(plat::Decimal(sDWordValue));
  }
  lastDWord_ = sDWordValue;
}

void cRegistry::BinaryValue(const std::u16string& sBinaryValue) {
  if (WriteBinaryToKey(classKey_, sectionKey_, valueKey_, sBinaryValue) == 0) RaiseWriteFailure(sBinaryValue);
  lastBinary_ = sBinaryValue;
}

void cRegistry::DeleteKey(std::u16string& sSectionKey) {
  const LONG status = Api().RegDeleteKeyA(Root(classKey_), plat::ToAnsi(sSectionKey).c_str());
  sSectionKey = plat::AnsiRoundTrip(sSectionKey);
  if (status == plat::ERROR_SUCCESS) {
    sectionKey_.clear();
    return;
  }
  throw plat::Error(kErrorNumber, plat::App().EXEName + u".cRegistry",
                    u"Failed to delete registry Key: '" + sectionKey_ + u"'");
}

void cRegistry::EnumerateValues(std::vector<ValueEntry>& sKeys, std::int16_t& iKeyCount) {
  iKeyCount = 0;
  sKeys.clear();
  sectionKey_ = plat::AnsiRoundTrip(sectionKey_);
  plat::Registry& api = Api();
  plat::UniqueHKey key;
  LONG status =
      api.RegOpenKeyExA(Root(classKey_), plat::ToAnsi(sectionKey_).c_str(), 0, plat::KEY_QUERY_VALUE, key.receive(api));
  EnumBuffers buffers;
  for (DWORD index = 0; status == plat::ERROR_SUCCESS; ++index) {
    status = buffers.Next(key.get(), index);
    if (status != plat::ERROR_SUCCESS) break;
    if (iKeyCount == INT16_MAX) throw plat::Fault(plat::kOverflow);
    ++iKeyCount;
    sKeys.push_back({buffers.Name(), buffers.Data(buffers.dataSize)});
  }
  // The listing is what it is; the close's status changes nothing.
  (void)key.Close();
}

void cRegistry::EnumerateSections(std::vector<std::u16string>& sSect, std::int16_t& iSectCount) {
  iSectCount = 0;
  sSect.clear();
  sectionKey_ = plat::AnsiRoundTrip(sectionKey_);
  plat::Registry& api = Api();
  plat::UniqueHKey key;
  LONG status = api.RegOpenKeyExA(Root(classKey_), plat::ToAnsi(sectionKey_).c_str(), 0,
                                  plat::KEY_QUERY_VALUE | plat::KEY_ENUMERATE_SUB_KEYS, key.receive(api));
  std::array<char, kBufferSize + 1> name{};
  for (DWORD index = 0; status == plat::ERROR_SUCCESS; ++index) {
    name.fill(' ');
    name[kBufferSize] = '\0';
    status = Api().RegEnumKeyA(key.get(), index, name.data(), kBufferSize);
    if (status != plat::ERROR_SUCCESS) break;
    if (iSectCount == INT16_MAX) throw plat::Fault(plat::kOverflow);
    ++iSectCount;
    sSect.push_back(plat::FromAnsi(std::string_view(name.data())));
  }
  // The listing is what it is; the close's status changes nothing.
  (void)key.Close();
}

std::int16_t cRegistry::CreateKey() { return EnsureKeyExists(classKey_, sectionKey_); }

std::int16_t cRegistry::WriteStringToKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                                         const std::u16string& text) {
  LONG status = plat::ERROR_SUCCESS;
  try {
    plat::UniqueHKey key;
    (void)CreateForWrite(root, plat::ToAnsi(path), key);  // a failure leaves the handle 0
    // The size is the character count plus the NUL; the buffer is padded so
    // that the registry never reads past it.
    const DWORD size = static_cast<DWORD>(text.size() + 1);
    std::string data = plat::ToAnsi(text);
    data.resize(std::max<std::size_t>(data.size() + 1, size), '\0');
    status = Api().RegSetValueExA(key.get(), plat::ToAnsi(name).c_str(), 0, plat::REG_SZ,
                                  reinterpret_cast<const BYTE*>(data.data()), size);
    // The write's status is the answer; the close's is not looked at.
    (void)key.Close();
  } catch (const plat::Error& fault) {
    ShowFault(fault.Number(), fault.Description());
    return 0;
  } catch (const std::bad_alloc&) {
    ShowFault(plat::kOutOfMemory, plat::FaultText(plat::kOutOfMemory));
    return 0;
  }
  return status == plat::ERROR_SUCCESS ? -1 : 0;
}

std::int16_t cRegistry::WriteDWordToKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                                        std::int32_t value) {
  plat::UniqueHKey key;
  (void)CreateForWrite(root, plat::ToAnsi(path), key);  // a failure leaves the handle 0
  const auto bits = static_cast<std::uint32_t>(value);
  const std::array<BYTE, 4> data = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8),
                                    static_cast<BYTE>(bits >> 16), static_cast<BYTE>(bits >> 24)};
  const LONG status = Api().RegSetValueExA(key.get(), plat::ToAnsi(name).c_str(), 0, plat::REG_DWORD, data.data(), 4);
  // The write's status is the answer; the close's is not looked at.
  (void)key.Close();
  return status == plat::ERROR_SUCCESS ? -1 : 0;
}

std::int16_t cRegistry::WriteBinaryToKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                                         const std::u16string& text) {
  plat::UniqueHKey key;
  (void)CreateForWrite(root, plat::ToAnsi(path), key);  // a failure leaves the handle 0
  const std::size_t n = text.size();
  binaryBuffer_.emplace(n + 1, 0);  // indices 0 to n; index 0 is never used
  std::vector<std::uint8_t>& buffer = *binaryBuffer_;
  for (std::size_t i = 1; i <= n; ++i) {
    const std::string code = plat::ToAnsi(text.substr(i - 1, 1));
    if (code.size() != 1) throw plat::Fault(plat::kOverflow);  // a double-byte character
    buffer[i] = static_cast<std::uint8_t>(code[0]);
  }
  if (n == 0) throw plat::Fault(plat::kSubscriptOutOfRange);  // no byte at index 1
  const LONG status = Api().RegSetValueExA(key.get(), plat::ToAnsi(name).c_str(), 0, plat::REG_BINARY,
                                           buffer.data() + 1, static_cast<DWORD>(n));
  // The write's status is the answer; the close's is not looked at.
  (void)key.Close();
  return status == plat::ERROR_SUCCESS ? -1 : 0;
}

std::int16_t cRegistry::ReadStringFromKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                                          std::u16string& text) {
  plat::Registry& api = Api();
  plat::UniqueHKey key;
  LONG status = api.RegOpenKeyExA(Root(root), plat::ToAnsi(path).c_str(), 0, plat::KEY_QUERY_VALUE, key.receive(api));
  EnumBuffers buffers;
  for (DWORD index = 0; status == plat::ERROR_SUCCESS; ++index) {
    status = buffers.Next(key.get(), index);
    if (status == plat::ERROR_SUCCESS && buffers.Name() == name) {
      // The data less its last byte; nothing to take from empty data.
      if (buffers.dataSize == 0) throw plat::Fault(plat::kInvalidArgument);
      text = buffers.Data(buffers.dataSize - 1);
      // The value was found; the close's status changes nothing.
      (void)key.Close();
      return -1;
    }
  }
  // Nothing was found; the close's status changes nothing.
  (void)key.Close();
  return 0;
}

std::int16_t cRegistry::KeyIsPresent(std::int32_t root, const std::u16string& path) {
  plat::Registry& api = Api();
  plat::UniqueHKey key;
  const LONG status =
      api.RegOpenKeyExA(Root(root), plat::ToAnsi(path).c_str(), 0, plat::KEY_QUERY_VALUE, key.receive(api));
  // The open's status is the answer; the close's is not looked at.
  (void)key.Close();
  return status == plat::ERROR_SUCCESS ? -1 : 0;
}

std::int16_t cRegistry::EnsureKeyExists(std::int32_t& root, std::u16string& path) {
  const std::string ansi = plat::ToAnsi(path);
  path = plat::FromAnsi(ansi);
  plat::UniqueHKey key;
  if (CreateForWrite(root, ansi, key) != plat::ERROR_SUCCESS) return 0;
  if (key.Close() == plat::ERROR_SUCCESS) return -1;
  // A failed close may have kept the key (Windows) or not (a registry that
  // saves a new key at its close): the answer is whether it is there now.
  return KeyIsPresent(root, path);
}

void cRegistry::RaiseWriteFailure(const std::u16string& value) const {
  throw plat::Error(kErrorNumber, plat::App().EXEName + u".cRegistry",
                    u"Failed to set registry value Key: '" + plat::Decimal(classKey_) + u"',Section: '" + sectionKey_ +
                        u"',Key: '" + valueKey_ + u"' to value: '" + value + u"'");
}

}  // namespace skelvin
