// Reads the waypoints of a GPX file as a stream of bytes. This is not an XML
// parser: it recognises just the markup a waypoint needs (the <wpt> start tag
// with its lat and lon, <name>, <cmt> and <gpxx:Category>, and the starts of
// routes and tracks), skips XML comments, processing instructions and
// declarations (a DOCTYPE with its internal subset), and keeps CDATA sections
// whole.
// Line breaks mean nothing to it, so files written on one line, over many
// lines or with tab indentation read the same. Only the text of the fields a
// waypoint keeps is gathered; everything else is skipped as it streams, so a
// long line costs no memory.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/block_reader.h"
#include "engine/progress.h"
#include "services/text_files.h"

namespace marklode {

struct GpxWaypoint {
  std::string lat, lon;  // attribute texts as written
  bool hasLat = false, hasLon = false;
  std::string name, comment, category;  // decoded text, without line breaks but a comment's LF
  // Where its "<wpt" lies in the input, and its line once worked out (0
  // before): lines are counted only where one is asked for (GpxReader::LineOf).
  std::uint64_t at = 0;
  std::int64_t line = 0;
  bool nameJoined = false;  // its name was written over several lines
  // Values by name for the templates' <{name}> (KML's ExtendedData and
  // styleUrl); GPX gives none, and an empty list costs nothing.
  std::vector<std::pair<std::string, std::string>> values;

  // The reader hands waypoints over by swapping, so that their strings keep
  // their room from one waypoint to the next.
  friend void swap(GpxWaypoint& a, GpxWaypoint& b) noexcept {
    a.lat.swap(b.lat);
    a.lon.swap(b.lon);
    std::swap(a.hasLat, b.hasLat);
    std::swap(a.hasLon, b.hasLon);
    a.name.swap(b.name);
    a.comment.swap(b.comment);
    a.category.swap(b.category);
    std::swap(a.at, b.at);
    std::swap(a.line, b.line);
    std::swap(a.nameJoined, b.nameJoined);
    a.values.swap(b.values);
  }
};

// Yields every waypoint that has a name. A waypoint ends at its </wpt>, at a
// self-closing <wpt .../>, at the next waypoint, route or track start, or at
// the end of the input; one without a name is dropped, and counted.
class GpxReader : private BlockReader {
 public:
  GpxReader(ByteSource& src, bool keepCommentLineBreaks, ProgressSink* progress = nullptr);
  // Reads the first n bytes of bytes, taken over until ReturnBytes.
  GpxReader(ReadBuffer& bytes, std::size_t n, bool keepCommentLineBreaks);
  bool Next(GpxWaypoint& wpt);
  using BlockReader::cancelled;
  using BlockReader::ReturnBytes;
  // Ends the input at offset stop, where a piece of the input is cut, if
  // that is where a waypoint's start tag begins as the reader reads it: the
  // waypoint open there ends, and Next yields nothing after it. stopped()
  // tells whether it did; a reader that read past stop met the cut inside
  // other markup or text, and its waypoints from there on are not the file's.
  void StopAt(std::uint64_t stop) { stopAt_ = stop; }
  // The bytes of the input before the source's first, for the progress told.
  void StartAfter(std::uint64_t bytes) { consumed_ = bytes; }
  bool stopped() const { return stopped_; }
  // Waypoints dropped so far for want of a name (none, or only blanks).
  std::int64_t nameless() const { return nameless_; }
  // The lines of the first few of them.
  std::span<const std::int64_t> namelessLines() const {
    return {namelessLines_.data(), namelessKept_};
  }
  // The line ends of the input before the source's first byte: lines are
  // told from there on.
  void StartLine(std::int64_t lineEnds) { lineBase_ = lineEnds; }
  // The line of w's "<wpt", for the last waypoint Next gave (or an earlier
  // one already asked for). LF ends a line; a file without any ends its
  // lines with CR alone.
  std::int64_t LineOf(GpxWaypoint& w) {
    if (w.line == 0) w.line = LineAt(w.at);
    return w.line;
  }
  // Line ends counted so far; up to the cut once stopped().
  std::int64_t lineEnds() const { return lf_ > 0 ? lf_ : cr_; }

 private:
  enum class Field { None, Name, Comment, Category };
  enum class Skip { None, Comment, Cdata, Pi };
  enum class Decl { None, Outside, Subset };  // in a "<!" declaration, and where
  enum class Attr { Space, Name, AfterName, BeforeValue, Value };

  bool Step();    // reads what is in the buffer; true when a waypoint is ready
  bool Markup();  // at a "<" outside a field's text
  // At "<!--", "<![CDATA[" or "<?": steps over the opener and skips through
  // the section; in a field's text a CDATA opener stays, for the decoding to
  // take the section verbatim. False where s opens none of them.
  bool EnterSection(std::string_view s, bool inText);
  // Through the end of a comment, CDATA section or processing instruction:
  // need times last, then ">".
  void SkipTo(char last, int need);
  void DeclBytes();      // inside <!DOCTYPE ...> or another declaration
  void StartTagBytes();  // inside <wpt ...>
  void EndStartTag(bool selfClosing);
  bool FieldText();  // inside the text of a field
  void EndField();
  bool Boundary(std::size_t avail, bool& wptStart) const;
  bool Finish();
  // k bytes from begin_ when the input has them.
  bool Ensure(std::size_t k) { return end_ - begin_ >= k || EnsureMore(k); }
  bool EnsureMore(std::size_t k);
  bool More();                            // Fill, after counting the line ends it would drop
  void CountLines(std::size_t to);        // the line ends from counted_ to buffer index to
  std::int64_t LineAt(std::uint64_t at);  // the line at input offset at, not before counted_
  void NoteNameless();

  const char* joiner_;
  bool open_ = false;     // inside a waypoint
  bool hasName_ = false;  // its name was read
  bool inStartTag_ = false;
  Attr attr_ = Attr::Space;
  char quote_ = '"';
  char lastInTag_ = '\0';  // the last byte outside values and blanks: "/" before ">" closes
  std::string attrName_;   // at most four bytes: enough to tell lat and lon apart from others
  std::string* value_ = nullptr;
  Field field_ = Field::None;
  Skip skip_ = Skip::None;
  int run_ = 0;  // "-", "]" or "?" just before, up to two: they may end the section
  Decl decl_ = Decl::None;
  char declQuote_ = '\0';  // the quote of a literal in a declaration, while in one
  std::string raw_;        // the field's text as written
  std::string scratch_;    // decoded or joined text, swapped in: no allocation per field
  GpxWaypoint cur_;
  std::int64_t nameless_ = 0;
  std::array<std::int64_t, 5> namelessLines_{};
  std::uint8_t namelessKept_ = 0;
  std::size_t counted_ = 0;       // the buffer's bytes before it are counted in lf_ and cr_
  std::int64_t lf_ = 0, cr_ = 0;  // CR only while no LF was seen
  std::int64_t lineBase_ = 0;
  GpxWaypoint* out_ = nullptr;  // the caller's waypoint in Next, where a finished one goes
  std::uint64_t stopAt_ = UINT64_MAX;
  bool stopped_ = false;
};

// Decodes the five XML entities and numeric character references (to UTF-8);
// a CDATA section gives its content verbatim. Anything else is kept as it is.
std::string DecodeXmlText(std::string_view raw);
void DecodeXmlText(std::string_view raw, std::string& out);  // replaces out

// A name's lines joined by single spaces, in place: each line (ended by CR,
// LF or CR LF) trimmed of spaces and tabs, empty ones dropped. True when
// two lines or more were joined.
bool JoinNameLines(std::string& text);

// A comment's lines joined by joiner: blanks around each line break trimmed,
// empty lines before the first and after the last dropped, empty lines
// between kept. Text without a line break comes back as it is.
std::string JoinCommentLines(std::string_view text, std::string_view joiner);
void JoinCommentLines(std::string_view text, std::string_view joiner,
                      std::string& out);  // replaces out

}  // namespace marklode
