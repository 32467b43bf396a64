// The registry file checker of the stress scripts.
//
//   hive_check parse FILE
//       exit 0 when FILE parses, else 1 with the parser's line on stderr
//   hive_check state FILE BASE|- SECTION NAME=DWORD...
//       prints how many of the listed DWORD writes (in order) FILE holds on
//       top of BASE ("-": no file before), times aside; exit 1 when FILE is
//       no such state (torn, lost, or changed elsewhere)
//   hive_check values FILE SECTION
//       prints the key's values, one "name type hexdata" line each
//   hive_check contains FILE BASE
//       exit 0 when every key and value of BASE is in FILE with the same
//       data (FILE may hold more), else 1 with the first one missing
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "tests/stress/stress_check.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: hive_check parse FILE | state FILE BASE SECTION NAME=DWORD... | values FILE SECTION |"
               " contains FILE BASE\n");
  return 2;
}

// Every key and value of `base` in `file`, by name, with the same type and data.
bool Contains(const winereg::Key& file, const winereg::Key& base, const std::string& where, std::string* why) {
  for (const auto& value : base.values()) {
    const winereg::Value* found = file.FindValue(value.name);
    if (found == nullptr || found->type != value.type || found->data != value.data) {
      *why = "value " + stress::Narrow(value.name) + " of [" + where + "] " + (found == nullptr ? "lost" : "changed");
      return false;
    }
  }
  for (const auto& sub : base.subkeys()) {
    const std::string path = where.empty() ? stress::Narrow(sub->name()) : where + "\\" + stress::Narrow(sub->name());
    const winereg::Key* found = file.FindSubkey(sub->name());
    if (found == nullptr) {
      *why = "key [" + path + "] lost";
      return false;
    }
    if (!Contains(*found, *sub, path, why)) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  std::string why;
  if (command == "parse" && argc == 3) {
    if (stress::ReadHive(argv[2], &why)) return 0;
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  if (command == "state" && argc >= 5) {
    std::vector<stress::Change> changes;
    for (int i = 5; i < argc; ++i) {
      const char* eq = std::strchr(argv[i], '=');
      if (eq == nullptr) return Usage();
      changes.push_back(
          stress::DwordChange(plat::FromAnsi(std::string(argv[i], static_cast<std::size_t>(eq - argv[i]))),
                              static_cast<plat::DWORD>(std::strtoul(eq + 1, nullptr, 0))));
    }
    std::optional<std::filesystem::path> base;
    if (std::strcmp(argv[3], "-") != 0) base = argv[3];
    const stress::FileState state = stress::Classify(argv[2], base, plat::FromAnsi(argv[4]), changes);
    if (state.applied < 0) {
      std::fprintf(stderr, "%s: not an allowed state: %s\n", argv[2], state.why.c_str());
      return 1;
    }
    std::printf("%d\n", state.applied);
    return 0;
  }
  if (command == "values" && argc == 4) {
    std::optional<winereg::Hive> hive = stress::ReadHive(argv[2], &why);
    if (!hive) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return 1;
    }
    const winereg::Key* key = &hive->root;
    const std::u16string section = plat::FromAnsi(argv[3]);
    std::size_t start = 0;
    while (key != nullptr && start < section.size()) {
      std::size_t end = section.find(u'\\', start);
      if (end == std::u16string::npos) end = section.size();
      key = key->FindSubkey(std::u16string_view(section).substr(start, end - start));
      start = end + 1;
    }
    if (key == nullptr) {
      std::fprintf(stderr, "%s: no key %s\n", argv[2], argv[3]);
      return 1;
    }
    for (const auto& value : key->values()) {
      std::printf("%s %lu ", stress::Narrow(value.name).c_str(), static_cast<unsigned long>(value.type));
      for (const plat::BYTE b : value.data) std::printf("%02x", b);
      std::printf("\n");
    }
    return 0;
  }
  if (command == "contains" && argc == 4) {
    std::optional<winereg::Hive> file = stress::ReadHive(argv[2], &why);
    std::optional<winereg::Hive> base = file ? stress::ReadHive(argv[3], &why) : std::nullopt;
    if (!file || !base || !Contains(file->root, base->root, "", &why)) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return 1;
    }
    return 0;
  }
  return Usage();
}
