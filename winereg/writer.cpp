// The writer: sections as wineserver writes them, kept text where it stands.
#include "winereg/writer.h"

#include <array>
#include <cstring>

#include "winereg/internal/escape.h"
#include "winereg/internal/format.h"
#include "winereg/internal/key_state.h"

namespace winereg {

namespace internal {
namespace {

// "00" .. "ff".
constexpr std::array<std::array<char, 2>, 256> kHexPairs = [] {
  std::array<std::array<char, 2>, 256> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = {kHexDigits[i >> 4], kHexDigits[i & 0xF]};
  return t;
}();

bool KeyIsWritten(const Key& key) {
  // Volatile subkeys count here: a key whose only subkeys are volatile is
  // still implied by them and not written.
  return key.has_values() || !key.has_subkeys() || key.class_name().has_value() || key.is_link();
}

// The name escaped as Save writes it in paths; the key keeps it (its name
// never changes).
std::string_view SavedName(const Key& key) {
  KeyState& state = key.state();
  KeyState::Marks& marks = state.marks.value;
  if (!marks.saved_name_valid) {
    state.saved_name.clear();
    DumpString(state.saved_name, std::u16string_view(key.name()), kPlainInBrackets);
    marks.saved_name_valid = true;
  }
  return state.saved_name;
}

}  // namespace

void DumpValue(std::string& out, const Value& value) {
  std::size_t count;
  if (!value.name.empty()) {
    out.push_back('"');
    // Every unit of the name, a trailing NUL too, as Wine 10 writes it: Wine
    // 8 and 10 then load the file as they loaded the one it replaces.
    count = 1 + DumpString(out, WithNul{value.name}, kPlainInQuotes);
    out += "\"=";
    count += 2;
  } else {
    out += "@=";
    count = 2;
  }
  const std::vector<BYTE>& data = value.data;
  switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ:
      if (data.size() < 2 || data.size() % 2 != 0) break;
      if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) break;
      if (value.type != REG_SZ) {
        out += "str(";
        AppendHex(out, value.type, 1);
        out += "):";
      }
      out.push_back('"');
      DumpString(out, LittleEndianUnits{data.data(), data.size() / 2}, kPlainInQuotes);
      out += "\"\n";
      return;
    case REG_DWORD:
      if (data.size() != 4) break;
      out += "dword:";
      AppendHex(out,
                static_cast<std::uint32_t>(data[0] | (data[1] << 8) | (data[2] << 16)) |
                    (static_cast<std::uint32_t>(data[3]) << 24),
                8);
      out.push_back('\n');
      return;
    default:
      break;
  }
  const std::size_t tag_start = out.size();
  if (value.type == REG_BINARY) {
    out += "hex:";
  } else {
    out += "hex(";
    AppendHex(out, value.type, 1);
    out += "):";
  }
  count += out.size() - tag_start;
  const std::size_t n = data.size();
  if (n != 0) {
    // Two digits and a comma a byte; after the first break, a break at
    // most every 25 bytes.
    const std::size_t at = out.size();
    out.resize(at + 3 * n + 4 * (n / 24 + 2));
    char* const begin = out.data() + at;
    char* p = begin;
    for (std::size_t i = 0; i < n; ++i) {
      std::memcpy(p, kHexPairs[data[i]].data(), 2);
      p += 2;
      count += 2;
      if (i + 1 < n) {
        *p++ = ',';
        if (++count > 76) {
          for (const char c : {'\\', '\n', ' ', ' '}) *p++ = c;
          count = 2;
        }
      }
    }
    out.resize(at + static_cast<std::size_t>(p - begin));
  }
  out.push_back('\n');
}

void DumpSectionHead(std::string& out, std::int64_t time) {
  out += "] ";
  // Wrapping arithmetic and truncating division, as the server's C code does.
  const auto since_1970 =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(time) - static_cast<std::uint64_t>(kTicks1601To1970));
  AppendDecimal(out, static_cast<std::uint32_t>(static_cast<std::uint64_t>(since_1970 / kTicksPerSecond)));
  out += "\n#time=";
  const auto modif = static_cast<std::uint64_t>(time);
  AppendHex(out, modif >> 32, 1);
  AppendHex(out, modif & 0xFFFFFFFFu, 8);
  out.push_back('\n');
}
void DumpSection(std::string& out, const Key& key) {
  DumpSectionHead(out, key.modif());
  if (const auto& class_name = key.class_name()) {
    out += "#class=\"";
    DumpString(out, WithNul{*class_name}, kPlainInQuotes);
    out += "\"\n";
  }
  if (key.is_link()) out += "#link\n";
  for (const Value& value : key.values()) DumpValue(out, value);
}

}  // namespace internal

std::string_view SectionText(const Key& key) {
  internal::KeyState& state = key.state();
  if (!state.SectionKept()) {
    state.section.clear();
    internal::DumpSection(state.section, key);
    state.SectionMade();
  }
  return state.KeptSection();
}

using internal::kBranchPrefix;
using internal::KeyIsWritten;
using internal::kHeader;
using internal::Placement;
using internal::SavedName;

void SavedText::Kept(std::string_view text) {
  if (text.empty()) return;
  size_ += text.size();
  if (!parts_.empty() && parts_.back().data != nullptr && parts_.back().data + parts_.back().size == text.data()) {
    parts_.back().size += text.size();
    return;
  }
  parts_.push_back(Part{text.data(), 0, text.size()});
}

void SavedText::Append(std::string_view text) {
  if (text.empty()) return;
  size_ += text.size();
  if (parts_.empty() || parts_.back().data != nullptr) parts_.push_back(Part{nullptr, made_.size(), 0});
  made_ += text;
  parts_.back().size += text.size();
}

void Save(const Hive& hive, SavedText* out) {
  std::string head = kHeader;
  head.push_back('\n');
  head += kBranchPrefix;
  DumpString(head, std::u16string_view(hive.branch), kPlainInBrackets);
  head.push_back('\n');
  // A file without the line is a 32-bit prefix's.
  head += hive.arch == Arch::kWin64 ? "\n#arch=win64\n" : "\n#arch=win32\n";
  out->Append(head);

  // Depth-first, pre-order, without recursion. A key still where Parse put
  // it, under ancestors that are too, is written from its entry as read;
  // the path of any other is made on demand: `path_ends[k]` is the length
  // of stack[k]'s path within `path`.
  struct Frame {
    const Key* key;
    std::size_t next_child;
    bool as_loaded;
    bool done = false;  // its subtree written from the file's text
  };
  std::vector<Frame> stack;
  std::string path;
  std::vector<std::size_t> path_ends;
  const auto write = [&]() {
    const Frame& top = stack.back();
    const Key& key = *top.key;
    if (!KeyIsWritten(key)) return;
    if (top.as_loaded) {
      if (const std::string_view entry = key.state().ReadEntry(); !entry.empty()) {
        out->Kept(entry);
        return;
      }
    }
    if (path_ends.empty()) path_ends.push_back(0);  // the root's path is empty
    while (path_ends.size() < stack.size()) {
      const std::size_t k = path_ends.size();
      path.resize(path_ends.back());
      if (k > 1) path += "\\\\";
      path += SavedName(*stack[k].key);
      path_ends.push_back(path.size());
    }
    path.resize(path_ends.back());
    out->Append("\n[");
    out->Append(path);
    out->Kept(SectionText(key));
  };
  if (hive.root.is_volatile()) return;
  // A subtree never opened since Parse, where Parse put it, is its text.
  const auto write_below = [&]() {
    Frame& top = stack.back();
    if (!top.as_loaded) return;
    if (const std::string_view below = top.key->state().FoldedText(); !below.empty()) {
      out->Kept(below);
      top.done = true;
    }
  };
  stack.push_back(Frame{&hive.root, 0, hive.root.state().PlacedAt(Placement::kMade, nullptr)});
  write();
  write_below();
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.done || top.next_child >= top.key->subkeys().size()) {
      stack.pop_back();
      if (path_ends.size() > stack.size()) path_ends.resize(stack.size());
      continue;
    }
    const Key& child = *top.key->subkeys()[top.next_child++];
    if (child.is_volatile()) continue;
    const bool loaded = stack.size() == 1 ? child.state().PlacedAt(Placement::kTopLevel, nullptr)
                                          : child.state().PlacedAt(Placement::kUnder, top.key);
    stack.push_back(Frame{&child, 0, top.as_loaded && loaded});
    write();
    write_below();
  }
}

std::string Save(const Hive& hive) {
  SavedText text;
  Save(hive, &text);
  std::string out;
  out.reserve(text.size());
  text.ForEachPart([&](std::string_view part) { out += part; });
  return out;
}

}  // namespace winereg
