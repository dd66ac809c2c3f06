// The planner: a request made into the files it reads and writes. Lists,
// patterns, default extensions and output names are resolved here, once, and
// what no run may do (a GPX output named by a pattern, an output that would
// replace its own input) is found before anything is written. The file system
// is asked through FileLookup, so that plans can be tested from strings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/request.h"

namespace marklode {

class FileLookup {
 public:
  virtual ~FileLookup() = default;
  // The bare names of the regular files that the last part of path names
  // (wildcards allowed there), sorted, as FindFiles gives them.
  virtual std::vector<std::string> Find(std::string_view path) = 0;
  // The one file to open for a name, spelt as its folder stores it; empty
  // for a pattern or a name that finds nothing (ResolveFile).
  virtual std::string Resolve(std::string_view path) = 0;
  // Why an input that exists is no regular file; empty when it is none such.
  virtual std::string NotAFile(std::string_view given, std::string_view completed) = 0;
  // Whether two names denote one file, as the file system takes names.
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;
};

// The lookup of the running system.
class SystemFileLookup : public FileLookup {
 public:
  std::vector<std::string> Find(std::string_view path) override;
  std::string Resolve(std::string_view path) override;
  std::string NotAFile(std::string_view given, std::string_view completed) override;
  bool SameFile(const std::string& a, const std::string& b) override;
};

// Why an item cannot be converted when its turn comes. A list stops at an
// item that is missing or no file, after the items before it; a GPX pattern
// is told and passed over.
enum class ItemProblem {
  None,
  NotAFile,  // `why` says what it is
  Missing,   // no file has the name
  Pattern,   // a GPX input named by a pattern: there is no one file to read
};

struct PlannedItem {
  std::string given;               // as the request named it, folder included
  std::string input;               // with its default extension where it had none
  std::string folder;              // of input, with its separator; files are in it
  std::vector<std::string> files;  // bare names, in the order they are read
  std::string path;                // GPX input: the file to open
  // The file the records go to; with a file-name template, the folder of
  // this name is where the named files go.
  std::string output;
  ItemProblem problem = ItemProblem::None;
  std::string why;
};

// What stops a run before anything is written.
enum class PlanStop {
  None,
  ItemProblem,     // the only item is missing or no file: items[0] says
  WildcardOutput,  // a GPX output name holding "*" or "?"
  ReplacesInput,   // an output that would replace its own input (or the profile)
};

struct Plan {
  Direction direction = Direction::GpxToPoi;
  // A ";" list: each item to its own output beside it. A profile names one
  // file or pattern, so a ";" in its input is part of the name.
  bool isList = false;
  std::vector<PlannedItem> items;  // the list's items with names, in order
  PlanStop stop = PlanStop::None;
  std::string stopOutput;  // the output the stop names
};

// The input as the converters look for it: a file name without an extension
// gets the direction's (".gpx" for GPX input, ".CSV" for POI-CSV).
std::string CompletedInput(std::string_view input, Direction direction);

// The one file a conversion of completedInput writes, given the output asked
// for (empty: beside the input, its extension replaced by ".CSV" or ".GPX").
// A POI-CSV output holding "*" or "?" stands for the input's name: that name
// with ".CSV", in the output's folder. A GPX output name comes back as it is.
std::string OutputNameOf(std::string_view completedInput, std::string_view output,
                         Direction direction);

// A path as Explorer's "Copy as path" gives it, "C:\gps\a.csv": one pair of
// double quotes around the whole is taken off; any other quote is part of
// the name.
std::string_view WithoutSurroundingQuotes(std::string_view path);

// Whether an input is a ";" list: a ";" anywhere in it, its folder included.
bool IsFileList(std::string_view input);

// A ";" list taken apart: the folder is the text up to its last separator
// (empty when there is none), the names are what stands between the ";"
// after it, in order and as written (spaces kept), an empty one where two ";"
// meet or one ends the list. Views into list, which must outlive them.
struct FileList {
  std::string_view folder;
  std::vector<std::string_view> names;
  // The items a run converts, counted from 1 in order: the names that are
  // not empty.
  int Items() const;
};
FileList SplitFileList(std::string_view list);

Plan MakePlan(const Request& request, FileLookup& files);

// What an item's output would make of the plan, had it none yet: a GPX file
// named by a pattern, or a file the item also reads (which a single GPX input
// may: its records take its place only once it has been read whole).
PlanStop OutputStop(const Plan& plan, const PlannedItem& item, FileLookup& files);

}  // namespace marklode
