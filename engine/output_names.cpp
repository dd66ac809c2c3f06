#include "engine/output_names.h"

#include "services/platform.h"

namespace marklode {

std::string CompletedInput(std::string_view input, bool gpxInput) {
  std::string completed(input);
  if (FileNamePart(input).find('.') == std::string_view::npos)
    completed += gpxInput ? ".gpx" : ".CSV";
  return completed;
}

std::string OutputNameOf(std::string_view completedInput, std::string_view output, bool gpxInput) {
  const std::string_view name = FileNamePart(completedInput);
  const std::string_view stem = name.substr(0, name.rfind('.'));
  const std::string_view ext = gpxInput ? ".CSV" : ".GPX";
  if (output.empty()) return std::string(DirectoryPart(completedInput)).append(stem).append(ext);
  if (gpxInput && HasWildcards(output))
    return std::string(DirectoryPart(output)).append(stem).append(ext);
  return std::string(output);
}

bool ReplacesAnInput(std::string_view dir, const std::vector<std::string>& names,
                     const std::string& output) {
  std::string path;
  for (const std::string& name : names) {
    path.assign(dir).append(name);
    if (SameFile(path, output)) return true;
  }
  return false;
}

bool ReplacesItsInput(const std::string& completedInput, const std::string& output) {
  return ReplacesAnInput(DirectoryPart(completedInput), FindFiles(completedInput), output);
}

}  // namespace marklode
