#include "window/form/get_command_form.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "engine/plan.h"
#include "engine/profiles.h"
#include "engine/reports.h"
#include "engine/run_main.h"
#include "services/os.h"
#include "services/platform.h"
#include "services/settings.h"
#include "services/strings.h"
#include "services/text_files.h"
#include "services/version.h"

namespace marklode {

namespace {

constexpr const char* kGpxFilter = "GPX Files (*.GPX)|*.GPX|All Files (*.*)|*.*";
// What GPX to POI-CSV reads: every kind at once first, then each alone.
constexpr const char* kWaypointInputFilter =
    "Waypoint Files (*.GPX;*.KML;*.KMZ;*.GEOJSON;*.JSON)|*.GPX;*.KML;*.KMZ;*.GEOJSON;*.JSON|"
    "GPX Files (*.GPX)|*.GPX|KML Files (*.KML;*.KMZ)|*.KML;*.KMZ|"
    "GeoJSON Files (*.GEOJSON;*.JSON)|*.GEOJSON;*.JSON|All Files (*.*)|*.*";
constexpr const char* kCsvFilter = "CSV Files (*.CSV)|*.CSV|All Files (*.*)|*.*";
constexpr const char* kProfileFilter = "ZVP Files (*.ZVP)|*.ZVP|All Files (*.*)|*.*";
constexpr const char* kNewProfileFilter = "ZVP Files (*.ZVP)|*.ZVP";

constexpr const char* kNameMissing = "File name must be provided!";
constexpr const char* kOverwriteWarning =
    "The output file names will be automatically generated from the input file names.  Any "
    "existing files will be overwitten.";
constexpr const char* kInputMissing = "Can't find input file -- ";
constexpr const char* kSameAsInput = "Same as input but with .";

const char* StoredFlag(bool on) {
  return on ? "True" : "False";
}

// The text before the last separator of a field: the folder a chooser opens
// in. A text without one is its own folder (the toolkit then falls back to
// the current directory), an empty text gives an empty folder.
std::string FolderOf(std::string_view text) {
  const int n = FieldCount(text, kPathSep);
  return std::string(FieldRange(text, 1, n - 1, kPathSep));
}

}  // namespace

// Captions end short of their fields, so that nothing of them is drawn under
// a field; mnemonics stay clear of the menus (F, O, H) and of Close (C).
const std::array<ControlDesign, 14> kControlDesign = {{
    {Ctl::GpxToPoi, CtlKind::Radio, "GpxToPoi", "&GPX --> POI", 1230, 345, 1320, 225, ""},
    {Ctl::PoiToGpx, CtlKind::Radio, "PoiToGpx", "&POI --> GPX", 3030, 345, 1320, 225, ""},
    {Ctl::InputCaption, CtlKind::Label, "InputCaption", "&Input file(s):", 300, 885, 915, 285, ""},
    {Ctl::InputField, CtlKind::Field, "InputField", "", 1245, 855, 2355, 315,
#ifdef _WIN32
     "One file; a pattern such as C:\\gps\\*.csv; or several files of one folder joined by "
     "\";\", such as C:\\gps\\a.gpx;b.gpx (Browse... can choose several at once)."},
#else
     "One file; a pattern such as /data/*.csv; or several files of one folder joined by \";\", "
     "such as /data/a.gpx;b.gpx (Browse... can choose several at once)."},
#endif
    {Ctl::BrowseInput, CtlKind::Button, "BrowseInput", "Browse...", 3750, 855, 1365, 315, ""},
    {Ctl::OutputCaption, CtlKind::Label, "OutputCaption", "Ou&tput File:", 300, 1470, 915, 285, ""},
    {Ctl::OutputField, CtlKind::Field, "OutputField", "", 1245, 1440, 2355, 315,
     "The file to write. Several inputs are each written beside themselves, under their own "
     "name with the new extension. A GPX output cannot be a pattern."},
    {Ctl::BrowseOutput, CtlKind::Button, "BrowseOutput", "Browse...", 3750, 1440, 1365, 315, ""},
    {Ctl::Convert, CtlKind::Button, "Convert", "Con&vert", 1245, 2940, 2355, 315, ""},
    {Ctl::Close, CtlKind::Button, "Close", "&Close", 3750, 2940, 1365, 315, ""},
    {Ctl::UseProfile, CtlKind::CheckBox, "UseProfile", "&Use Conversion Profile:", 1245, 2010, 2265,
     300, "Run the conversion a profile describes instead of the fields above."},
    {Ctl::ProfileCaption, CtlKind::Label, "ProfileCaption", "P&rofile File:", 300, 2385, 915, 285,
     ""},
    {Ctl::ProfileField, CtlKind::Field, "ProfileField", "", 1245, 2355, 2355, 315,
     "A conversion profile (.ZVP): a text file naming the input, the output, filters and "
     "templates. File > Create Profile writes one for the conversion set up above."},
    {Ctl::BrowseProfile, CtlKind::Button, "BrowseProfile", "Browse...", 3750, 2355, 1365, 315, ""},
}};

const ControlDesign& DesignOf(Ctl id) {
  for (const ControlDesign& d : kControlDesign)
    if (d.id == id) return d;
  return kControlDesign.front();  // the menu items have no place in the client area
}

int TwipsToPixels(double twips) {
  return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

bool ParseStoredTwips(std::string_view text, double& twips) {
  text = TrimSpaces(text);
  if (text.empty()) return false;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  // Far beyond any screen: a damaged value, not a position.
  if (!std::isfinite(value) || std::fabs(value) > 1e7) return false;
  twips = value;
  return true;
}

std::string JoinFileSelection(const std::vector<std::string>& files) {
  if (files.empty()) return {};
  std::string joined = files.front();
  const std::string_view folder = DirectoryPart(files.front());
  for (std::size_t i = 1; i < files.size(); ++i) {
    if (DirectoryPart(files[i]) != folder) return {};
    joined.append(";").append(FileNamePart(files[i]));
  }
  return joined;
}

std::string ProfilePresetName(std::string_view baseName, std::string_view ext) {
  std::string name = ReplaceTextNoCase(baseName, ".csv", ".CSV");
  name = ReplaceTextNoCase(name, ".gpx", ".GPX");
  name = ReplaceText(name, ".", "-");
  return "Convert " + name + " to " + std::string(ext) + ".ZVP";
}

const char* const kTermsOfUseText =
    "This software is provided on an \"as is\" basis. The Marklode developers make no claim or "
    "warranty of any kind about its accuracy, timeliness, usefulness, completeness or "
    "merchantability, or about its fitness for any particular purpose. To the extent permitted "
    "by law, neither the Marklode developers nor their suppliers shall be liable for any "
    "direct, indirect, consequential, incidental, special, multiple, punitive or other similar "
    "damages, including lost profits, that result from the use of this software or from the "
    "inability to use it, even if they have been advised of the possibility of such damages.";

std::string AboutText() {
  return std::string("Marklode version ") + kVersionText +
         "\r\n\r\nCopyright (C) 2026 The Marklode developers\r\n\r\n"
         "How to use it: Help > Notes. How it is built, tested and laid out: the README.md "
         "that comes with its source.";
}

// ---------------------------------------------------------------------------

GetCommandForm::GetCommandForm(WindowState& ctx, FileChooser& chooser, FormView& view)
    : ctx_(ctx), chooser_(chooser), view_(view) {}

void GetCommandForm::Load() {
  // Both buttons are set: a view whose radio buttons do not clear each other
  // when set from code shows one mode all the same.
  const std::string mode = Stored("ModeGPX");
  const bool toCsv = mode.empty() || IsStoredTrue(mode);
  view_.SetChecked(toCsv ? Ctl::GpxToPoi : Ctl::PoiToGpx, true);
  view_.SetChecked(toCsv ? Ctl::PoiToGpx : Ctl::GpxToPoi, false);
  LoadModeFields();
}

StoredGeometry GetCommandForm::LoadGeometry(int screenWidth, int screenHeight, int windowWidth,
                                            int windowHeight) const {
  // Whole twips round to the same pixels as the stored fractions would.
  auto restoreEdge = [](double stored, double screenSize, double windowSize) {
    if (screenSize > 0 && (stored > screenSize || stored < 0))
      stored = std::floor(screenSize / 2 - windowSize / 2);
    return static_cast<int>(std::lround(stored));
  };
  StoredGeometry g;
  double value = 0;
  if (ParseStoredTwips(Stored("WindowX"), value)) {
    g.hasX = true;
    g.x = restoreEdge(value, screenWidth, windowWidth);
  }
  if (ParseStoredTwips(Stored("WindowY"), value)) {
    g.hasY = true;
    g.y = restoreEdge(value, screenHeight, windowHeight);
  }
  if (ParseStoredTwips(Stored("WindowWidth"), value)) {
    g.hasWidth = true;
    g.width = static_cast<int>(std::lround(value));
  }
  return g;
}

void GetCommandForm::StoreWidth(int width) {
  Store("WindowWidth", std::to_string(width));
}

void GetCommandForm::Unload(int left, int top) {
  if (unloaded_) return;
  unloaded_ = true;
  Store("WindowX", std::to_string(left));
  Store("WindowY", std::to_string(top));
}

// ---------------------------------------------------------------------------
// Modes and fields

void GetCommandForm::DirectionClicked() {
  LoadModeFields();
}

void GetCommandForm::InputChanged() {
  RefreshOutputField();
}

void GetCommandForm::LoadModeFields() {
  // The input first: its change may empty a disabled output field, which is
  // then filled from the store.
  const bool toCsv = view_.Checked(Ctl::GpxToPoi);
  view_.SetText(Ctl::InputField, Stored(toCsv ? "InFileGPX" : "InFilePOI"));
  RefreshOutputField();
  view_.SetText(Ctl::OutputField, Stored(toCsv ? "OutFileGPX" : "OutFilePOI"));
  view_.SetChecked(Ctl::UseProfile, IsStoredTrue(Stored("ProfileMode")));
  view_.SetChecked(Ctl::KeepCommentLineBreaks, IsStoredTrue(Stored("KeepCommentLineBreak")));
  view_.SetText(Ctl::ProfileField, Stored("ProfileFile"));
  for (Ctl field : {Ctl::InputField, Ctl::OutputField, Ctl::ProfileField}) view_.CaretToEnd(field);
  ApplyProfileMode();
  RefreshOutputField();
}

void GetCommandForm::ApplyProfileMode() {
  const bool profile = view_.Checked(Ctl::UseProfile);
  const FieldLook fieldsLook = profile ? FieldLook::Window : FieldLook::Editable;
  view_.SetEnabled(Ctl::InputField, !profile);
  view_.SetLook(Ctl::InputField, fieldsLook);
  view_.SetEnabled(Ctl::BrowseInput, !profile);
  view_.SetEnabled(Ctl::GpxToPoi, !profile);
  view_.SetEnabled(Ctl::PoiToGpx, !profile);
  view_.SetEnabled(Ctl::ProfileField, profile);
  view_.SetLook(Ctl::ProfileField, profile ? FieldLook::Editable : FieldLook::Window);
  view_.SetEnabled(Ctl::BrowseProfile, profile);
  if (profile) {
    view_.SetEnabled(Ctl::OutputField, false);
    view_.SetLook(Ctl::OutputField, FieldLook::Window);
    view_.SetEnabled(Ctl::BrowseOutput, false);
  } else {
    view_.SetEnabled(Ctl::OutputField, true);
    RefreshOutputField();
  }
}

void GetCommandForm::RefreshOutputField() {
  if (view_.Checked(Ctl::UseProfile)) return;
  if (IsFileList(view_.Text(Ctl::InputField))) {
    // Several inputs: each output is named after its input.
    view_.SetEnabled(Ctl::OutputField, false);
    view_.SetLook(Ctl::OutputField, FieldLook::Window);
    view_.SetText(Ctl::OutputField,
                  std::string(kSameAsInput) + (view_.Checked(Ctl::GpxToPoi) ? "CSV" : "GPX"));
    view_.SetEnabled(Ctl::BrowseOutput, false);
  } else {
    if (!view_.Enabled(Ctl::OutputField)) view_.SetText(Ctl::OutputField, "");
    view_.SetEnabled(Ctl::OutputField, true);
    view_.SetLook(Ctl::OutputField, FieldLook::Editable);
    view_.SetEnabled(Ctl::BrowseOutput, true);
  }
}

void GetCommandForm::UseProfileClicked() {
  ApplyProfileMode();
  Store("ProfileMode", StoredFlag(view_.Checked(Ctl::UseProfile)));
}

void GetCommandForm::OutputFocusLost() {
  ctx_.OverwriteConfirmed = false;
}

void GetCommandForm::LineBreakToggled() {
  Store("KeepCommentLineBreak", StoredFlag(view_.Checked(Ctl::KeepCommentLineBreaks)));
}

// ---------------------------------------------------------------------------
// Convert

void GetCommandForm::Convert() {
  ctx_.request.reset();

  if (view_.Checked(Ctl::UseProfile)) {
    // Pasted with "Copy as path", a name keeps its quotes: taken off as the
    // planner takes them off.
    const std::string profile(WithoutSurroundingQuotes(view_.Text(Ctl::ProfileField)));
    if (profile.empty()) {
      ctx_.messages.Show(kNameMissing, MessageKind::Plain);
      return;
    }
    // Found as the profile reader will look for it: a missing profile is
    // refused here, where the user can correct it, and nothing is stored.
    if (ResolveFile(profile).empty()) {
      ctx_.messages.Show(kCantOpenProfile, MessageKind::Plain);
      return;
    }
    Store("ProfileFile", profile);
    ctx_.request = ReadProfileRequest(profile, ctx_.messages);
    view_.Close();
    return;
  }

  Request request;
  request.input = WithoutSurroundingQuotes(view_.Text(Ctl::InputField));
  request.output = WithoutSurroundingQuotes(view_.Text(Ctl::OutputField));
  if (request.input.empty() || request.output.empty()) {
    ctx_.messages.Show(kNameMissing, MessageKind::Plain);
    return;
  }
  const bool toCsv = view_.Checked(Ctl::GpxToPoi);
  request.direction = toCsv ? Direction::GpxToPoi : Direction::PoiToGpx;
  request.keepCommentLineBreaks = view_.Checked(Ctl::KeepCommentLineBreaks);
  // Planned as the run will plan it: each item is checked under the names
  // the run will use.
  SystemFileLookup files;
  const Plan plan = MakePlan(request, files);
  if (plan.isList) {
    request.output.clear();  // "Same as input but with ..."
  } else if (OutputStop(plan, plan.items.front(), files) == PlanStop::WildcardOutput) {
    // A GPX output is one file: asked before the question on a list.
    ctx_.messages.Show(std::string(kWildcardGpxOutput) + request.output, MessageKind::Error,
                       "Invalid file");
    return;
  }
  if (plan.isList && !ctx_.OverwriteConfirmed) {
    if (ctx_.messages.Show(kOverwriteWarning, MessageKind::Question) != kButtonOk) return;
    ctx_.OverwriteConfirmed = true;
  }
  for (const PlannedItem& item : plan.items) {
    if (item.problem == ItemProblem::Missing || item.problem == ItemProblem::NotAFile) {
      ctx_.messages.Show(kInputMissing + item.given, MessageKind::Plain);
      return;
    }
    // What would stop the conversion is refused here, where it can be
    // corrected.
    switch (OutputStop(plan, item, files)) {
      case PlanStop::WildcardOutput:
        ctx_.messages.Show(std::string(kWildcardGpxOutput) + item.output, MessageKind::Error,
                           "Invalid file");
        return;
      case PlanStop::ReplacesInput:
        ctx_.messages.Show(
            std::string(kCantCreateOutput).append(item.output).append(kOwnInputReason),
            MessageKind::Error);
        return;
      default:
        break;
    }
    // A read-only file is refused even where this user could write it (root).
    const bool readOnly = os::ReadOnlyFile(item.output);
    if (readOnly || !os::CanAppendTo(item.output) || ctx_.ReverseSwitch) {
      ctx_.messages.Show(std::string(kCantCreateOutput) + item.output +
                             (readOnly ? std::string(kReadOnlyReason) : std::string()),
                         MessageKind::Plain);
      return;
    }
  }

  Store("ModeGPX", StoredFlag(toCsv));
  // The generated "Same as input..." text of a list is never stored.
  Store(toCsv ? "InFileGPX" : "InFilePOI", request.input);
  if (!plan.isList) Store(toCsv ? "OutFileGPX" : "OutFilePOI", request.output);
  ctx_.request = std::move(request);
  view_.Close();
}

// ---------------------------------------------------------------------------
// Closing without a request

void GetCommandForm::Cancel() {
  ctx_.request.reset();
  view_.Close();
}

void GetCommandForm::Exit() {
  view_.Close();
}

// ---------------------------------------------------------------------------
// File choosers

FileDialogResult GetCommandForm::ShowFileDlg(FileDialogRequest request) {
  // One dialog serves every chooser: a title not set keeps the last one.
  if (request.title.empty())
    request.title = fileDlgTitle_;
  else
    fileDlgTitle_ = request.title;
  FileDialogResult result = chooser_.Choose(request);
  if (result.files.empty()) result.cancelled = true;
  // Bare second and later names of a selection are found from here.
  if (!result.cancelled) ChangeDirectory(std::string(DirectoryPart(result.files.front())));
  return result;
}

void GetCommandForm::ChooseInput() {
  const bool toCsv = view_.Checked(Ctl::GpxToPoi);
  const std::string current = view_.Text(Ctl::InputField);
  FileDialogRequest request;
  request.title = "Select file for input";
  request.filter = toCsv ? kWaypointInputFilter : kCsvFilter;
  request.initialFolder = FolderOf(view_.Text(Ctl::OutputField));
  request.presetName = current.empty() ? (toCsv ? "*.GPX" : "*.CSV") : current;
  request.options =
      kDlgHideReadOnly | kDlgAllowMultiSelect | kDlgFileMustExist | kDlgExplorer | kDlgLongNames;
  // The chooser hands back every chosen name, however many: no name buffer
  // to overflow.
  const FileDialogResult result = ShowFileDlg(request);
  if (result.cancelled) return;  // a typed pattern stays as it was
  std::string chosen = JoinFileSelection(result.files);
  if (HasWildcards(chosen)) chosen.clear();
  view_.SetText(Ctl::InputField, chosen);
  view_.CaretToEnd(Ctl::InputField);
  view_.CaretToEnd(Ctl::OutputField);
  RefreshOutputField();
}

void GetCommandForm::ChooseOutput() {
  const bool toCsv = view_.Checked(Ctl::GpxToPoi);
  const std::string current = view_.Text(Ctl::OutputField);
  FileDialogRequest request;
  request.save = true;
  request.title = "Select file for output";
  request.filter = toCsv ? kCsvFilter : kGpxFilter;
  request.initialFolder = FolderOf(current);
  request.presetName = current.empty() ? (toCsv ? "*.CSV" : "*.GPX") : current;
  request.options = kDlgOverwritePrompt | kDlgHideReadOnly | kDlgPathMustExist | kDlgLongNames;
  const FileDialogResult result = ShowFileDlg(request);
  if (result.cancelled) return;
  std::string chosen = result.files.front();
  if (HasWildcards(chosen)) chosen.clear();
  view_.SetText(Ctl::OutputField, chosen);
  view_.CaretToEnd(Ctl::InputField);
  view_.CaretToEnd(Ctl::OutputField);
}

void GetCommandForm::ChooseProfile() {
  const std::string current = view_.Text(Ctl::ProfileField);
  FileDialogRequest request;
  // A title of its own: after Create Profile the shared one would ask to create.
  request.title = "Select conversion profile";
  request.filter = kProfileFilter;
  request.initialFolder = FolderOf(current);
  request.presetName = current.empty() ? "*.ZVP" : current;
  request.options = kDlgHideReadOnly | kDlgFileMustExist | kDlgExplorer | kDlgLongNames;
  const FileDialogResult result = ShowFileDlg(request);
  // A cancel hands back the preset name, pattern and all.
  view_.SetText(Ctl::ProfileField, result.cancelled ? request.presetName : result.files.front());
  view_.CaretToEnd(Ctl::ProfileField);
}

bool GetCommandForm::DropFiles(const std::vector<std::string>& files, bool drop) {
  // Files of one folder only: a list carries a single folder.
  const std::string joined = JoinFileSelection(files);
  if (joined.empty()) return false;
  if (drop) {
    // As the input chooser would have it: joined names, and the current
    // directory at their folder for the bare second and later names.
    ChangeDirectory(std::string(DirectoryPart(joined)));
    view_.SetText(Ctl::InputField, joined);
    view_.CaretToEnd(Ctl::InputField);
    view_.CaretToEnd(Ctl::OutputField);
    RefreshOutputField();
  }
  return true;
}

// ---------------------------------------------------------------------------
// Create Profile

void GetCommandForm::FileMenuOpening() {
  const std::string input = view_.Text(Ctl::InputField);
  const bool unavailable = input.empty() || FindFirstFile(input).empty() ||
                           view_.Text(Ctl::OutputField).empty() || view_.Checked(Ctl::UseProfile);
  view_.SetEnabled(Ctl::CreateProfile, !unavailable);
}

void GetCommandForm::CreateProfile() {
  const std::string input = view_.Text(Ctl::InputField);
  const bool toCsv = view_.Checked(Ctl::GpxToPoi);
  FileDialogRequest request;
  request.save = true;
  request.title = "Select file to create as profile";
  request.filter = kNewProfileFilter;
  request.initialFolder = FolderOf(input);
  if (request.initialFolder.empty()) request.initialFolder = CurrentDirectory();
  request.presetName = ProfilePresetName(FindFirstFile(input), toCsv ? "CSV" : "GPX");
  request.options = kDlgOverwritePrompt | kDlgHideReadOnly | kDlgPathMustExist | kDlgLongNames;
  const FileDialogResult result = ShowFileDlg(request);
  if (result.cancelled) return;
  const std::string& path = result.files.front();
  if (HasWildcards(path)) return;
  const std::string text =
      FillProfileTemplate(LoadProfileTemplate(toCsv ? "GPXTOCSV" : "CSVTOGPX"), input,
                          view_.Text(Ctl::OutputField), view_.Checked(Ctl::KeepCommentLineBreaks));
  SysPutTextFile(ctx_.messages, path, text);  // reports its own failures
}

// ---------------------------------------------------------------------------
// Help

void GetCommandForm::Notes() {
  view_.ShowGuide();
}

void GetCommandForm::Terms() {
  ctx_.messages.Show(kTermsOfUseText, MessageKind::Plain, "Marklode Terms of Use");
}

void GetCommandForm::About() {
  ctx_.messages.Show(AboutText(), MessageKind::Information);
}

// ---------------------------------------------------------------------------

std::string GetCommandForm::Stored(std::string_view name) const {
  return ctx_.settings.GetRegistryValue(name);
}

void GetCommandForm::Store(std::string_view name, std::string_view value) {
  ctx_.settings.SetRegistryValue(name, value);
}

}  // namespace marklode
