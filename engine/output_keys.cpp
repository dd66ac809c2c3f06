#include "engine/output_keys.h"

#include <utility>

#include "services/case_blind.h"
#include "services/os.h"
#include "services/platform.h"

namespace marklode {

OutputKeys::OutputKeys(FolderRule ignoresCase) : ignoresCase_(std::move(ignoresCase)) {
  if (!ignoresCase_) ignoresCase_ = os::FolderIgnoresCase;
}

const std::string& OutputKeys::Of(const std::string& name) {
  const std::string_view folder = DirectoryPart(name);
  auto it = folders_.find(folder);
  if (it == folders_.end()) {
    std::string f(folder);
    const bool ignores = ignoresCase_(f);
    it = folders_.emplace(std::move(f), ignores).first;
  }
  if (!it->second) return name;
  key_ = CaseBlindKey(name);
  return key_;
}

}  // namespace marklode
