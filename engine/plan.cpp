#include "engine/plan.h"

#include "services/platform.h"

namespace marklode {

std::vector<std::string> SystemFileLookup::Find(std::string_view path) {
  return FindFiles(path);
}
std::string SystemFileLookup::Resolve(std::string_view path) {
  return ResolveFile(path);
}
std::string SystemFileLookup::NotAFile(std::string_view given, std::string_view completed) {
  return NotARegularFileText(given, completed);
}
bool SystemFileLookup::SameFile(const std::string& a, const std::string& b) {
  return marklode::SameFile(a, b);
}

std::string CompletedInput(std::string_view input, Direction direction) {
  std::string completed(input);
  if (FileNamePart(input).find('.') == std::string_view::npos)
    completed += direction == Direction::GpxToPoi ? ".gpx" : ".CSV";
  return completed;
}

std::string OutputNameOf(std::string_view completedInput, std::string_view output,
                         Direction direction) {
  const std::string_view name = FileNamePart(completedInput);
  const std::string_view stem = name.substr(0, name.rfind('.'));
  const bool toPoi = direction == Direction::GpxToPoi;
  const std::string_view ext = toPoi ? ".CSV" : ".GPX";
  if (output.empty()) return std::string(DirectoryPart(completedInput)).append(stem).append(ext);
  if (toPoi && HasWildcards(output))
    return std::string(DirectoryPart(output)).append(stem).append(ext);
  return std::string(output);
}

std::string_view WithoutSurroundingQuotes(std::string_view path) {
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
    return path.substr(1, path.size() - 2);
  return path;
}

bool IsFileList(std::string_view input) {
  return input.find(';') != std::string_view::npos;
}

int FileList::Items() const {
  int n = 0;
  for (const std::string_view name : names) n += name.empty() ? 0 : 1;
  return n;
}

FileList SplitFileList(std::string_view list) {
  FileList out;
  out.folder = DirectoryPart(list);
  const std::string_view names = list.substr(out.folder.size());
  for (std::size_t pos = 0;;) {
    const std::size_t semi = names.find(';', pos);
    out.names.push_back(names.substr(pos, semi == std::string_view::npos ? semi : semi - pos));
    if (semi == std::string_view::npos) return out;
    pos = semi + 1;
  }
}

namespace {

PlannedItem PlanItem(std::string given, std::string_view output, Direction direction,
                     FileLookup& fs) {
  PlannedItem item;
  item.input = CompletedInput(given, direction);
  item.given = std::move(given);
  item.folder = DirectoryPart(item.input);
  item.output = OutputNameOf(item.input, output, direction);
  item.why = fs.NotAFile(item.given, item.input);
  if (!item.why.empty()) {
    item.problem = ItemProblem::NotAFile;
    return item;
  }
  item.files = fs.Find(item.input);
  if (item.files.empty()) {
    item.problem = ItemProblem::Missing;
  } else if (direction == Direction::GpxToPoi) {
    // One GPX file is read: a pattern finds no one file.
    item.path = fs.Resolve(item.input);
    if (item.path.empty()) item.problem = ItemProblem::Pattern;
  }
  return item;
}

bool ReplacesAnInput(const PlannedItem& item, const std::string& output, FileLookup& fs) {
  std::string path;
  for (const std::string& name : item.files)
    if (fs.SameFile(path.assign(item.folder).append(name), output)) return true;
  return false;
}

// A list with the quotes of pasted paths taken off: one pair around the
// whole ("C:\gps\a.csv;b.csv"), or one around each item, the first with its
// folder ("C:\gps\a.csv";"b.csv").
std::string UnquotedList(std::string_view list) {
  const std::string_view whole = WithoutSurroundingQuotes(list);
  if (whole.size() < list.size() && whole.find('"') == std::string_view::npos)
    return std::string(whole);
  std::string out;
  for (std::size_t pos = 0;;) {
    const std::size_t semi = list.find(';', pos);
    out.append(WithoutSurroundingQuotes(list.substr(pos, semi - pos)));
    if (semi == std::string_view::npos) return out;
    out += ';';
    pos = semi + 1;
  }
}

void FindStop(Plan& plan, FileLookup& fs) {
  for (const PlannedItem& item : plan.items) {
    plan.stop = OutputStop(plan, item, fs);
    if (plan.stop != PlanStop::None) {
      plan.stopOutput = item.output;
      return;
    }
  }
}

}  // namespace

Plan MakePlan(const Request& request, FileLookup& fs) {
  Plan plan;
  plan.direction = request.direction;
  plan.isList = request.profile.empty() && IsFileList(request.input);
  const std::string input = plan.isList ? UnquotedList(request.input)
                                        : std::string(WithoutSurroundingQuotes(request.input));
  if (!plan.isList) {
    plan.items.push_back(PlanItem(std::string(input), WithoutSurroundingQuotes(request.output),
                                  request.direction, fs));
    const PlannedItem& item = plan.items.front();
    // A profile may not write its conversion over itself. Names a template
    // gives are checked against it as they come.
    const bool named = request.direction == Direction::GpxToPoi && !request.toPoi.fileName.empty();
    if (!request.profile.empty() && !named && fs.SameFile(item.output, request.profile)) {
      plan.stop = PlanStop::ReplacesInput;
      plan.stopOutput = item.output;
    } else if (item.problem == ItemProblem::NotAFile || item.problem == ItemProblem::Missing) {
      plan.stop = PlanStop::ItemProblem;
    } else {
      FindStop(plan, fs);
    }
    return plan;
  }
  // Every item is looked at before any is converted, so that a list that
  // would write a GPX file named by a pattern, or replace one of its inputs,
  // stops with nothing written.
  const FileList list = SplitFileList(input);
  std::string given;
  for (const std::string_view name : list.names) {
    if (name.empty()) continue;  // "a.csv;" or "a.csv;;b.csv": no item there
    plan.items.push_back(
        PlanItem(given.assign(list.folder).append(name), "", request.direction, fs));
  }
  FindStop(plan, fs);
  return plan;
}

}  // namespace marklode

namespace marklode {

PlanStop OutputStop(const Plan& plan, const PlannedItem& item, FileLookup& fs) {
  const bool toGpx = plan.direction == Direction::PoiToGpx;
  if (toGpx && HasWildcards(item.output)) return PlanStop::WildcardOutput;
  if ((toGpx || plan.isList) && ReplacesAnInput(item, item.output, fs))
    return PlanStop::ReplacesInput;
  return PlanStop::None;
}

}  // namespace marklode
