// The running program's metadata: title, executable name, version numbers.
//
// A facility like the others (facility.h): App() is what the installed
// AppMetadata says. The platform's own answer knows only the running
// executable; a program's entry point installs the program's title and
// version for the whole run (entry.h), and tests install theirs the same way,
// through ScopedUse.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/facility.h"

namespace plat {

struct AppInfo {
  std::u16string Title;
  std::u16string EXEName;  // the executable's file name without its extension
  std::int16_t Major = 0;
  std::int16_t Minor = 0;
  std::int16_t Revision = 0;
};

class AppMetadata {
 public:
  virtual ~AppMetadata() = default;
  // The same record for the facility's whole life.
  virtual const AppInfo& Info() = 0;
};

// The platform's answer: the running executable's name as EXEName and as
// Title, version 0.0.0.
template <>
AppMetadata& Backend<AppMetadata>();

// A record given once: what entry points and tests install.
class FixedAppInfo final : public AppMetadata {
 public:
  explicit FixedAppInfo(AppInfo info) : info_(std::move(info)) {}
  const AppInfo& Info() override { return info_; }

 private:
  AppInfo info_;
};

// The metadata of this program, as the installed facility gives it.
inline const AppInfo& App() { return Use<AppMetadata>().Info(); }

// The running executable's file name without directory and extension
// (provided by the backend; empty when it cannot be found).
std::u16string ModuleBaseName();

}  // namespace plat
