// Runs the native program as the stress tests need it: in its own prefix
// and TMPDIR, stdin closed, output captured, optionally under the
// interposer or with a SIGKILL after a delay.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace stress {

struct RunResult {
  bool exited = false;  // false: ended by a signal
  int code = -1;        // exit status, or the signal
  std::string out;
  std::string err;
  std::chrono::nanoseconds took{};
};

struct RunPlan {
  std::filesystem::path program;
  std::map<std::string, std::string> env;  // added to a minimal environment
  std::optional<std::chrono::nanoseconds> kill_after;
  std::filesystem::path scratch;  // where stdout and stderr are kept
};

RunResult Run(const RunPlan& plan);

std::string ReadFile(const std::filesystem::path& file);

}  // namespace stress
