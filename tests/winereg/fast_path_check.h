// The kept-text fast path against the plain parse: the same input must give
// the same registry, the same saved bytes and the same refusal either way.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "winereg/model.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace winereg::testing {

// Names, times, classes, links, volatility and values of two subtrees.
inline bool SameTree(const Key& a, const Key& b, std::string* why) {
  const auto differ = [&](const char* what) {
    *why = std::string(what) + " differ at key '" + std::string(a.name().begin(), a.name().end()) + "'";
    return false;
  };
  if (a.name() != b.name()) return differ("names");
  if (a.modif() != b.modif()) return differ("times");
  if (a.class_name() != b.class_name()) return differ("classes");
  if (a.is_link() != b.is_link() || a.is_volatile() != b.is_volatile()) return differ("flags");
  if (a.values().size() != b.values().size()) return differ("value counts");
  for (std::size_t i = 0; i < a.values().size(); ++i) {
    const Value& x = a.values()[i];
    const Value& y = b.values()[i];
    if (x.name != y.name || x.type != y.type || x.data != y.data) return differ("values");
  }
  if (a.subkeys().size() != b.subkeys().size()) return differ("subkey counts");
  for (std::size_t i = 0; i < a.subkeys().size(); ++i) {
    if (!SameTree(*a.subkeys()[i], *b.subkeys()[i], why)) return false;
  }
  return true;
}

// Empty when both parses agree, else what differs.
inline std::string FastPathDisagreement(std::string_view bytes) {
  const std::int64_t now = CurrentFileTime();  // one time of the load for both
  const auto parse = [&](bool keep_text, ParseError* error) {
    return Parse(ParseInput::FromString(std::string(bytes)), error, ParseOptions{keep_text, now, {}});
  };
  ParseError kept_error;
  ParseError plain_error;
  std::optional<Hive> kept = parse(true, &kept_error);
  std::optional<Hive> plain = parse(false, &plain_error);
  if (kept.has_value() != plain.has_value())
    return kept ? "only the plain parse refuses" : "only the fast path refuses";
  if (!kept) {
    if (kept_error.line != plain_error.line || kept_error.message != plain_error.message) {
      return "refusals differ: " + std::to_string(kept_error.line) + ": " + kept_error.message + " / " +
             std::to_string(plain_error.line) + ": " + plain_error.message;
    }
    return {};
  }
  if (kept->branch != plain->branch || kept->arch != plain->arch || kept->size_hint != plain->size_hint) {
    return "branch, arch or size differ";
  }
  std::string why;
  if (!SameTree(kept->root, plain->root, &why)) return why;
  if (Save(*kept) != Save(*plain)) return "saved bytes differ";
  return {};
}

}  // namespace winereg::testing
