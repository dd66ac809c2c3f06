// Running a plan: the converters, the ";" list and the result that every
// summing-up message is made from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/plan.h"
#include "engine/progress.h"
#include "engine/request.h"
#include "engine/run_report.h"
#include "services/messages.h"
#include "services/settings.h"

namespace marklode {

// What a run reports through and reads its options from; nothing in the
// engine keeps state anywhere else.
struct RunServices {
  MessageSink& messages;
  SettingsStore& settings;
  ProgressSink* progress = nullptr;  // optional
  // GPX to POI-CSV reads a large input in pieces of about gpxPieceBytes on
  // gpxThreads threads; 0 for either: as the processors allow. Tests set
  // small pieces to cut small inputs everywhere.
  int gpxThreads = 0;
  std::size_t gpxPieceBytes = 0;
  // A check: everything is read and planned as in a run, and counted as
  // written, but no file is created, not even a temporary.
  bool check = false;
};

// How a run ended. Stopped: a stop message was shown (the command line ends).
enum class RunStatus { Done, Stopped, Cancelled };

// What became of one input of the run.
enum class ItemOutcome {
  Converted,   // its outputs were put in place
  NotWritten,  // read, but an output could not be written, or it was not read whole
  Refused,     // an earlier item of the list put the same output in place
  Skipped,     // a GPX pattern: no one file to read
  Stopped,     // missing or no file: the run ended there
  Cancelled,   // the user cancelled while it ran
};

struct ItemEvent {
  std::string input;   // as given
  std::string output;  // the output named for it (a template may have named others)
  ItemOutcome outcome = ItemOutcome::Converted;
  std::int32_t entries = 0;       // records or waypoints written
  std::int32_t committed = 0;     // outputs put in place
  std::vector<FileReport> files;  // what was read of each input file, in order
};

struct RunResult {
  RunStatus status = RunStatus::Done;
  bool isList = false;
  std::int32_t entries = 0;
  std::int32_t outputsCommitted = 0;  // put in place, replacing what was there
  std::int32_t filesProcessed = 0;    // items converted (a list counts them)
  // Items of the plan that were never started, after a stop or a cancel:
  // their outputs were left as they were.
  std::int32_t itemsNotStarted = 0;
  std::vector<ItemEvent> events;
};

// Plans and runs a request: the plan's stop, or each item in turn.
RunResult RunRequest(const Request& request, RunServices& services);
RunResult RunPlan(const Plan& plan, const Request& request, RunServices& services);

// The box that sums up a run in the window: "N Files processed." for a list,
// "M entries converted.", or what a Cancel left.
std::string SummaryText(const RunResult& result);

}  // namespace marklode
