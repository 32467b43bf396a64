// The program's run: its identity as App() gives it, and the end of an
// uncaught error.
#include "platform/entry.h"

#include <exception>
#include <new>
#include <string>

#include "platform/error.h"
#include "platform/unhandled.h"
#include "platform/utf8.h"

namespace plat {

AppInfo AppInfoOf(const ProgramIdentity& identity) {
  AppInfo app;
  app.Title = std::u16string(identity.Title);
  app.EXEName = ModuleBaseName();
  app.Major = identity.Major;
  app.Minor = identity.Minor;
  app.Revision = identity.Revision;
  return app;
}

int RunProgram(void (*main)()) {
  try {
    main();
    return 0;
  } catch (const Error& error) {
    ReportUnhandled(error.Number(), error.Description());
  } catch (const std::bad_alloc&) {
    ReportUnhandled(kOutOfMemory, FaultText(kOutOfMemory));
  } catch (const std::exception& error) {
    ReportUnhandled(kInternalError, FromUtf8(error.what()));
  }
  return 1;
}

}  // namespace plat
