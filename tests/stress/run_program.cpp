#include "tests/stress/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

namespace stress {

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

RunResult Run(const RunPlan& plan) {
  const std::string out_file = (plan.scratch / "stdout").string();
  const std::string err_file = (plan.scratch / "stderr").string();
  std::vector<std::string> env_text;
  for (const char* name : {"PATH", "HOME", "LANG"}) {
    if (const char* value = std::getenv(name)) env_text.push_back(std::string(name) + "=" + value);
  }
  env_text.push_back("WINEDEBUG=-all");
  for (const auto& [name, value] : plan.env) env_text.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = plan.program.string();
  char* argv[] = {program.data(), nullptr};

  RunResult result;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(argv[0], argv, envp.data());
    ::_exit(127);
  }
  if (child < 0) return result;
  if (plan.kill_after) {
    const auto ns = plan.kill_after->count();
    const timespec delay = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ::nanosleep(&delay, nullptr);
    ::kill(child, SIGKILL);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  result.took = std::chrono::steady_clock::now() - start;
  result.exited = WIFEXITED(status);
  result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
  result.out = ReadFile(out_file);
  result.err = ReadFile(err_file);
  return result;
}

}  // namespace stress
