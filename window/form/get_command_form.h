// The main window's rules without a toolkit: which controls are enabled and
// how their fields look in each mode, what Convert checks and in what order,
// the messages, the list built from a multi-selection, Create Profile, what is
// kept in the settings store and when, and the designed geometry. A view (Qt
// on Linux, Win32 on Windows) builds the controls from kControlDesign, shows
// what the form asks through FormView and forwards the user's actions to the
// form's handlers. Nothing here includes a toolkit header.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "window/form/window_loop.h"
#include "window/window_services.h"

namespace marklode {

// The controls, named for what they do. The two menu items that the form
// enables or checks are controls too.
enum class Ctl {
  GpxToPoi,               // direction GPX --> POI
  PoiToGpx,               // direction POI --> GPX
  InputCaption,           // caption of InputField
  InputField,             // input file(s)
  BrowseInput,            // input chooser
  OutputCaption,          // caption of OutputField
  OutputField,            // output file
  BrowseOutput,           // output chooser
  UseProfile,             // use conversion profile
  ProfileCaption,         // caption of ProfileField
  ProfileField,           // profile file
  BrowseProfile,          // profile chooser
  Convert,                // the default button: Enter
  Close,                  // Esc
  CreateProfile,          // File > Create Profile
  KeepCommentLineBreaks,  // Options > Keep Comment Line Breaks (checkable)
};

enum class CtlKind { Radio, Label, Field, Button, CheckBox };

// A control's place in the design, in twips (1/1440 inch) of the client area,
// with its caption ("&" before the mnemonic letter) and its tooltip.
struct ControlDesign {
  Ctl id;
  CtlKind kind;
  const char* name;     // the control's name, used as the object name
  const char* caption;  // empty for fields
  int left, top, width, height;
  const char* tooltip;  // empty: none
};

// Every control of the client area, in tab order (labels sit before the
// field they caption and take no focus themselves).
extern const std::array<ControlDesign, 14> kControlDesign;
const ControlDesign& DesignOf(Ctl id);

// The client area as designed, in twips; the window is as high as this (plus
// the menu bar) and at least as wide. The separator under the menu bar runs
// from kSeparatorLeft to kSeparatorRight at kSeparatorTop.
constexpr int kDesignClientWidth = 5460, kDesignClientHeight = 3555;
constexpr int kSeparatorLeft = 15, kSeparatorRight = 5440, kSeparatorTop = 20;

// Designed geometry is kept in twips, the unit in which the window's position
// and width are stored; 15 twips make one logical pixel at 96 dots per inch.
constexpr int kTwipsPerPixel = 15;
int TwipsToPixels(double twips);

// A stored geometry value as a number of twips, or false when the text is
// empty or not a plain number (such a value counts as missing).
bool ParseStoredTwips(std::string_view text, double& twips);

// Several chosen files as the entry routine's lists take them: the first with
// its folder, the others as bare names, all joined by ";". A single file is
// its own path. Empty when the files do not all share one folder.
std::string JoinFileSelection(const std::vector<std::string>& files);

// "Convert <name> to <EXT>.ZVP": the name the Create Profile dialog proposes.
std::string ProfilePresetName(std::string_view baseName, std::string_view ext);

extern const char* const kTermsOfUseText;
std::string AboutText();

// How a field looks: in the window's colour (not for typing in) or as an
// editable field.
enum class FieldLook { Window, Editable };

// What the form needs from a view. Programmatic changes made through it may
// or may not come back as the matching handler call (Qt's signals and Win32's
// EN_CHANGE both fire on a programmatic change): the form is right either way.
class FormView {
 public:
  virtual ~FormView() = default;
  virtual std::string Text(Ctl field) const = 0;  // InputField, OutputField, ProfileField
  virtual void SetText(Ctl field, const std::string& text) = 0;
  virtual bool Checked(Ctl control) const = 0;  // the directions, UseProfile, KeepCommentLineBreaks
  virtual void SetChecked(Ctl control, bool on) = 0;
  virtual bool Enabled(Ctl control) const = 0;
  virtual void SetEnabled(Ctl control, bool on) = 0;
  virtual void SetLook(Ctl field, FieldLook look) = 0;
  virtual void CaretToEnd(Ctl field) = 0;  // a long path shows its end
  virtual void Close() = 0;                // the window goes; the host runs the request
  virtual void ShowGuide() = 0;            // the user guide, in whatever the toolkit offers
};

// The stored position and width, checked against the screen the window opens
// on; all in twips. A stored edge beyond the screen (or negative) is replaced
// by the centred one, so that a window saved on a monitor that is gone comes
// back into view.
struct StoredGeometry {
  bool hasX = false, hasY = false, hasWidth = false;
  int x = 0, y = 0, width = 0;
};

class GetCommandForm {
 public:
  GetCommandForm(WindowState& ctx, FileChooser& chooser, FormView& view);

  // Once the view has built its controls: the mode, the fields and the
  // options from the store, and every control enabled as the mode asks.
  void Load();
  StoredGeometry LoadGeometry(int screenWidth, int screenHeight, int windowWidth,
                              int windowHeight) const;
  // In twips, as LoadGeometry gives them back.
  void StoreWidth(int width);      // a normal (not maximised) window was resized
  void Unload(int left, int top);  // the window closes: its position, once

  // The user's actions, as the view forwards them.
  void DirectionClicked();  // GpxToPoi or PoiToGpx became checked
  void InputChanged();
  void UseProfileClicked();
  void OutputFocusLost();  // to another control of the window, not to a box or menu
  void Convert();          // Convert, Enter
  void Cancel();           // Close, Esc
  void Exit();             // File > Exit
  void ChooseInput();      // BrowseInput
  void ChooseOutput();     // BrowseOutput
  void ChooseProfile();    // BrowseProfile
  void FileMenuOpening();  // each time the File menu opens
  void CreateProfile();
  void LineBreakToggled();  // the item has already inverted its check
  void Notes();
  void Terms();
  void About();
  // Files dragged over InputField: true when they are acceptable (local files of
  // one folder); when `drop` is set they also become the input.
  bool DropFiles(const std::vector<std::string>& files, bool drop);

 private:
  WindowState& ctx_;
  FileChooser& chooser_;
  FormView& view_;
  std::string fileDlgTitle_;  // the shared dialog's title stays as last set
  bool unloaded_ = false;

  void LoadModeFields();
  void ApplyProfileMode();
  void RefreshOutputField();
  FileDialogResult ShowFileDlg(FileDialogRequest request);
  std::string Stored(std::string_view name) const;
  void Store(std::string_view name, std::string_view value);
};

}  // namespace marklode
