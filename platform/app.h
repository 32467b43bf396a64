// The running program's metadata: title, executable name, version numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace plat {

struct AppInfo {
  std::u16string Title;
  std::u16string EXEName;  // the executable's file name without its extension
  std::int16_t Major = 0;
  std::int16_t Minor = 0;
  std::int16_t Revision = 0;
};

// The metadata of this program. Title and version are the program's own
// settings; EXEName is found at run time from the running executable.
const AppInfo& App();

// The running executable's file name without directory and extension
// (provided by the backend).
std::u16string ModuleBaseName();

// Replaces App() for its lifetime (tests of what shows the metadata).
class ScopedAppInfo {
 public:
  explicit ScopedAppInfo(AppInfo info);
  ~ScopedAppInfo();
  ScopedAppInfo(const ScopedAppInfo&) = delete;
  ScopedAppInfo& operator=(const ScopedAppInfo&) = delete;

 private:
  std::optional<AppInfo> previous_;
};

}  // namespace plat
