// What the main window needs from the desktop besides the engine's own
// interfaces: a file dialog, behind an interface so that tests can answer it
// without a person.
#pragma once

#include <string>
#include <vector>

namespace marklode {

// File-dialog option bits, as the choosers describe their dialogs.
enum FileDialogOption : unsigned {
  kDlgOverwritePrompt = 0x2,
  kDlgHideReadOnly = 0x4,
  kDlgAllowMultiSelect = 0x200,
  kDlgPathMustExist = 0x800,
  kDlgFileMustExist = 0x1000,
  kDlgExplorer = 0x80000,
  kDlgLongNames = 0x200000,
};

struct FileDialogRequest {
  bool save = false;          // save dialog; otherwise open
  std::string title;          // empty: the toolkit's default title
  std::string filter;         // "Description (*.X)|*.X|..." pairs joined by "|"
  std::string initialFolder;  // empty: the current directory
  std::string presetName;     // name in the name box; may be a pattern or a full path
  unsigned options = 0;       // FileDialogOption bits
};

struct FileDialogResult {
  bool cancelled = true;
  std::vector<std::string> files;  // full paths, in the order chosen
};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  virtual FileDialogResult Choose(const FileDialogRequest& request) = 0;
};

struct WindowServices {
  FileChooser& chooser;
};

}  // namespace marklode
