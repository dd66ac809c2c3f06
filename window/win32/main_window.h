// The main window on Windows: the form's controls as native Win32 controls,
// placed at the design's twips for the monitor's DPI, with the menus, the
// keyboard of a dialog (Tab, mnemonics, Enter, Esc) and dropped files.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <array>
#include <memory>
#include <string>

#include "window/form/get_command_form.h"

namespace marklode {

// The resource of the user guide's source (resources/guide.md, both
// systems' editions in one), compiled into marklode.exe.
constexpr int kGuideResource = 101;

class Win32MainWindow : public FormView {
 public:
  Win32MainWindow(WindowState& state, FileChooser& chooser);
  ~Win32MainWindow() override;
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  // Builds the window and its controls and loads them from the store; false
  // when the system refused a window.
  bool Create();
  void Show();
  HWND hwnd() const { return hwnd_; }
  // The window has closed (Convert, Close, Exit or the frame): it stays as a
  // hidden window until destroyed, so that boxes can still be put over it.
  bool closed() const { return closed_; }
  // Dialog keys for this window and its guide; true when the message was
  // handled and must not be dispatched.
  bool PreTranslate(MSG& msg);

  // FormView
  std::string Text(Ctl field) const override;
  void SetText(Ctl field, const std::string& text) override;
  bool Checked(Ctl control) const override;
  void SetChecked(Ctl control, bool on) override;
  bool Enabled(Ctl control) const override;
  void SetEnabled(Ctl control, bool on) override;
  void SetLook(Ctl field, FieldLook look) override;
  void CaretToEnd(Ctl field) override;
  void Close() override;
  void ShowGuide() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK GuideProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR data);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  void Command(int id, int code);
  void BuildMenus();
  void BuildControls();
  void ApplyScale(UINT dpi);  // font, fit and the designed outer size for a DPI
  void PlaceControls();
  void Layout();               // the width-only rule, run on every normal resize
  bool HoldsSizeRule() const;  // the designed height, at least the designed width
  void PostKeepSize();         // a kMsgKeepSize, unless one is on its way
  void KeepSizeRule();         // the rule's size set again after a resize
  void LoadGeometry();
  void DropFiles(HDROP drop);
  bool LabelMnemonic(wchar_t key);
  LRESULT FieldColour(HDC dc, HWND field);
  HWND Control(Ctl id) const;
  Ctl CtlOf(HWND control) const;  // CreateProfile for none of the client area's
  double Scale() const;           // of the design: the DPI and the font's fit
  int Px(double twips) const;
  int ToTwips(int pixels) const;

  std::unique_ptr<GetCommandForm> form_;
  HWND hwnd_ = nullptr;
  HWND separator_ = nullptr;
  HWND guide_ = nullptr;
  HWND lastFocus_ = nullptr;
  HMENU menuBar_ = nullptr, fileMenu_ = nullptr;
  HFONT font_ = nullptr;
  std::array<HWND, 14> controls_{};  // in kControlDesign's order
  std::array<FieldLook, 3> looks_{FieldLook::Editable, FieldLook::Editable, FieldLook::Editable};
  UINT dpi_ = 96;
  double fit_ = 1.0;                      // the design enlarged until every caption fits the font
  int outerWidth_ = 0, outerHeight_ = 0;  // the designed window, frame and menu included
  bool built_ = false, closed_ = false, placing_ = false;
  bool keepSizePosted_ = false;  // a kMsgKeepSize is on its way
  bool keepingSize_ = false;     // the program sets the rule's size itself
  bool optionShown_ = true;      // GpxToPoi's state the form last saw
};

}  // namespace marklode
