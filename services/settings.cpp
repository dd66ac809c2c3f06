#include "services/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

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

// A settings file is a few lines; anything this big is not one.
constexpr off_t kMostSettingsBytes = 1 << 20;

enum class Stored { Missing, Read, Unusable };

// Reads the settings file only when it is a regular file of a sensible size:
// a named pipe there must not block the program, nor a link to a device fill
// its memory.
Stored ReadWhole(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? Stored::Missing : Stored::Unusable;
  struct stat st;
  Stored result = Stored::Unusable;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMostSettingsBytes) {
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
      const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    out.resize(got);  // a file that shrank meanwhile
    result = Stored::Read;
  }
  ::close(fd);
  if (result != Stored::Read) out.clear();
  return result;
}

// Writing a setting must never bother the user: failures stay silent.
class SilentSink : public MessageSink {
 protected:
  int Present(std::string_view, int, std::string_view) override { return kButtonOk; }
};

}  // namespace

std::vector<std::pair<std::string, std::string>> ParseSettingsText(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  ForEachLine(text, [&](std::string_view line) {
    std::string_view name, value;
    if (ParseLine(line, name, value)) out.emplace_back(std::string(name), std::string(value));
  });
  return out;
}

std::string FileSettingsStore::DefaultPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/Orvel/Marklode.conf";
}

std::string FileSettingsStore::GetRegistryValue(std::string_view name) {
  std::string text;
  if (ReadWhole(path_, text) != Stored::Read) return {};
  std::string found;
  // Names are matched without regard to case; the last line of a name wins.
  for (auto& [n, v] : ParseSettingsText(text))
    if (IEquals(n, name)) found = v;
  return found;
}

void FileSettingsStore::SetRegistryValue(std::string_view name, std::string_view value) {
  // A value cannot hold a line end in this format; keep the first line only.
  value = value.substr(0, value.find_first_of("\r\n"));
  std::string text;
  // A file that is there but cannot be read as settings is left alone.
  if (ReadWhole(path_, text) == Stored::Unusable) return;
  // Keep the file's own line ends (the user may have written it with CR LF).
  const char* eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  std::string out;
  bool replaced = false;
  ForEachLine(text, [&](std::string_view line) {
    std::string_view n, v;
    if (ParseLine(line, n, v) && IEquals(n, name)) {
      if (replaced) return;  // drop duplicates of the same name
      out.append(n).append("=").append(value).append(eol);
      replaced = true;
      return;
    }
    out.append(line).append(eol);
  });
  if (!replaced) out.append(name).append("=").append(value).append(eol);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  SilentSink silent;
  OutputFile file(silent, path_, "settings");
  if (file.Write(out)) file.Commit();
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
