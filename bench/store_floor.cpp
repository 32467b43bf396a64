// The floor of a durable registry write, as one program (see floor.h).
// Usage: store_floor <file>
#include <cstdio>

#include "bench/floor.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: store_floor <file>\n");
    return 2;
  }
  return skelvin_bench::CopyDurably(argv[1]) ? 0 : 1;
}
