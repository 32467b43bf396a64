#include "platform/posix/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace plat::posix {
namespace {

int first_error = 0;

void Keep(int error) {
  if (first_error == 0) first_error = error != 0 ? error : EIO;
}

}  // namespace

void GuardStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null != -1 && null != fd) {
      (void)::dup2(null, fd);
      (void)::close(null);
    }
    if (fd == STDOUT_FILENO) Keep(EBADF);
  }
}

void WriteOutput(std::string_view text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) Keep(errno);
  errno = 0;
  if (std::fflush(stdout) != 0) Keep(errno);
}

int OutputError() {
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) Keep(errno);
  return first_error;
}

}  // namespace plat::posix
