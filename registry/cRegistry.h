// cRegistry: a property-driven accessor for the registry.
//
// Select a place with ClassKey (a root handle such as HKEY_LOCAL_MACHINE,
// 0x80000002), SectionKey (a key path below it, components separated by
// "\") and ValueKey (a value name; empty names the key's unnamed value), then
// act on it. Setting a selection property only stores it. No key stays open
// between operations: each one opens what it needs and closes it again.
//
// Errors travel as plat::Error. The value writes and DeleteKey raise the
// accessor error (number 26001, source "<executable>.cRegistry"); run-time
// faults (5, 6, 9, ...) raised inside an operation, RegCloseKey's included,
// reach the caller unchanged, except inside StringValue set, which reports
// them in a message box and then raises 26001. Reads, KeyExists, CreateKey and the listings
// never raise 26001. A failed operation changes no field.
//
// Strings reach the registry through the ANSI code page. Where noted, the
// string passed in (or the stored SectionKey) is replaced by its conversion
// to ANSI and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace skelvin {

// One listed value: its name and its data, one character per data byte.
struct ValueEntry {
  std::u16string Name;
  std::u16string Data;
};

class cRegistry {
 public:
  static constexpr std::int32_t kErrorNumber = 26001;

  // The root key, passed unchanged to the registry; nothing validates it.
  std::int32_t ClassKey() const { return classKey_; }
  void ClassKey(std::int32_t lKey) { classKey_ = lKey; }
  std::u16string SectionKey() const { return sectionKey_; }
  void SectionKey(const std::u16string& sSectionKey) { sectionKey_ = sSectionKey; }
  std::u16string ValueKey() const { return valueKey_; }
  void ValueKey(const std::u16string& sValueKey) { valueKey_ = sValueKey; }

  // True (-1) when SectionKey opens under ClassKey for reading (an empty
  // path opens the root itself), else False (0).
  std::int16_t KeyExists();

  // What Value get returns when it finds no value of the selected name.
  std::u16string Default() const { return default_; }
  void Default(const std::u16string& sDefault) { default_ = sDefault; }

  // Finds the value by listing the key's values in index order and comparing
  // names exactly (case-sensitive). Returns its data less the last byte, one
  // character per byte, whatever its type; Default when the key does not open,
  // the name is not found, or the listing stops at an entry its 255-character
  // buffers cannot take. Fault 5 for matching data of 0 bytes.
  std::u16string Value();
  // The same read as Value.
  std::u16string StringValue();
  // Writes sValue as REG_SZ (with its NUL), creating the key path. A fault on
  // the way shows the "ERROR #" message box and ends as the accessor error.
  void StringValue(const std::u16string& sValue);
  // Writes a REG_DWORD (least significant byte first), creating the key path.
  void DWordValue(std::int32_t sDWordValue);
  // Writes REG_BINARY, one byte per character (its ANSI code), creating the
  // key path. Fault 9 for the empty text (the key is created, nothing
  // written), fault 6 for a character whose code does not fit a byte.
  void BinaryValue(const std::u16string& sBinaryValue);

  // Deletes sSectionKey under ClassKey (refused for a key with subkeys where
  // the platform refuses it). On success SectionKey becomes empty; on failure
  // the accessor error names the stored SectionKey. sSectionKey comes back
  // as its ANSI round trip.
  void DeleteKey(std::u16string& sSectionKey);

  // Lists the key's values in the registry's index order: sKeys[k] is the
  // k-th value (name, and data with all its reported bytes). Both arguments
  // are reset first; a key that does not open lists nothing. The listing
  // stops at the first entry the buffers cannot take. More than 32767 values:
  // fault 6 with 32767 listed. SectionKey becomes its ANSI round trip.
  // (An empty vector is the erased array: no call leaves a sized, empty one.)
  void EnumerateValues(std::vector<ValueEntry>& sKeys, std::int16_t& iKeyCount);
  // Lists the names of the key's subkeys in index order, as EnumerateValues.
  void EnumerateSections(std::vector<std::u16string>& sSect, std::int16_t& iSectCount);
  // Creates every missing component of SectionKey under ClassKey; True (-1)
  // when the key exists afterwards. When the close of the new key fails the
  // key is looked for again: Windows keeps it, a registry that saves a new key
  // at its close (the native one) may not have. SectionKey becomes its ANSI
  // round trip.
  std::int16_t CreateKey();

 private:
  std::int16_t WriteStringToKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                                const std::u16string& text);
  std::int16_t WriteDWordToKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                               std::int32_t value);
  std::int16_t WriteBinaryToKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                                const std::u16string& text);
  std::int16_t ReadStringFromKey(std::int32_t root, const std::u16string& path, const std::u16string& name,
                                 std::u16string& text);
  std::int16_t KeyIsPresent(std::int32_t root, const std::u16string& path);
  std::int16_t EnsureKeyExists(std::int32_t& root, std::u16string& path);

  [[noreturn]] void RaiseWriteFailure(const std::u16string& value) const;

  std::int32_t lastDWord_ = 0;
  std::u16string lastBinary_;
  std::int32_t classKey_ = 0;
  std::u16string sectionKey_;
  std::u16string valueKey_;
  std::u16string lastString_;
  std::u16string default_;
  std::optional<std::vector<std::uint8_t>> binaryBuffer_;
};

}  // namespace skelvin
