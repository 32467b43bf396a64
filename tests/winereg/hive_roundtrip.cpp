// Loads a Wine registry file and saves it again.
//
//   hive_roundtrip FILE
//     exit 0 when saving gives back FILE's bytes, with the text kept from
//     the file and with every section written anew; 1 when it does not (the
//     first differing line is printed), 2 when FILE cannot be read or parsed.
//   hive_roundtrip FILE --set-sz KEY NAME DATA [--times-from OTHER] --out OUT
//     sets the REG_SZ value NAME of KEY (a path relative to the file's root,
//     created when missing) to DATA, takes the time stamps of the keys that
//     OTHER also holds from OTHER, and writes the result to OUT.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "winereg/internal/inspect.h"
#include "winereg/model.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace {

using winereg::Hive;
using winereg::Key;

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return true;
}

std::optional<Hive> Load(const std::string& path) {
  std::string bytes;
  if (!ReadFile(path, &bytes)) {
    std::cerr << path << ": cannot read\n";
    return std::nullopt;
  }
  winereg::ParseError error;
  std::optional<Hive> hive = winereg::Parse(winereg::ParseInput::FromString(bytes), &error);
  if (!hive) std::cerr << path << ":" << error.line << ": " << error.message << "\n";
  return hive;
}

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void CopyTimes(Key& to, const Key& from) {
  to.set_modif(from.modif());
  for (const auto& child : to.subkeys()) {
    if (const Key* other = from.FindSubkey(child->name())) CopyTimes(*child, *other);
  }
}

int FirstDifferentLine(const std::string& a, const std::string& b) {
  int line = 1;
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] != b[i]) return line;
    if (a[i] == '\n') ++line;
  }
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1) {
    std::string bytes;
    if (!ReadFile(args[0], &bytes)) {
      std::cerr << args[0] << ": cannot read\n";
      return 2;
    }
    winereg::ParseError error;
    std::optional<Hive> hive = winereg::Parse(winereg::ParseInput::FromString(bytes), &error);
    if (!hive) {
      std::cerr << args[0] << ":" << error.line << ": " << error.message << "\n";
      return 2;
    }
    const std::string saved = winereg::Save(*hive);
    if (saved != bytes) {
      std::cerr << args[0] << ":" << FirstDifferentLine(saved, bytes) << ": saved text differs (" << saved.size()
                << " bytes saved, " << bytes.size() << " read)\n";
      return 1;
    }
    // Written anew rather than from the text kept, the same bytes.
    winereg::internal::DropSectionTexts(*hive);
    const std::string fresh = winereg::Save(*hive);
    if (fresh != bytes) {
      std::cerr << args[0] << ":" << FirstDifferentLine(fresh, bytes) << ": text written anew differs\n";
      return 1;
    }
    return 0;
  }
  if (args.size() >= 7 && args[1] == "--set-sz") {
    std::optional<Hive> hive = Load(args[0]);
    if (!hive) return 2;
    std::optional<Hive> times;
    std::string out;
    for (std::size_t i = 5; i + 1 < args.size(); i += 2) {
      if (args[i] == "--times-from") {
        times = Load(args[i + 1]);
        if (!times) return 2;
      } else if (args[i] == "--out") {
        out = args[i + 1];
      }
    }
    if (out.empty()) {
      std::cerr << "hive_roundtrip: --out is missing\n";
      return 2;
    }
    const std::int64_t now = winereg::CurrentFileTime();
    Key* key = &hive->root;
    const std::u16string path = Widen(args[2]);
    for (std::size_t start = 0; start <= path.size();) {
      std::size_t end = path.find(u'\\', start);
      if (end == std::u16string::npos) end = path.size();
      if (end > start) key = &key->AddSubkey(std::u16string_view(path).substr(start, end - start), now);
      start = end + 1;
    }
    std::vector<winereg::BYTE> data;
    for (char16_t c : Widen(args[4])) {
      data.push_back(static_cast<winereg::BYTE>(c & 0xFF));
      data.push_back(static_cast<winereg::BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    key->SetValue(Widen(args[3]), 1, std::move(data));
    key->set_modif(now);
    if (times) CopyTimes(hive->root, times->root);
    std::ofstream o(out, std::ios::binary);
    o << winereg::Save(*hive);
    return o ? 0 : 2;
  }
  std::cerr << "usage: hive_roundtrip FILE\n"
               "       hive_roundtrip FILE --set-sz KEY NAME DATA [--times-from OTHER] --out OUT\n";
  return 2;
}
