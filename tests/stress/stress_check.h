// Checks of a registry file after an interrupted or failed run: does it
// parse, and is it exactly the old content with some leading part of the
// run's changes applied (each change being one completed registry call)?
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "winereg/model.h"
#include "winereg/reader.h"
#include "platform/registry.h"

namespace stress {

// One value a run writes, in the order it writes them.
struct Change {
  std::u16string name;
  plat::DWORD type = 0;
  std::vector<plat::BYTE> data;
};
Change DwordChange(const std::u16string& name, plat::DWORD value);

struct FileState {
  bool parsed = false;  // false: absent files aside, the file did not parse
  bool exists = false;  // the file is there
  int applied = -1;     // how many of the changes it holds; -1: not an allowed state
  std::string why;      // what did not match
};

// Reads and parses a file; nullopt (with `why`) when it is absent or does not parse.
std::optional<winereg::Hive> ReadHive(const std::filesystem::path& file, std::string* why);

// Compares `file` with `base` (absent: the file did not exist) after the
// first n of `changes` under the stored key path `section` (elements split
// by "\\"): keys of that path that `base` lacks may have been created, key
// times are ignored. Finds the n that matches.
FileState Classify(const std::filesystem::path& file, const std::optional<std::filesystem::path>& base,
                   const std::u16string& section, const std::vector<Change>& changes);

// Two trees with the same names, classes, links and values, times aside.
bool SameTree(const winereg::Key& a, const winereg::Key& b, std::string* why);

// Files in `dir` that a store leaves only while it is at work.
std::vector<std::string> Leftovers(const std::filesystem::path& dir);

std::string Narrow(const std::u16string& text);

}  // namespace stress
