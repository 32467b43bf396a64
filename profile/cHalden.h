// cHalden: the machine profile. Asks the system to restart or shut down, and
// reports the model, language and recovery-disc identifiers of the OEM
// information file.
#pragma once

#include <cstdint>
#include <string>

namespace skelvin {

class cHalden {
 public:
  // The identifiers of the last successful read; empty before the first.
  std::u16string ModelName() const { return modelName_; }
  std::u16string Language() const { return language_; }
  std::u16string RecoveryCD() const { return recoveryCD_; }

  // "Reboot" asks for a restart (ExitWindowsEx EWX_REBOOT, reserved -1),
  // "Shutdown" for a shutdown (EWX_SHUTDOWN, reserved -1): one request per
  // set, its result ignored. Any other string (compared exactly) does nothing.
  // Never fails.
  void ExitWin(const std::u16string& ShutDownKey);

  // Any non-zero GO reads the OEM information file once (ReadOemInfo); 0
  // does nothing. The value is not kept. Throws the read's plat::Error
  // (53 no file, 62 no model line, ...), the three identifiers unchanged.
  void Collect(std::int16_t GO);

 private:
  // Reads "C:\Windows\system\Oeminfo.ini" up to its first line that begins
  // with "Model=" and keeps words 0, 1 and 3 of the rest of that line (words
  // are split at each single space). The file is closed on every path; the
  // three fields change together, and only when the read succeeds.
  void ReadOemInfo();

  std::u16string modelName_;
  std::u16string language_;
  std::u16string recoveryCD_;
};

}  // namespace skelvin
