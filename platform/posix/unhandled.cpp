// The report of an uncaught error, on standard error.
#include "platform/unhandled.h"

#include <cstdio>

#include "platform/posix/output.h"
#include <string>

#include "platform/error.h"
#include "platform/utf8.h"

namespace plat {

void ReportUnhandled(std::int32_t number, const std::u16string& description) {
  posix::WriteOutput({});  // what the run said so far comes first
  const std::string text = "Run-time error '" + ToUtf8(Decimal(number)) + "':\n\n" + ToUtf8(description) + "\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace plat
