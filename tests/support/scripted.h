// A scripted platform for tests: message boxes and restart requests are
// recorded instead of shown or made, and registry calls can be made to fail.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/exitwindows.h"
#include "platform/msgbox.h"
#include "platform/registry.h"

namespace testenv {

// Every platform event of a run, in order, as text: "MessageBox(<text>|<caption>|<style>)",
// "ExitWindowsEx(<flags>,<reserved>)", "RegSetValueExA(<name>)", ...
using EventLog = std::vector<std::string>;

struct MessageBoxCall {
  std::u16string text;
  std::u16string caption;
  plat::UINT type;
};

class RecordingMsgBox final : public plat::MsgBox {
 public:
  explicit RecordingMsgBox(EventLog* log = nullptr) : log_(log) {}
  int MessageBoxW(plat::HWND, const char16_t* text, const char16_t* caption, plat::UINT type) override;
  std::vector<MessageBoxCall> calls;

 private:
  EventLog* log_;
};

struct ExitWindowsCall {
  plat::UINT flags;
  plat::DWORD reserved;
};

class RecordingShutdown final : public plat::Shutdown {
 public:
  explicit RecordingShutdown(EventLog* log = nullptr, plat::BOOL result = plat::TRUE) : log_(log), result_(result) {}
  plat::BOOL ExitWindowsEx(plat::UINT flags, plat::DWORD reserved) override;
  std::vector<ExitWindowsCall> calls;

 private:
  EventLog* log_;
  plat::BOOL result_;
};

// Forwards to another registry facility, logging the calls that change the
// registry; a rule can make a call fail with a chosen status, or throw.
class ScriptedRegistry final : public plat::Registry {
 public:
  // Decides the fate of a call: nullopt forwards it, a status fails it.
  using Rule = std::function<std::optional<plat::LONG>(const std::string& call, const std::string& name)>;

  explicit ScriptedRegistry(plat::Registry& inner, EventLog* log = nullptr) : inner_(inner), log_(log) {}
  void SetRule(Rule rule) { rule_ = std::move(rule); }
  // Fails every RegSetValueExA of a value of this name (ANSI) with `status`.
  void FailSetValue(const std::string& name, plat::LONG status);

  plat::LONG RegOpenKeyExA(plat::HKEY, const char*, plat::DWORD, plat::REGSAM, plat::HKEY*) override;
  plat::LONG RegCreateKeyExA(plat::HKEY, const char*, plat::DWORD, char*, plat::DWORD, plat::REGSAM,
                             const plat::SECURITY_ATTRIBUTES*, plat::HKEY*, plat::DWORD*) override;
  plat::LONG RegSetValueExA(plat::HKEY, const char*, plat::DWORD, plat::DWORD, const plat::BYTE*, plat::DWORD) override;
  plat::LONG RegQueryValueExA(plat::HKEY, const char*, plat::DWORD*, plat::DWORD*, plat::BYTE*, plat::DWORD*) override;
  plat::LONG RegEnumValueA(plat::HKEY, plat::DWORD, char*, plat::DWORD*, plat::DWORD*, plat::DWORD*, plat::BYTE*,
                           plat::DWORD*) override;
  plat::LONG RegEnumKeyA(plat::HKEY, plat::DWORD, char*, plat::DWORD) override;
  plat::LONG RegDeleteKeyA(plat::HKEY, const char*) override;
  plat::LONG RegCloseKey(plat::HKEY) override;

 private:
  std::optional<plat::LONG> Apply(const std::string& call, const char* name);

  plat::Registry& inner_;
  EventLog* log_;
  Rule rule_;
};

// Raw access for assertions: the value's type and bytes, or nullopt when the
// key or value is missing.
struct RawValue {
  plat::DWORD type;
  std::vector<plat::BYTE> data;
  bool operator==(const RawValue&) const = default;
};
std::optional<RawValue> ReadRaw(plat::Registry& api, plat::HKEY root, const std::string& path, const std::string& name);
bool KeyPresent(plat::Registry& api, plat::HKEY root, const std::string& path);

}  // namespace testenv
