// File-system set-up for the Windows backend's own tests, so that the tests
// need not include <windows.h> themselves.
#pragma once

#include <string>

#include "platform/types.h"

namespace plat::win32::testing {

// The temporary folder, with its trailing backslash.
std::string TempPath();
bool MakeFolder(const std::string& path);
bool RemoveFolder(const std::string& path);
// Creates (or truncates) a file with the given FILE_ATTRIBUTE_* bits.
bool MakeFile(const std::string& path, DWORD attributes);
// Clears the file's attributes and deletes it.
bool RemoveFile(const std::string& path);
DWORD ProcessId();

}  // namespace plat::win32::testing
