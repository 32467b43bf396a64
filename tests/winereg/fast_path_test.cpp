// The kept-text fast path gives what the plain parse gives, on real files,
// the fuzz seeds and variants of each that leave wineserver's form here
// and there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/winereg/fast_path_check.h"

namespace winereg {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::size_t stop = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, stop - start));
    start = stop;
  }
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}

// The file itself, and the file with each line dropped, doubled, indented,
// ended with "\r\n" or preceded by a comment, and cut at many places.
std::vector<std::string> Variants(const std::string& text) {
  std::vector<std::string> out{text};
  const std::vector<std::string> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::vector<std::string> changed = lines;
    changed.erase(changed.begin() + static_cast<std::ptrdiff_t>(i));
    out.push_back(Join(changed));
    changed = lines;
    changed.insert(changed.begin() + static_cast<std::ptrdiff_t>(i), lines[i]);
    out.push_back(Join(changed));
    changed = lines;
    changed[i] = " " + changed[i];
    out.push_back(Join(changed));
    changed = lines;
    if (!changed[i].empty() && changed[i].back() == '\n') changed[i].insert(changed[i].size() - 1, "\r");
    out.push_back(Join(changed));
    changed = lines;
    changed.insert(changed.begin() + static_cast<std::ptrdiff_t>(i), ";\n");
    out.push_back(Join(changed));
  }
  for (std::size_t cut = 1; cut < text.size(); cut += 37) out.push_back(text.substr(0, cut));
  return out;
}

std::vector<fs::path> Inputs() {
  std::vector<fs::path> files;
  for (const char* dir : {HIVE_TEST_DATA_DIR, FUZZ_SEEDS_DIR}) {
    for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path());
  }
  return files;
}

TEST(FastPathTest, AgreesWithThePlainParseOnEveryInput) {
  const std::vector<fs::path> files = Inputs();
  ASSERT_FALSE(files.empty());
  std::size_t checked = 0;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::string> variants = Variants(text);
    for (std::size_t i = 0; i < variants.size(); ++i) {
      EXPECT_EQ(testing::FastPathDisagreement(variants[i]), "") << file << ", variant " << i;
      ++checked;
    }
  }
  EXPECT_GT(checked, files.size());
}

}  // namespace
}  // namespace winereg
