#include "window/win32/dialog_text.h"

#include <algorithm>
#include <cstdio>

#include "services/os.h"
#include "services/platform.h"
#include "services/strings.h"

namespace marklode {

std::wstring DialogFilter(std::string_view filter) {
  if (filter.empty()) return {};
  std::wstring out = os::Utf16(filter);
  for (wchar_t& c : out)
    if (c == L'|') c = L'\0';
  // A filter ending in "|" has already ended its last part.
  if (out.back() != L'\0') out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

std::vector<std::string> SelectedFiles(const wchar_t* buffer, std::size_t size) {
  std::vector<std::wstring> parts;
  std::size_t i = 0;
  while (i < size && buffer[i] != L'\0') {
    std::size_t end = i;
    while (end < size && buffer[end] != L'\0') ++end;
    parts.emplace_back(buffer + i, end - i);
    i = end + 1;
  }
  std::vector<std::string> files;
  if (parts.size() == 1) {
    files.push_back(os::Utf8(parts.front()));
    return files;
  }
  // Folder first, then the names chosen in it; a drive's root ends in "\".
  std::wstring folder = parts.empty() ? std::wstring() : parts.front();
  if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder.push_back(L'\\');
  for (std::size_t k = 1; k < parts.size(); ++k) files.push_back(os::Utf8(folder + parts[k]));
  return files;
}

std::string ByteCountText(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  int unit = 0;
  // Rounded up to the next unit rather than shown as "1024.0 KB".
  while (value >= 1023.95 && unit < 3) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string ProgressText(std::string_view heading, std::uint64_t bytesDone,
                         std::uint64_t bytesTotal) {
  return std::string(heading) + "\r\n" + ByteCountText(bytesDone) + " of " +
         ByteCountText(bytesTotal) + " read";
}

std::string GuidePlainText(std::string_view markdown) {
  std::string out;
  out.reserve(markdown.size());
  bool lineStart = true;
  for (std::size_t i = 0; i < markdown.size(); ++i) {
    const char c = markdown[i];
    if (lineStart && c == '#') {
      std::size_t end = markdown.find_first_not_of('#', i);
      if (end != std::string_view::npos && markdown[end] == ' ') {
        i = end;  // the heading's text follows the marks and one space
        lineStart = false;
        continue;
      }
    }
    lineStart = c == '\n';
    if (c == '`') continue;
    if (c == '*' && i + 1 < markdown.size() && markdown[i + 1] == '*') {
      ++i;
      continue;
    }
    out.push_back(c);
  }
  return out;
}

std::wstring WithCrLf(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) out.push_back(L'\r');
    out.push_back(text[i]);
  }
  return out;
}

}  // namespace marklode
