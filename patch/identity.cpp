// The program's identity: the title and version its resource script carries.
#include "patch/version.h"
#include "platform/entry.h"

const plat::ProgramIdentity& plat::ProgramInfo() {
  static constexpr ProgramIdentity kIdentity{u"" SKELVIN_TITLE, SKELVIN_VERSION_MAJOR, SKELVIN_VERSION_MINOR,
                                             SKELVIN_VERSION_REVISION, SKELVIN_VERSION_TEXT};
  return kIdentity;
}
