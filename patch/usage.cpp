// The program's command line as its usage and help text describe it.
#include <string>
#include <string_view>

#include "platform/entry.h"

std::string plat::ProgramUsage(std::string_view exe_name) {
  return "usage: " + std::string(exe_name) + " [--help | --version]\n";
}

std::string_view plat::ProgramHelp() {
  return "Sets \"YV12\" and \"NMMC\" under HKLM\\Software\\Mediamatics\\DVD Express\\ActiveMovie "
         "Decoder\\Formats to 0 in the Wine prefix $WINEPREFIX (default ~/.wine), then requests a restart.\n";
}
