#include "window/form/progress_text.h"

#include "services/platform.h"

namespace marklode {

std::string ConvertingText(const RunContext& request) {
  std::string text = "Converting " + std::string(FileNamePart(request.InputSpec));
  if (request.ListItems > 1 && request.ListItem > 0)
    text +=
        ", file " + std::to_string(request.ListItem) + " of " + std::to_string(request.ListItems);
  return text;
}

std::string ProgressHeading(const RunContext* request) {
  if (request == nullptr || request->InputSpec.empty()) return "Converting...";
  return ConvertingText(*request);
}

}  // namespace marklode
