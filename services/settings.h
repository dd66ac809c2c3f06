// The per-user settings store: named text values. Reads of a missing or
// unreadable value give empty text, a write creates the store, and failures are
// silent: a setting that cannot be kept is simply not kept.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marklode {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  virtual std::string GetRegistryValue(std::string_view name) = 0;
  virtual void SetRegistryValue(std::string_view name, std::string_view value) = 0;
};

// True when a stored flag reads "true" (spaces around it and letter case ignored).
bool IsStoredTrue(std::string_view value);

// One "Name=Value" line per value; CR LF or LF line ends; spaces around the name
// are ignored, the value is the rest of the line. Lines without "=" and lines
// starting with ";" or "#" are kept as they are on rewrite but carry no value.
// A UTF-8 byte order mark at the start is passed over.
std::vector<std::pair<std::string, std::string>> ParseSettingsText(std::string_view text);

// The store as a human-editable file, read afresh on every call (nothing cached).
// With a section name the file is an INI file: only the lines after the
// "[section]" line (up to the next "[...]" line) hold values, a new name goes
// at the end of that section, and a new file starts with that line.
class FileSettingsStore : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string path, std::string section = {})
      : path_(std::move(path)), section_(std::move(section)) {}
  // $XDG_CONFIG_HOME/Orvel/Marklode.conf, or ~/.config/Orvel/Marklode.conf.
  static std::string DefaultPath();

  std::string GetRegistryValue(std::string_view name) override;
  void SetRegistryValue(std::string_view name, std::string_view value) override;
  const std::string& path() const { return path_; }
  const std::string& section() const { return section_; }

 private:
  std::string path_;
  std::string section_;
};

// In-memory store for tests and for runs that must not touch the user's file.
class MemorySettingsStore : public SettingsStore {
 public:
  std::map<std::string, std::string, std::less<>> values;
  std::string GetRegistryValue(std::string_view name) override;
  void SetRegistryValue(std::string_view name, std::string_view value) override;
};

#ifdef _WIN32
// The registry key HKEY_CURRENT_USER\keyPath, one string value (REG_SZ) per
// name; the registry matches names without regard to case.
class RegistrySettingsStore : public SettingsStore {
 public:
  explicit RegistrySettingsStore(std::string keyPath = "Software\\Orvel\\Marklode")
      : keyPath_(std::move(keyPath)) {}
  std::string GetRegistryValue(std::string_view name) override;
  void SetRegistryValue(std::string_view name, std::string_view value) override;
  const std::string& keyPath() const { return keyPath_; }

 private:
  std::string keyPath_;
};
#endif

// The user's store on this platform: the registry on Windows, the settings
// file elsewhere. A portable Windows copy (a file named "portable" in its
// folder) keeps its settings beside itself instead, in Marklode.ini.
std::unique_ptr<SettingsStore> UserSettingsStore();
// The same for a program in programFolder.
std::unique_ptr<SettingsStore> UserSettingsStore(const std::string& programFolder);

}  // namespace marklode
