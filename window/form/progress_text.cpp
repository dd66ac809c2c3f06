#include "window/form/progress_text.h"

#include "services/platform.h"

namespace marklode {

std::string ConvertingText(std::string_view input, int item, int items) {
  std::string text = "Converting " + std::string(FileNamePart(input));
  if (items > 1 && item > 0)
    text += ", file " + std::to_string(item) + " of " + std::to_string(items);
  return text;
}

std::string ProgressHeading(std::string_view input, int item, int items) {
  if (input.empty()) return "Converting...";
  return ConvertingText(input, item, items);
}

}  // namespace marklode
