// The running executable's name, from /proc/self/exe.
#include <unistd.h>

#include <string>

#include "platform/app.h"
#include "platform/utf8.h"

namespace plat {

std::u16string ModuleBaseName() {
  std::string path(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
  path.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  std::string name = path.substr(path.find_last_of('/') + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot != 0) name.resize(dot);
  return FromUtf8(name);
}

}  // namespace plat
