// The registry file model under the POSIX backend's names, for code written
// against them; the store itself is the winereg library.
#pragma once

#include "winereg/model.h"
#include "winereg/reader.h"
#include "winereg/writer.h"

namespace plat::posix {

using winereg::Arch;
using winereg::CompareNames;
using winereg::Hive;
using winereg::Key;
using winereg::Parse;
using winereg::ParseError;
using winereg::SameName;
using winereg::Save;
using winereg::Value;

}  // namespace plat::posix
