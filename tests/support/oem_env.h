// The OEM information file "C:\Windows\system\Oeminfo.ini" on the build's own
// backend, for one test.
//
// Natively: a new temporary Wine prefix with drive C: (dosdevices/c: a link
// to ../drive_c, and drive_c/windows/system), and the prefix's file facility
// installed for the test's lifetime. Under Windows (or Wine): the real
// C:\Windows\system folder and the real file API; what the test wrote is
// removed, and a file that was there before is put back, when it ends.
#pragma once

#include <memory>
#include <string>

namespace testenv {

class OemFileEnv {
 public:
  OemFileEnv();
  ~OemFileEnv();
  OemFileEnv(const OemFileEnv&) = delete;
  OemFileEnv& operator=(const OemFileEnv&) = delete;

  // Writes C:\Windows\system\<name> (the name as the file system keeps it).
  void Write(const std::string& bytes, const std::string& name = "Oeminfo.ini");
  // Removes C:\Windows\system\<name>; a missing file is fine.
  void Remove(const std::string& name = "Oeminfo.ini");

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testenv
