// The record through which the window, the entry routine and the converters
// hand one conversion request and its result to one another. One lives for the
// whole process; nothing in the engine keeps state anywhere else.
#pragma once

#include <cstdint>
#include <string>

#include "services/messages.h"
#include "services/settings.h"

namespace marklode {

// Told how far a long conversion has read; returning false cancels it.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual bool Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) = 0;
  // Asked once per record and once more before outputs are put in place, so
  // that a cancel is honoured however little is left to read; must be cheap.
  virtual bool Cancelled() { return false; }
};

// How a request ended. Stopped: a stop message was shown (the program ends).
enum class RunStatus { Done, Stopped, Cancelled };

struct RunContext {
  RunContext(MessageSink& m, SettingsStore& s) : messages(m), settings(s) {}

  std::string InputSpec;   // one file, a "*" pattern, or a folder and ";" names
  std::string OutputSpec;  // empty: derived from the input
  bool ModeGPX = false;    // window direction: true = GPX to POI-CSV
  bool OverwriteConfirmed = false;
  std::int32_t EntriesConverted = 0;
  std::int32_t OutputsCommitted = 0;  // files put in place since the program started
  // While a ";" list runs: the item being converted, counted from 1 as
  // FileList::Items counts, and how many the list holds; 0 otherwise.
  std::int32_t ListItem = 0;
  std::int32_t ListItems = 0;
  bool ProfileMode = false;
  std::string ProfileFile;
  bool ReverseSwitch = false;
  bool KeepCommentLineBreak = false;

  MessageSink& messages;
  SettingsStore& settings;
  ProgressSink* progress = nullptr;  // optional
  std::string programFolder;         // where bare profile names are also looked for
};

}  // namespace marklode
