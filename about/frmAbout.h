// frmAbout: the program's About dialog.
//
// Load creates the dialog's window and controls from its design (see
// frmAbout_design.h) through the dialog toolkit and runs the load handler:
// the caption becomes "About " + the application title, lblTitle the title
// and lblVersion "Version major.minor.revision". Show shows it, loading it
// first when needed; clicking OK, or Enter or Esc, runs the OK handler,
// which unloads it (the window and its controls are destroyed). A later load
// starts again from the design texts.
//
// StartSysInfo and GetKeyValue need no loaded dialog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dialog.h"

namespace skelvin {

class frmAbout final : private plat::FormEvents {
 public:
  frmAbout() = default;
  // Unloads the dialog when it is still loaded.
  ~frmAbout() override;
  frmAbout(const frmAbout&) = delete;
  frmAbout& operator=(const frmAbout&) = delete;

  // Creates the dialog and runs its load handler; nothing when it is loaded
  // already. Fault 7 when the toolkit cannot create the window.
  void Load();
  // Shows the dialog, loading it first. Modal returns once it is unloaded.
  void Show(plat::ShowMode mode = plat::ShowMode::Modeless);
  // Closes and destroys the dialog; nothing when it is not loaded.
  void Unload();
  bool Loaded() const { return form_ != 0; }

  // The live texts, read back from the toolkit (empty when not loaded).
  std::u16string Caption() const;
  std::u16string ControlText(std::size_t control) const;

  // Starts the System Information tool found in the registry, or tells the
  // user "System Information Is Unavailable At This Time". Never raises.
  void StartSysInfo();

  // Reads the value SubKeyRef of the key KeyName below KeyRoot into KeyVal as
  // text. True (-1) when it was found and read, False (0) otherwise (KeyVal is
  // then empty). REG_SZ gives its text without the terminating zero; REG_DWORD
  // appends its bytes as hexadecimal digits to KeyVal and hands "&h" + KeyVal
  // to GeneralFormat (for the empty KeyVal: the value's signed 32-bit decimal
  // text, 0x100 -> "256", 0xFFFFFFFF -> "-1"); other types leave KeyVal as it
  // was. KeyName and SubKeyRef come back as their ANSI round trip. A value of
  // no data is fault 5 (raised, the key closed). A fault of RegCloseKey
  // reaches the caller; its status is ignored.
  std::int16_t GetKeyValue(std::int32_t& KeyRoot, std::u16string& KeyName, std::u16string& SubKeyRef,
                           std::u16string& KeyVal);

 private:
  void Form_Load();
  void cmdOK_Click();

  void Click(plat::FormId form, std::size_t control) override;
  void CloseRequest(plat::FormId form) override;

  plat::FormId form_ = 0;
  plat::DialogToolkit* toolkit_ = nullptr;  // the toolkit that holds form_
};

namespace about {

// Truth values of the 16-bit kind.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;

// The general formatting of a text without a pattern, for the texts that
// GetKeyValue makes: a hexadecimal literal "&h" followed by 1 to 4 digits is
// a 16-bit and by 5 to 8 digits a 32-bit signed number, written in plain
// decimal ("&h000100" -> "256", "&hFFFFFFFF" -> "-1", "&hFFFF" -> "-1"); any
// other text is returned as it is.
std::u16string GeneralFormat(const std::u16string& text);

}  // namespace about
}  // namespace skelvin
