// The form without a window: a view that records what the form sets, a file
// chooser answered from a script, and a scratch folder that is also the
// current directory while a test runs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "services/messages.h"
#include "services/platform.h"
#include "services/settings.h"
#include "tests/scripted_chooser.h"
#include "tests/test_util.h"
#include "window/form/get_command_form.h"
#include "window/form/window_loop.h"

namespace marklode::test {

// The controls' state as a view would show it. With echo set it calls the
// form back on changes made from code, as Qt's signals do; without, it stays
// silent, as Win32 does for radio and check buttons.
class FakeView : public FormView {
 public:
  struct State {
    std::string text;
    bool checked = false;
    bool enabled = true;
    FieldLook look = FieldLook::Editable;
    bool caretAtEnd = false;
  };
  std::map<Ctl, State> controls;
  GetCommandForm* form = nullptr;  // for the echo
  bool echo = false;
  int closed = 0, guides = 0;

  // As built: the first mode chosen, as the design has it.
  FakeView() { controls[Ctl::GpxToPoi].checked = true; }

  std::string Text(Ctl field) const override { return Get(field).text; }
  void SetText(Ctl field, const std::string& text) override {
    State& s = controls[field];
    const bool changed = s.text != text;
    s.text = text;
    s.caretAtEnd = false;
    if (echo && changed && field == Ctl::InputField) form->InputChanged();
  }
  bool Checked(Ctl control) const override { return Get(control).checked; }
  void SetChecked(Ctl control, bool on) override {
    State& s = controls[control];
    const bool changed = s.checked != on;
    s.checked = on;
    if (!echo || !changed) return;
    if (control == Ctl::UseProfile) form->UseProfileClicked();
    if (on && (control == Ctl::GpxToPoi || control == Ctl::PoiToGpx)) {
      controls[control == Ctl::GpxToPoi ? Ctl::PoiToGpx : Ctl::GpxToPoi].checked = false;
      form->DirectionClicked();
    }
  }
  bool Enabled(Ctl control) const override { return Get(control).enabled; }
  void SetEnabled(Ctl control, bool on) override { controls[control].enabled = on; }
  void SetLook(Ctl field, FieldLook look) override { controls[field].look = look; }
  void CaretToEnd(Ctl field) override { controls[field].caretAtEnd = true; }
  void Close() override { ++closed; }
  void ShowGuide() override { ++guides; }

  // What the user does: the control changes, then the form hears of it.
  void Type(Ctl field, const std::string& text) {
    controls[field].text = text;
    if (field == Ctl::InputField) form->InputChanged();
  }
  void ClickOption(Ctl option) {
    controls[Ctl::GpxToPoi].checked = option == Ctl::GpxToPoi;
    controls[Ctl::PoiToGpx].checked = option == Ctl::PoiToGpx;
    form->DirectionClicked();
  }
  void ClickCheck1() {
    controls[Ctl::UseProfile].checked = !controls[Ctl::UseProfile].checked;
    form->UseProfileClicked();
  }

 private:
  State Get(Ctl c) const {
    const auto it = controls.find(c);
    return it == controls.end() ? State() : it->second;
  }
};

// A fresh form over an in-memory store, in a scratch folder that is the
// current directory (the choosers and drops move it; each test gets it back).
struct FormFixture {
  TempDir dir;
  std::string previous = CurrentDirectory();
  MemorySettingsStore settings;
  RecordingMessageSink messages;
  WindowState ctx{messages, settings};
  ScriptedChooser chooser;
  FakeView view;
  GetCommandForm form{ctx, chooser, view};

  FormFixture() {
    ChangeDirectory(dir.path());
    view.form = &form;
  }
  ~FormFixture() { ChangeDirectory(previous); }

  void Load(std::map<std::string, std::string> stored = {}, bool echo = false) {
    for (auto& [name, value] : stored) settings.values[name] = value;
    view.echo = echo;
    form.Load();
  }
  std::string Stored(const std::string& name) {
    const auto it = settings.values.find(name);
    return it == settings.values.end() ? "<none>" : it->second;
  }
  std::string LastMessage() const {
    return messages.boxes.empty() ? "" : messages.boxes.back().text;
  }
  // A file in the scratch folder, with some content.
  std::string File(const std::string& name, std::string_view data = "x") {
    const std::string path = dir / name;
    WriteFile(path, data);
    return path;
  }
};

}  // namespace marklode::test
