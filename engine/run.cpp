#include "engine/run.h"

#include <new>
#include <set>

#include "engine/gpx_to_csv.h"
#include "engine/output_keys.h"
#include "engine/poi_to_gpx.h"
#include "engine/reports.h"
#include "services/text_files.h"

namespace marklode {
namespace {

// Shows why an item cannot be read; true when that ends the run.
bool TellItemProblem(const PlannedItem& item, MessageSink& messages) {
  switch (item.problem) {
    case ItemProblem::NotAFile:
      ShowInputNotAFile(messages, item.why);
      return true;
    case ItemProblem::Missing:
      ShowInputMissing(messages, item.input);
      return true;
    case ItemProblem::Pattern:
      ShowWarning(messages, kReadWarningTitle, "Bad file name", item.input);
      return false;
    case ItemProblem::None:
      break;
  }
  return false;
}

}  // namespace

RunResult RunPlan(const Plan& plan, const Request& request, RunServices& services) {
  RunResult result;
  result.isList = plan.isList;
  MessageSink& messages = services.messages;
  switch (plan.stop) {
    case PlanStop::None:
      break;
    case PlanStop::ItemProblem:
      TellItemProblem(plan.items.front(), messages);
      result.status = RunStatus::Stopped;
      break;
    case PlanStop::WildcardOutput:
      ShowWildcardGpxOutput(messages, plan.stopOutput);
      result.status = RunStatus::Stopped;
      break;
    case PlanStop::ReplacesInput:
      ShowOutputIsItsInput(messages, plan.stopOutput);
      result.status = RunStatus::Stopped;
      break;
  }
  if (result.status != RunStatus::Done) {
    result.itemsNotStarted = static_cast<std::int32_t>(plan.items.size());
    return result;
  }

  const int items = plan.isList ? static_cast<int>(plan.items.size()) : 0;
  OutputKeys keys;
  std::set<std::string, std::less<>> written;  // keys of the outputs the list put in place
  for (std::size_t i = 0; i < plan.items.size(); ++i) {
    const PlannedItem& item = plan.items[i];
    ItemEvent& event = result.events.emplace_back();
    event.input = item.given;
    event.output = item.output;
    const std::int32_t after = static_cast<std::int32_t>(plan.items.size() - i - 1);
    if (TellItemProblem(item, messages)) {  // a list stops there; the items before it stand
      event.outcome = ItemOutcome::Stopped;
      result.status = RunStatus::Stopped;
      result.itemsNotStarted = after;
      break;
    }
    if (item.problem == ItemProblem::Pattern) {
      event.outcome = ItemOutcome::Skipped;
      ++result.filesProcessed;
      continue;
    }
    // An output that an earlier item wrote is refused: two inputs named
    // alike ("trip.gpx;trip.txt", or "trip.gpx;TRIP.txt" in a case-blind
    // folder) would leave the records of the last one only.
    std::string key;
    if (plan.isList) {
      key = keys.Of(item.output);
      if (written.contains(key)) {
        ShowOutputRefused(messages, item.output);
        event.outcome = ItemOutcome::Refused;
        continue;  // not converted, so not counted
      }
    }
    if (services.progress) services.progress->Reading(item.given, items ? int(i) + 1 : 0, items);
    result.status = plan.direction == Direction::GpxToPoi
                        ? ConvertGpxToCsv(item, request, services, event)
                        : ConvertPoiToGpx(item, request, services, event);
    result.outputsCommitted += event.committed;
    if (result.status != RunStatus::Done) {
      result.itemsNotStarted = after;
      break;
    }
    if (event.committed > 0 && plan.isList) written.insert(key);
    result.entries += event.entries;
    ++result.filesProcessed;
  }
  return result;
}

RunResult RunRequest(const Request& request, RunServices& services) {
  try {
    SystemFileLookup files;
    return RunPlan(MakePlan(request, files), request, services);
  } catch (const std::bad_alloc&) {
    // The converter's outputs have removed their temporaries on the way
    // out; what is left to say needs little memory.
    services.messages.Show(
        "Out of memory: the conversion was stopped, and its unfinished output files were "
        "removed.",
        MessageKind::Error, kAppTitle, Severity::Stop);
    RunResult result;
    result.status = RunStatus::Stopped;
    return result;
  }
}

std::string SummaryText(const RunResult& result) {
  if (result.status == RunStatus::Cancelled) return CancelledText(result.outputsCommitted);
  std::string text;
  if (result.isList) text = std::to_string(result.filesProcessed) + " Files processed.\r\n";
  return text + std::to_string(result.entries) + " entries converted.";
}

}  // namespace marklode
