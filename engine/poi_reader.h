// The reading side of POI-CSV to GPX: the records of CSV files into batches
// of points and route marks, cleaned and checked, in input order. It shows
// every message about the input itself; the writing side needs none.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "engine/csv_fields.h"
#include "engine/poi_to_gpx.h"
#include "engine/progress.h"
#include "engine/record_handoff.h"
#include "engine/run_report.h"
#include "services/text_files.h"

namespace marklode {

// A template from a profile, made fit for XML once. The usual kind, one token
// that takes a whole value ("<T>"), gives that value without a copy.
class PoiTemplate {
 public:
  explicit PoiTemplate(std::string_view text);
  bool empty() const { return text_.empty(); }
  std::string_view Expand(std::span<const std::string_view> values, std::string& scratch) const;

 private:
  std::string text_;
  int whole_ = -1;
};

class PoiReader {
 public:
  // Gives a full batch away and gets an empty one back; false to stop.
  using HandOff = std::function<bool(Batch&)>;

  // Templates come from profiles that any editor may have saved: their text
  // is made fit for XML once, here, like every file name and CSV record.
  PoiReader(MessageSink& messages, const PoiTemplates& t, HandOff handOff);

  // Reads every record of one file; false when the run was cancelled or the
  // writing side stopped.
  bool File(ByteSource& src, std::string_view fileName, ProgressSink* progress);

  // Gives away what is left; false when the writing side stopped.
  bool Finish() { return batch_.items.empty() || HandOffBatch(); }
  bool cancelled() const { return cancelled_; }
  // Where the file read next is counted.
  // The counts of the file read next, the input-th of its output.
  void ReportTo(FileReport& report, std::uint32_t input = 0) {
    report_ = &report;
    input_ = input;
  }

 private:
  bool HandOffBatch();
  void RunOnWarning(std::size_t line, std::string_view fileName);
  void CrInQuotesWarning(std::size_t line, std::string_view fileName);
  void Record();
  std::string_view Unquoted(std::size_t k, std::string& scratch);
  void ReadPoint();
  void RouteLine(std::string_view v);
  void ReleaseRoom();

  MessageSink& messages_;
  FileReport unreported_;
  FileReport* report_ = &unreported_;
  const PoiTemplate commentT_, nameT_, categoryT_, iconT_;
  HandOff handOff_;
  bool anyTemplate_;
  bool cancelled_ = false;
  std::uint32_t input_ = 0;
  bool runOnShown_ = false, crShown_ = false;  // in the file being read
  std::string fileBase_;
  CsvRecordFields fields_;
  const CsvRecordReader* reading_ = nullptr;  // the file being read
  Batch batch_;
  // Per point, kept between points so their buffers are reused.
  std::string lonQ_, latQ_, nameQ_, nameC_, commentQ_, commentX_, commentC_, categoryX_, symbolX_,
      nameX_, routeQ_;
};

}  // namespace marklode
