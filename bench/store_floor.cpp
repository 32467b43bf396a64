// The floor of a durable registry write: copy the file to a temporary file
// beside it, flush it, rename it over the original, flush the directory.
// Usage: store_floor <file>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: store_floor <file>\n");
    return 2;
  }
  const std::string file = argv[1];
  const std::string dir = file.find('/') != std::string::npos ? file.substr(0, file.rfind('/')) : ".";
  const std::string temp = file + ".floor-tmp";
  const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (in < 0 || out < 0) return 1;
  char buffer[1 << 16];
  for (ssize_t n; (n = ::read(in, buffer, sizeof buffer)) != 0;) {
    if (n < 0) return 1;
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(n - done));
      if (w <= 0) return 1;
      done += w;
    }
  }
  ::close(in);
  if (::fsync(out) != 0 || ::close(out) != 0 || ::rename(temp.c_str(), file.c_str()) != 0) return 1;
  const int d = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d < 0 || ::fsync(d) != 0) return 1;
  ::close(d);
  return 0;
}
