#include "services/settings.h"

#include "services/os.h"
#include "services/platform.h"
#include "services/strings.h"
#include "services/text_files.h"

namespace marklode {

bool IsStoredTrue(std::string_view value) {
  return IEquals(TrimSpaces(value), "true");
}

namespace {

// Splits text into lines at LF, dropping a CR before it.
template <typename F>
void ForEachLine(std::string_view text, F&& f) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    f(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
}

bool ParseLine(std::string_view line, std::string_view& name, std::string_view& value) {
  std::string_view t = TrimBlanks(line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  name = TrimBlanks(line.substr(0, eq));
  value = line.substr(eq + 1);
  return !name.empty();
}

// "[name]" alone on a line starts an INI file's section.
bool SectionLine(std::string_view line, std::string_view& name) {
  const std::string_view t = TrimBlanks(line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  name = TrimBlanks(t.substr(1, t.size() - 2));
  return true;
}

// Editors on Windows may start the file with a UTF-8 byte order mark; it is
// no part of the first name.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view WithoutBom(std::string_view text) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  return text;
}

// A settings file is a few lines; anything this big is not one.
constexpr std::uint64_t kMostSettingsBytes = 1 << 20;

enum class Stored { Missing, Read, Unusable };

// Reads the settings file only when it is a regular file of a sensible size:
// a named pipe there must not block the program, nor a link to a device fill
// its memory.
Stored ReadWhole(const std::string& path, std::string& out) {
  if (ReadWholeFile(path, out, kMostSettingsBytes)) return Stored::Read;
  return os::Stat(path).kind == os::Kind::Missing ? Stored::Missing : Stored::Unusable;
}

// Writing a setting must never bother the user: failures stay silent.
class SilentSink : public MessageSink {
 protected:
  int Present(std::string_view, MessageKind, std::string_view) override { return kButtonOk; }
};

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseSettingsText(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  ForEachLine(WithoutBom(text), [&](std::string_view line) {
    std::string_view name, value;
    if (ParseLine(line, name, value)) out.emplace_back(std::string(name), std::string(value));
  });
  return out;
}

std::string FileSettingsStore::DefaultPath() {
  std::string base = os::Environment("XDG_CONFIG_HOME");
  if (base.empty()) {
    const std::string home = os::Environment("HOME");
    base = (home.empty() ? std::string(".") : home) + "/.config";
  }
  return base + "/Orvel/Marklode.conf";
}

std::string FileSettingsStore::GetRegistryValue(std::string_view name) {
  std::string text;
  if (ReadWhole(path_, text) != Stored::Read) return {};
  std::string found;
  // Names are matched without regard to case; the last line of a name wins.
  bool inSection = section_.empty();
  ForEachLine(WithoutBom(text), [&](std::string_view line) {
    std::string_view n, v;
    if (!section_.empty() && SectionLine(line, n))
      inSection = IEquals(n, section_);
    else if (inSection && ParseLine(line, n, v) && IEquals(n, name))
      found = v;
  });
  return found;
}

void FileSettingsStore::SetRegistryValue(std::string_view name, std::string_view value) {
  // A value cannot hold a line end in this format; keep the first line only.
  value = value.substr(0, value.find_first_of("\r\n"));
  std::string text;
  // A file that is there but cannot be read as settings is left alone.
  if (ReadWhole(path_, text) == Stored::Unusable) return;
  // Keep the file's own line ends (the user may have written it with CR LF);
  // a new INI file has Windows' own.
  const bool crlf = text.find("\r\n") != std::string::npos || (text.empty() && !section_.empty());
  const char* eol = crlf ? "\r\n" : "\n";
  std::string out;
  if (text.starts_with(kUtf8Bom)) out = kUtf8Bom;  // kept, as the file's own form
  bool replaced = false;
  bool inSection = section_.empty(), sawSection = section_.empty();
  std::size_t sectionEnd = std::string::npos;  // in out: after the section's last line
  ForEachLine(WithoutBom(text), [&](std::string_view line) {
    std::string_view n, v;
    if (!section_.empty() && SectionLine(line, n)) {
      inSection = IEquals(n, section_);
      sawSection = sawSection || inSection;
    } else if (inSection && ParseLine(line, n, v) && IEquals(n, name)) {
      if (replaced) return;  // drop duplicates of the same name
      out.append(n).append("=").append(value).append(eol);
      replaced = true;
      return;
    }
    out.append(line).append(eol);
    if (inSection && !section_.empty() && !TrimBlanks(line).empty()) sectionEnd = out.size();
  });
  if (!replaced) {
    std::string added;
    if (!sawSection) added.append("[").append(section_).append("]").append(eol);
    added.append(name).append("=").append(value).append(eol);
    out.insert(sawSection && sectionEnd != std::string::npos ? sectionEnd : out.size(), added);
  }
  const std::string_view folder = DirectoryPart(path_);
  if (!folder.empty()) os::CreateFolders(std::string(folder));
  SilentSink silent;
  OutputFile file(silent, path_, "settings");
  if (file.Write(out)) file.Commit();
}

std::unique_ptr<SettingsStore> UserSettingsStore() {
  return UserSettingsStore(ProgramFolder());
}

std::unique_ptr<SettingsStore> UserSettingsStore(const std::string& programFolder) {
#ifdef _WIN32
  // A copy carried on a stick leaves nothing behind in the registry.
  std::string base = programFolder;
  if (!base.empty() && base.back() != '\\' && base.back() != '/') base += '\\';
  if (os::Stat(base + "portable").kind == os::Kind::Regular)
    return std::make_unique<FileSettingsStore>(base + "Marklode.ini", "Marklode");
#else
  (void)programFolder;
#endif
  return os::UserSettings();
}

std::string MemorySettingsStore::GetRegistryValue(std::string_view name) {
  for (auto& [n, v] : values)
    if (IEquals(n, name)) return v;
  return {};
}

void MemorySettingsStore::SetRegistryValue(std::string_view name, std::string_view value) {
  for (auto& [n, v] : values)
    if (IEquals(n, name)) {
      v = value;
      return;
    }
  values.emplace(std::string(name), std::string(value));
}

}  // namespace marklode
