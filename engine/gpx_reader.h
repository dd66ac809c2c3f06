// Reads the waypoints of a GPX file as a stream of lines, the way GPX files are
// commonly written: one element per line. Text that shares a line is read as if
// every start tag began a line and every </wpt> stood on a line of its own, so
// files written on one line, or with tab indentation, read the same. This is not
// an XML parser: it recognises just the lines a waypoint needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/block_reader.h"
#include "engine/run_context.h"
#include "services/text_files.h"

namespace marklode {

// Splits a byte stream into logical lines, trimmed of spaces and tabs; empty
// ones only on request. XML comments are skipped; CDATA sections are never split at "<".
class GpxLineScanner : public BlockReader {
 public:
  explicit GpxLineScanner(ByteSource& src, ProgressSink* progress = nullptr)
      : BlockReader(src, progress) {}
  bool Next(std::string_view& line);
  bool keepEmptyLines = false;  // also yield lines that are empty once trimmed

 private:
  enum class Mode { Text, Cdata, Comment };
  // Makes k bytes from pos available when the input has them; pos follows the
  // data if it moves.
  bool Ensure(std::size_t& pos, std::size_t k);
  std::string_view Take(std::size_t lineEnd, std::size_t next);

  Mode mode_ = Mode::Text;
};

struct GpxWaypoint {
  std::string lat, lon;  // attribute texts as written
  bool hasLat = false, hasLon = false;
  std::string name, comment, category;  // decoded text
};

// Yields every waypoint that has a name. A waypoint ends at its </wpt>, at a
// self-closing <wpt .../>, at the next waypoint, route or track start, or at
// the end of the input; one without a name is dropped.
class GpxReader {
 public:
  GpxReader(ByteSource& src, bool keepCommentLineBreaks, ProgressSink* progress = nullptr);
  bool Next(GpxWaypoint& wpt);
  bool cancelled() const { return scanner_.cancelled(); }

 private:
  bool ProcessLine(std::string_view line);  // true when a waypoint is ready
  void StartWaypoint(std::string_view line);
  void ParseStartTag(std::string_view tag);
  bool Finish();

  GpxLineScanner scanner_;
  const char* joiner_;
  bool open_ = false;
  bool awaitingTagEnd_ = false;
  std::string tagText_;
  bool commentPending_ = false;
  std::string commentBuf_;
  bool hasName_ = false;
  GpxWaypoint cur_, ready_;
};

// Decodes the five XML entities and numeric character references (to UTF-8);
// a CDATA section gives its content verbatim. Anything else is kept as it is.
std::string DecodeXmlText(std::string_view raw);

// The text of an element from just after its start tag: up to the next "<"
// that does not open a CDATA section, or to the end of the line.
std::string_view ElementText(std::string_view rest);

}  // namespace marklode
