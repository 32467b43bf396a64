// One of several processes writing into one prefix at the same time through
// the accessor: writer <id> sets "W<id>_<i>" = id * 100000 + i for i < count
// in HKLM\Software\Skelvin Stress\Shared, then "Count" = count in its own key
// HKLM\Software\Skelvin Stress\Writer<id>. It starts once the gate file
// exists, so that all writers begin together.
// Usage: concurrent_writer <id> <count> <gate file>   (prefix: $WINEPREFIX)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/entry.h"
#include "registry/cRegistry.h"

namespace {

int g_id = 0;
int g_count = 0;

void Write() {
  skelvin::cRegistry reg;
  reg.ClassKey(static_cast<std::int32_t>(0x80000002U));
  reg.SectionKey(u"Software\\Skelvin Stress\\Shared");
  for (int i = 0; i < g_count; ++i) {
    reg.ValueKey(plat::FromAnsi("W" + std::to_string(g_id) + "_" + std::to_string(i)));
    reg.DWordValue(g_id * 100000 + i);
  }
  reg.SectionKey(plat::FromAnsi("Software\\Skelvin Stress\\Writer" + std::to_string(g_id)));
  reg.ValueKey(u"Count");
  reg.DWordValue(g_count);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: concurrent_writer <id> <count> <gate file>\n");
    return 2;
  }
  g_id = std::atoi(argv[1]);
  g_count = std::atoi(argv[2]);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::access(argv[3], F_OK) != 0) {
    if (std::chrono::steady_clock::now() > deadline) return 3;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return plat::RunProgram(&Write);
}
