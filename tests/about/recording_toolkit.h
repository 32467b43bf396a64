// A dialog toolkit that keeps forms in memory and records what is done to
// them, for tests of the handlers on any backend. User actions are played
// with Press / Close.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/dialog.h"
#include "platform/utf8.h"

namespace testenv {

class RecordingToolkit final : public plat::DialogToolkit {
 public:
  struct Form {
    const plat::FormDesign* design;
    plat::FormEvents* events;
    std::u16string caption;
    std::vector<std::u16string> texts;
    bool shown = false;
  };

  plat::FormId CreateForm(const plat::FormDesign& design, plat::FormEvents* events) override {
    log.push_back("CreateForm(" + plat::ToUtf8(std::u16string(design.Name)) + ")");
    if (fail_create) return 0;
    Form form{&design, events, std::u16string(design.Caption), {}, false};
    for (const auto& control : design.Controls) form.texts.emplace_back(control.Text);
    const plat::FormId id = next_++;
    forms.emplace(id, std::move(form));
    return id;
  }
  void SetCaption(plat::FormId id, std::u16string_view text) override {
    log.push_back("SetCaption(" + plat::ToUtf8(std::u16string(text)) + ")");
    forms.at(id).caption = text;
  }
  std::u16string Caption(plat::FormId id) override { return forms.at(id).caption; }
  void SetText(plat::FormId id, std::size_t control, std::u16string_view text) override {
    log.push_back("SetText(" + std::to_string(control) + "," + plat::ToUtf8(std::u16string(text)) + ")");
    forms.at(id).texts.at(control) = text;
  }
  std::u16string Text(plat::FormId id, std::size_t control) override { return forms.at(id).texts.at(control); }
  void Show(plat::FormId id, plat::ShowMode mode) override {
    log.push_back(mode == plat::ShowMode::Modal ? "Show(modal)" : "Show(modeless)");
    forms.at(id).shown = true;
    // A modal show returns once the form is gone: the scripted user acts here.
    if (mode == plat::ShowMode::Modal && while_modal) while_modal(id);
  }
  void DestroyForm(plat::FormId id) override {
    log.push_back("DestroyForm");
    forms.erase(id);
  }
  void RunEvents() override { log.push_back("RunEvents"); }

  // The user clicks the button at `control` (or presses Enter/Esc, which the
  // toolkit turns into a click on the default/cancel button).
  void Press(plat::FormId id, std::size_t control) { forms.at(id).events->Click(id, control); }
  // The button that Enter (default) or Esc (cancel) presses.
  std::size_t RoleButton(plat::FormId id, plat::ButtonRole role) const {
    const auto& controls = forms.at(id).design->Controls;
    for (std::size_t i = 0; i < controls.size(); ++i) {
      if (controls[i].Kind == plat::ControlKind::CommandButton && controls[i].*role) return i;
    }
    return controls.size();
  }
  void Close(plat::FormId id) { forms.at(id).events->CloseRequest(id); }
  plat::FormId Only() const { return forms.size() == 1 ? forms.begin()->first : 0; }

  std::map<plat::FormId, Form> forms;
  std::vector<std::string> log;
  bool fail_create = false;
  std::function<void(plat::FormId)> while_modal;

 private:
  plat::FormId next_ = 1;
};

}  // namespace testenv
