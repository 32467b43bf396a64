// The lenient rows (lenient_rows.h) for hive_lenient_wine.sh.
//
//   hive_lenient rows DIR
//     writes each row's file to DIR/<row name>.reg, and DIR/EveryUnitFolded.reg
//     (EveryUnitFile).
//   hive_lenient save IN OUT
//     parses IN as the store parses system.reg, adds the keys a 64-bit
//     wineserver makes at start-up when they are missing, and writes the save
//     to OUT; exit 1 when IN is refused or the save does not read back to
//     the same bytes, 2 on a usage or file error.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/winereg/lenient_rows.h"
#include "winereg/model.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace {

using winereg::Hive;
using winereg::Key;

// What init_registry creates in the machine branch of a 64-bit prefix.
void AddStartupKeys(Hive& hive) {
  const std::int64_t now = winereg::CurrentFileTime();
  for (const std::vector<std::u16string>& path : std::vector<std::vector<std::u16string>>{
           {u"Software", u"Classes", u"Wow6432Node"},
           {u"Software", u"Microsoft", u"Windows NT", u"CurrentVersion", u"Perflib", u"009"}}) {
    Key* key = &hive.root;
    for (const std::u16string& name : path) key = &key->AddSubkey(name, now);
  }
}

// A value named by each UTF-16 unit but NUL, and a key by each but NUL and
// the backslash, in the units' order: a save holds one of each set of names
// the lower-case table folds together (the first spelling, the last data),
// in the order of their lower case. So the whole table is compared.
std::string EveryUnitFile() {
  std::string values = "\n[V] 1690913106\n#time=1d9c4a2b3c4d5e6\n";
  std::string keys;
  char line[64];
  for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
    std::snprintf(line, sizeof line, "\"\\x%04x\"=dword:%08x\n", unit, unit);
    values += line;
    if (unit == '\\') continue;
    std::snprintf(line, sizeof line, "[K\\\\\\x%04x] 1690913106\n#time=1d9c4a2b3c4d5e6\n", unit);
    keys += line;
  }
  return winereg::testing::kMachineHead + values + keys;
}

int Save(const std::string& in, const std::string& out) {
  std::ifstream file(in, std::ios::binary);
  if (!file) {
    std::cerr << in << ": cannot read\n";
    return 2;
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  winereg::ParseOptions options;
  options.branch = winereg::testing::kBranch;
  winereg::ParseError error;
  std::optional<Hive> hive = winereg::Parse(winereg::ParseInput::FromString(bytes.str()), &error, options);
  if (!hive) {
    std::cerr << in << ":" << error.line << ": " << error.message << "\n";
    return 1;
  }
  AddStartupKeys(*hive);
  const std::string saved = winereg::Save(*hive);
  std::optional<Hive> back = winereg::Parse(winereg::ParseInput::FromString(saved), &error);
  if (!back || winereg::Save(*back) != saved) {
    std::cerr << out << ": the save does not read back to the same bytes\n";
    return 1;
  }
  std::ofstream o(out, std::ios::binary);
  o << saved;
  return o ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "rows") {
    for (const winereg::testing::LenientRow& row : winereg::testing::LenientRows()) {
      std::ofstream o(args[1] + "/" + row.name + ".reg", std::ios::binary);
      o << winereg::testing::RowFile(row);
      if (!o) {
        std::cerr << args[1] << ": cannot write " << row.name << ".reg\n";
        return 2;
      }
    }
    std::ofstream o(args[1] + "/EveryUnitFolded.reg", std::ios::binary);
    o << EveryUnitFile();
    if (!o) {
      std::cerr << args[1] << ": cannot write EveryUnitFolded.reg\n";
      return 2;
    }
    return 0;
  }
  if (args.size() == 3 && args[0] == "save") return Save(args[1], args[2]);
  std::cerr << "usage: hive_lenient rows DIR\n"
               "       hive_lenient save IN OUT\n";
  return 2;
}
