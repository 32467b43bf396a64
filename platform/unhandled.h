// The report of an error that ended the program; each backend provides it.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// The platform's report of an error that ended the program: on Windows a
// critical message box, on POSIX a report on standard error.
void ReportUnhandled(std::int32_t number, const std::u16string& description);

}  // namespace plat
