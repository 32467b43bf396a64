// The floor of a durable registry write: copy the file to a temporary file
// beside it, flush it, rename it over the original, flush the directory.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace skelvin_bench {

// False when a step fails.
inline bool CopyDurably(const std::string& file) {
  const std::string dir = file.find('/') != std::string::npos ? file.substr(0, file.rfind('/')) : ".";
  const std::string temp = file + ".floor-tmp";
  const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  bool ok = in >= 0 && out >= 0;
  static char buffer[1 << 16];
  for (ssize_t n; ok && (n = ::read(in, buffer, sizeof buffer)) != 0;) {
    if (n < 0) ok = false;
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w <= 0) ok = false;
      done += w;
    }
  }
  if (in >= 0) ::close(in);
  ok = ok && ::fsync(out) == 0;
  if (out >= 0) ok = ::close(out) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), file.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = d >= 0 && ::fsync(d) == 0;
  if (d >= 0) ::close(d);
  return ok;
}

}  // namespace skelvin_bench
