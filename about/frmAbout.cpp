#include "about/frmAbout.h"

#include <array>
#include <exception>
#include <string>

#include "about/frmAbout_design.h"
#include "platform/app.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/msgbox.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace skelvin {
namespace {

using plat::BYTE;
using plat::DWORD;
using plat::HKEY;
using plat::LONG;

// Read control and the six key rights (not KEY_ALL_ACCESS, 0xF003F).
constexpr plat::REGSAM kKeyAccess = plat::READ_CONTROL | plat::KEY_QUERY_VALUE | plat::KEY_SET_VALUE |
                                    plat::KEY_CREATE_SUB_KEY | plat::KEY_ENUMERATE_SUB_KEYS | plat::KEY_NOTIFY |
                                    plat::KEY_CREATE_LINK;
static_assert(kKeyAccess == 0x2003F);

constexpr DWORD kLookupBuffer = 1024;

// Where the System Information tool is registered, in the order tried.
constexpr char16_t kRegKeySysInfo[] = u"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr char16_t kRegValSysInfo[] = u"PATH";
constexpr char16_t kRegKeySysInfoLoc[] = u"SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr char16_t kRegValSysInfoLoc[] = u"MSINFO";
constexpr char16_t kSysInfoExe[] = u"\\MSINFO32.EXE";
constexpr char16_t kUnavailable[] = u"System Information Is Unavailable At This Time";

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

namespace about {

std::u16string GeneralFormat(const std::u16string& text) {
  if (text.size() < 3 || text[0] != u'&' || (text[1] != u'h' && text[1] != u'H')) return text;
  const std::size_t digits = text.size() - 2;
  if (digits > 8) return text;
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < text.size(); ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return text;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  // Up to four digits make a 16-bit literal, more a 32-bit one; both signed.
  const std::int64_t number = digits <= 4 ? static_cast<std::int64_t>(static_cast<std::int16_t>(value))
                                          : static_cast<std::int64_t>(static_cast<std::int32_t>(value));
  return plat::Decimal(number);
}

}  // namespace about

frmAbout::~frmAbout() { Unload(); }

void frmAbout::Load() {
  if (Loaded()) return;
  plat::DialogToolkit& toolkit = plat::Use<plat::DialogToolkit>();
  const plat::FormId form = toolkit.CreateForm(about::Design(), this);
  if (form == 0) throw plat::Fault(plat::kOutOfMemory);
  form_ = form;
  toolkit_ = &toolkit;
  Form_Load();
}

void frmAbout::Show(plat::ShowMode mode) {
  Load();
  toolkit_->Show(form_, mode);
}

void frmAbout::Unload() {
  if (!Loaded()) return;
  const plat::FormId form = form_;
  form_ = 0;
  toolkit_->DestroyForm(form);
  toolkit_ = nullptr;
}

std::u16string frmAbout::Caption() const { return Loaded() ? toolkit_->Caption(form_) : std::u16string(); }

std::u16string frmAbout::ControlText(std::size_t control) const {
  return Loaded() ? toolkit_->Text(form_, control) : std::u16string();
}

void frmAbout::Form_Load() {
  const plat::AppInfo& app = plat::App();
  toolkit_->SetCaption(form_, u"About " + app.Title);
  toolkit_->SetText(
      form_, about::kLblVersion,
      u"Version " + plat::Decimal(app.Major) + u"." + plat::Decimal(app.Minor) + u"." + plat::Decimal(app.Revision));
  toolkit_->SetText(form_, about::kLblTitle, app.Title);
}

void frmAbout::cmdOK_Click() { Unload(); }

void frmAbout::Click(plat::FormId form, std::size_t control) {
  if (form == form_ && control == about::kCmdOK) cmdOK_Click();
}

// Closing the window from its frame unloads the dialog; no handler of the
// dialog's own runs for it.
void frmAbout::CloseRequest(plat::FormId form) {
  if (form == form_) Unload();
}

void frmAbout::StartSysInfo() {
  try {
    std::int32_t root = static_cast<std::int32_t>(plat::HKEY_LOCAL_MACHINE);
    std::u16string SysInfoPath;
    std::u16string key = kRegKeySysInfo;
    std::u16string value = kRegValSysInfo;
    bool found = GetKeyValue(root, key, value, SysInfoPath) != about::kFalse;
    if (!found) {
      key = kRegKeySysInfoLoc;
      value = kRegValSysInfoLoc;
      // Only the folder of the second location is checked for the program.
      if (GetKeyValue(root, key, value, SysInfoPath) != about::kFalse &&
          !plat::Dir(SysInfoPath + kSysInfoExe, plat::ATTR_NORMAL).empty()) {
        SysInfoPath += kSysInfoExe;
        found = true;
      }
    }
    if (found) {
      plat::StartProgram(SysInfoPath, plat::SW_SHOWNORMAL);
      return;
    }
  } catch (const std::exception&) {
    // Any error of the steps above ends here and is not passed on.
  }
  // A box with OK alone: its answer tells nothing.
  (void)plat::Use<plat::MsgBox>().MessageBoxW(0, kUnavailable, plat::App().Title.c_str(), plat::MB_OK);
}

std::int16_t frmAbout::GetKeyValue(std::int32_t& KeyRoot, std::u16string& KeyName, std::u16string& SubKeyRef,
                                   std::u16string& KeyVal) {
  plat::Registry& api = plat::Use<plat::Registry>();
  const std::string keyName = plat::ToAnsi(KeyName);
  const std::string valueName = plat::ToAnsi(SubKeyRef);
  KeyName = plat::FromAnsi(keyName);
  SubKeyRef = plat::FromAnsi(valueName);

  // Closed below on both paths; a fault on its way out closes it silently.
  plat::UniqueHKey hKey;
  std::int16_t result = about::kFalse;
  if (api.RegOpenKeyExA(static_cast<HKEY>(KeyRoot), keyName.c_str(), 0, kKeyAccess, hKey.receive(api)) ==
      plat::ERROR_SUCCESS) {
    std::array<BYTE, kLookupBuffer> buffer{};
    DWORD size = kLookupBuffer;
    DWORD type = 0;
    if (api.RegQueryValueExA(hKey.get(), valueName.c_str(), nullptr, &type, buffer.data(), &size) ==
        plat::ERROR_SUCCESS) {
      // The text is the buffer, one character per byte, cut at the data
      // length; a zero at that length is the terminator and goes too.
      if (size > kLookupBuffer) size = kLookupBuffer;
      if (size == 0) throw plat::Fault(plat::kInvalidArgument);
      const DWORD kept = buffer[size - 1] == 0 ? size - 1 : size;
      const std::string text(reinterpret_cast<const char*>(buffer.data()), kept);
      if (type == plat::REG_SZ) {
        KeyVal = plat::FromAnsi(text);
      } else if (type == plat::REG_DWORD) {
        // Least significant byte first in the data: the digits come out most
        // significant first.
        for (DWORD i = kept; i > 0; --i) {
          const BYTE byte = buffer[i - 1];
          KeyVal += kHexDigits[byte >> 4];
          KeyVal += kHexDigits[byte & 0x0F];
        }
        KeyVal = about::GeneralFormat(u"&h" + KeyVal);
      }
      result = about::kTrue;
    }
  }
  if (result == about::kFalse) KeyVal.clear();
  // Its status is ignored; a fault it raises reaches the caller.
  (void)hKey.Close();
  return result;
}

}  // namespace skelvin
