// The platform's own application metadata.
#include "platform/app.h"

namespace plat {

template <>
AppMetadata& Backend<AppMetadata>() {
  static FixedAppInfo info([] {
    AppInfo app;
    app.EXEName = ModuleBaseName();
    app.Title = app.EXEName;
    return app;
  }());
  return info;
}

}  // namespace plat
