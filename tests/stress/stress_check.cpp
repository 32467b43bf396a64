#include "tests/stress/stress_check.h"

#include <fstream>
#include <iterator>

namespace stress {
namespace fs = std::filesystem;
using winereg::Hive;
using winereg::Key;

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (const char16_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

Change DwordChange(const std::u16string& name, plat::DWORD value) {
  Change change{name, plat::REG_DWORD, {}};
  for (int i = 0; i < 4; ++i) change.data.push_back(static_cast<plat::BYTE>(value >> (8 * i)));
  return change;
}

std::optional<Hive> ReadHive(const fs::path& file, std::string* why) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    *why = file.string() + ": absent";
    return std::nullopt;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  winereg::ParseError error;
  std::optional<Hive> hive = winereg::Parse(winereg::ParseInput::FromString(bytes), &error);
  if (!hive) *why = file.string() + ":" + std::to_string(error.line) + ": " + error.message;
  return hive;
}

bool SameTree(const Key& a, const Key& b, std::string* why) {
  const std::string where = Narrow(a.name());
  if (a.name() != b.name()) return *why = "key " + where + " vs " + Narrow(b.name()), false;
  if (a.class_name() != b.class_name() || a.is_link() != b.is_link()) return *why = "class or link of " + where, false;
  if (a.values().size() != b.values().size()) return *why = "value count of " + where, false;
  for (std::size_t i = 0; i < a.values().size(); ++i) {
    const auto& x = a.values()[i];
    const auto& y = b.values()[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) {
      return *why = "value " + Narrow(x.name) + " of " + where, false;
    }
  }
  if (a.subkeys().size() != b.subkeys().size()) return *why = "subkey count of " + where, false;
  for (std::size_t i = 0; i < a.subkeys().size(); ++i) {
    if (!SameTree(*a.subkeys()[i], *b.subkeys()[i], why)) return false;
  }
  return true;
}

namespace {

std::vector<std::u16string> Split(const std::u16string& path) {
  std::vector<std::u16string> out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string::npos) end = path.size();
    if (end > start) out.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace

FileState Classify(const fs::path& file, const std::optional<fs::path>& base, const std::u16string& section,
                   const std::vector<Change>& changes) {
  FileState state;
  std::error_code ec;
  state.exists = fs::exists(file, ec);
  std::optional<Hive> old;
  if (base) {
    old = ReadHive(*base, &state.why);
    if (!old) return state;
  }
  if (!state.exists) {
    state.parsed = true;
    if (old) {
      state.why = "the file is gone";
      return state;
    }
    state.applied = 0;
    return state;
  }
  std::optional<Hive> now = ReadHive(file, &state.why);
  if (!now) return state;
  state.parsed = true;

  // Walk the section in both trees.
  const std::vector<std::u16string> path = Split(section);
  std::vector<Key*> chain{&now->root};
  const Key* old_key = old ? &old->root : nullptr;
  std::size_t old_depth = 0;  // how many elements of the path the base has
  for (const std::u16string& name : path) {
    if (old_key != nullptr) {
      old_key = old_key->FindSubkey(name);
      if (old_key != nullptr) ++old_depth;
    }
    Key* next = chain.back()->FindSubkey(name);
    if (next == nullptr) break;
    chain.push_back(next);
  }
  int applied = 0;
  if (chain.size() == path.size() + 1) {
    Key& target = *chain.back();
    while (static_cast<std::size_t>(applied) < changes.size() && target.FindValue(changes[applied].name) != nullptr) {
      const Change& change = changes[applied];
      const winereg::Value* value = target.FindValue(change.name);
      if (value->type != change.type || value->data != change.data) {
        state.why = "value " + Narrow(change.name) + " holds other data";
        return state;
      }
      target.RemoveValue(change.name);
      ++applied;
    }
    for (std::size_t i = applied; i < changes.size(); ++i) {
      if (target.FindValue(changes[i].name) != nullptr) {
        state.why = "value " + Narrow(changes[i].name) + " written out of order";
        return state;
      }
    }
  }
  // Keys of the path that the run created, now without values, go.
  for (std::size_t depth = chain.size() - 1; depth > old_depth; --depth) {
    Key& key = *chain[depth];
    if (!key.values().empty() || !key.subkeys().empty() || key.class_name() || key.is_link()) break;
    chain[depth - 1]->RemoveSubkey(key.name());
  }
  Hive empty;
  const Key& expected = old ? old->root : empty.root;
  if (old && old->arch != now->arch) {
    state.why = "the #arch line changed";
    return state;
  }
  if (!SameTree(now->root, expected, &state.why)) return state;
  state.applied = applied;
  state.why.clear();
  return state;
}

std::vector<std::string> Leftovers(const fs::path& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find("skelvin-") != std::string::npos || name.rfind(".wineserver-", 0) == 0) found.push_back(name);
  }
  return found;
}

}  // namespace stress
