// Fuzzes the OEM information reader: arbitrary bytes as the file's content,
// served through a scripted file facility (no disk I/O) in chunks whose size
// the first byte chooses. The reader must not crash, must close the file, and
// must agree with a plain byte-level reading of the same content.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/textfile.h"
#include "profile/cHalden.h"
#include "tests/support/oem_scripted.h"

namespace {

struct Expected {
  std::u16string model, language, recovery;
};

// Lines end at CR or CR LF; the first line beginning "Model=" gives words 0,
// 1 and 3 (split at each space). nullopt: no such line.
std::optional<Expected> Oracle(std::string_view content) {
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\r', start);
    if (end == std::string_view::npos) end = content.size();
    const std::string_view line = content.substr(start, end - start);
    if (line.substr(0, 6) == "Model=") {
      std::string words[4];
      std::size_t word = 0;
      for (const char c : line.substr(6)) {
        if (c == ' ') {
          ++word;
        } else if (word < 4) {
          words[word] += c;
        }
      }
      return Expected{plat::FromAnsi(words[0]), plat::FromAnsi(words[1]), plat::FromAnsi(words[3])};
    }
    start = end + 1;
    if (start < content.size() && content[start] == '\n') ++start;
  }
  return std::nullopt;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  constexpr plat::DWORD kChunks[] = {1, 2, 3, 5, 7, 64, 4095, 4096};
  const plat::DWORD chunk = kChunks[data[0] % (sizeof kChunks / sizeof kChunks[0])];
  const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);

  testenv::ScriptedFileInput files(content);
  files.chunk = chunk;
  plat::ScopedUse<plat::FileInput> use(files);

  skelvin::cHalden halden;
  const std::optional<Expected> expected = Oracle(content);
  bool succeeded = false;
  try {
    halden.Collect(-1);
    succeeded = true;
  } catch (const plat::Error& error) {
    Check(error.Number() == plat::kInputPastEndOfFile);
  }
  Check(succeeded == expected.has_value());
  Check(files.opened.size() == 1 && files.closes == 1 && !files.open() && files.bad_handle_calls == 0);
  Check(files.largest_request <= plat::TextInput::kChunk);
  if (expected) {
    Check(halden.ModelName() == expected->model);
    Check(halden.Language() == expected->language);
    Check(halden.RecoveryCD() == expected->recovery);
  } else {
    Check(halden.ModelName().empty() && halden.Language().empty() && halden.RecoveryCD().empty());
  }
  return 0;
}
