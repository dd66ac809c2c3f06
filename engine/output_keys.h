// Output names as their folders compare them, so that two names of one run
// that a case-blind folder takes for one file ("Food.CSV", "FOOD.CSV") are
// known as one output. Whether a folder is case-blind is asked once per folder.
#pragma once

#include <functional>
#include <map>
#include <string>

namespace marklode {

class OutputKeys {
 public:
  // Whether a folder (as DirectoryPart gives it) ignores case; the system is
  // asked unless the tests give another rule.
  using FolderRule = std::function<bool(const std::string& folder)>;
  explicit OutputKeys(FolderRule ignoresCase = {});

  // The key of an output name: the name itself in a folder that tells case
  // apart, else its CaseBlindKey. Valid until the next call.
  const std::string& Of(const std::string& name);

 private:
  FolderRule ignoresCase_;
  std::map<std::string, bool, std::less<>> folders_;
  std::string key_;
};

}  // namespace marklode
