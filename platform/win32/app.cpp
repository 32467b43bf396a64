// The running executable's name, from the module's own path.
#include <string>

#include "platform/app.h"
#include "platform/win32/win32.h"

namespace plat {

std::u16string ModuleBaseName() {
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const ::DWORD size = static_cast<::DWORD>(path.size());
    const ::DWORD length = ::GetModuleFileNameW(nullptr, win32::Wide(path.data()), size);
    if (length == 0) return {};
    // A full buffer means the path was cut short (the result may lack its NUL).
    if (length < size) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.find_last_of(u"\\/:");
  std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind(u'.');
  if (dot != std::u16string::npos) name.resize(dot);
  return name;
}

}  // namespace plat
