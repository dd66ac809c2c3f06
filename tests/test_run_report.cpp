// The run report: its JSON as scripts read it, its short lines, and the
// check that writes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <variant>

#include "engine/run_main.h"
#include "engine/run_report.h"
#include "process_runner.h"
#include "test_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::WriteFile;

// A small JSON reader: enough to take the report apart as a script would,
// and strict, so that a document that is no JSON fails the test.
struct Json {
  std::variant<std::nullptr_t, bool, double, std::string, std::vector<Json>,
               std::map<std::string, Json>>
      v;
  const Json& operator[](const std::string& key) const {
    static const Json none;
    const auto* m = std::get_if<std::map<std::string, Json>>(&v);
    if (!m) return none;
    auto it = m->find(key);
    return it == m->end() ? none : it->second;
  }
  const Json& operator[](std::size_t i) const { return std::get<std::vector<Json>>(v).at(i); }
  std::size_t size() const { return std::get<std::vector<Json>>(v).size(); }
  std::int64_t num() const { return static_cast<std::int64_t>(std::get<double>(v)); }
  const std::string& str() const { return std::get<std::string>(v); }
  bool flag() const { return std::get<bool>(v); }
  std::vector<std::int64_t> nums() const {
    std::vector<std::int64_t> out;
    for (const Json& j : std::get<std::vector<Json>>(v)) out.push_back(j.num());
    return out;
  }
  std::vector<std::string> strs() const {
    std::vector<std::string> out;
    for (const Json& j : std::get<std::vector<Json>>(v)) out.push_back(j.str());
    return out;
  }
};

class JsonParser {
 public:
  explicit JsonParser(std::string_view t) : t_(t) {}
  Json Document() {
    Json j = Value();
    Space();
    if (i_ != t_.size()) throw std::runtime_error("text after the document");
    return j;
  }

 private:
  void Space() {
    while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\n' || t_[i_] == '\r' || t_[i_] == '\t'))
      ++i_;
  }
  char Peek() {
    Space();
    if (i_ >= t_.size()) throw std::runtime_error("unexpected end");
    return t_[i_];
  }
  void Expect(char c) {
    if (Peek() != c)
      throw std::runtime_error(std::string("expected ") + c + " at " + std::to_string(i_));
    ++i_;
  }
  bool Word(std::string_view w) {
    if (t_.substr(i_, w.size()) != w) return false;
    i_ += w.size();
    return true;
  }
  std::string String() {
    Expect('"');
    std::string s;
    for (;;) {
      if (i_ >= t_.size()) throw std::runtime_error("open string");
      const unsigned char c = t_[i_++];
      if (c == '"') return s;
      if (c < 0x20) throw std::runtime_error("control character in a string");
      if (c != '\\') {
        s += static_cast<char>(c);
        continue;
      }
      const char e = t_.at(i_++);
      switch (e) {
        case '"':
        case '\\':
        case '/':
          s += e;
          break;
        case 'n':
          s += '\n';
          break;
        case 'r':
          s += '\r';
          break;
        case 't':
          s += '\t';
          break;
        case 'b':
          s += '\b';
          break;
        case 'f':
          s += '\f';
          break;
        case 'u': {
          const unsigned cp = std::stoul(std::string(t_.substr(i_, 4)), nullptr, 16);
          i_ += 4;
          if (cp < 0x80) {
            s += static_cast<char>(cp);
          } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default:
          throw std::runtime_error("bad escape");
      }
    }
  }
  Json Value() {
    const char c = Peek();
    Json j;
    if (c == '{') {
      ++i_;
      std::map<std::string, Json> m;
      if (Peek() == '}') {
        ++i_;
      } else {
        for (;;) {
          std::string k = String();
          Expect(':');
          m[k] = Value();
          if (Peek() == ',') {
            ++i_;
            continue;
          }
          Expect('}');
          break;
        }
      }
      j.v = std::move(m);
    } else if (c == '[') {
      ++i_;
      std::vector<Json> a;
      if (Peek() == ']') {
        ++i_;
      } else {
        for (;;) {
          a.push_back(Value());
          if (Peek() == ',') {
            ++i_;
            continue;
          }
          Expect(']');
          break;
        }
      }
      j.v = std::move(a);
    } else if (c == '"') {
      j.v = String();
    } else if (Word("true")) {
      j.v = true;
    } else if (Word("false")) {
      j.v = false;
    } else if (Word("null")) {
      j.v = nullptr;
    } else {
      std::size_t used = 0;
      j.v = std::stod(std::string(t_.substr(i_, 32)), &used);
      i_ += used;
    }
    return j;
  }

  std::string_view t_;
  std::size_t i_ = 0;
};

TEST(RunReport, JsonStringsEscapeWhatJsonCannotHoldAndMarkBytesThatAreNoUtf8) {
  struct Case {
    std::string text, json;
  } cases[] = {
      {"plain.gpx", "\"plain.gpx\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"t\tn\nr\r", "\"t\\tn\\nr\\r\""},
      {std::string("x\0y\x1f\x7f", 5), "\"x\\u0000y\\u001f\x7f\""},
      {"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x97\xBA",
       "\"Gr\xC3\xBC\xC3\x9F \xE2\x82\xAC \xF0\x9F\x97\xBA\""},
      {"caf\xE9.csv", "\"caf\\ufffd.csv\""},                     // Windows-1252
      {"\xC0\xAF", "\"\\ufffd\\ufffd\""},                        // overlong "/"
      {"\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},             // a surrogate
      {"\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
      {"end\xE2\x82", "\"end\\ufffd\\ufffd\""},                  // cut short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonString(c.text), c.json) << c.json;
    EXPECT_NO_THROW(JsonParser(JsonString(c.text)).Document()) << c.json;
  }
}

// The hints look at coordinates that passed their check, as written.
TEST(RunReport, CoordinateTextsForTheHints) {
  struct Case {
    const char* text;
    bool zero, beyond90;
  } cases[] = {
      {"0", true, false},       {"-0.000", true, false},  {"0.0001", false, false},
      {"5.25", false, false},   {"-89.9", false, false},  {"90", false, false},
      {"90.000", false, false}, {"90.0001", false, true}, {"-91", false, true},
      {"180", false, true},     {"090.5", false, true},   {"012", false, false},
      {" 100 ", false, true},   {"+95.5", false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsZeroDegrees(c.text), c.zero) << c.text;
    EXPECT_EQ(IsBeyond90(c.text), c.beyond90) << c.text;
  }
}

TEST(RunReport, LongOptionsComeAmongTheSwitchesBeforeTheFile) {
  struct Case {
    std::vector<std::string> args;
    ReportForm report;
    bool check;
    std::string request, misplaced, bad;
    bool reverse = false;
  } cases[] = {
      {{"--report", "a.gpx"}, ReportForm::Text, false, "a.gpx", "", ""},
      {{"--report=json", "/r", "a.csv"}, ReportForm::Json, false, "a.csv", "", "", true},
      {{"/r", "--check", "a.csv"}, ReportForm::Text, true, "a.csv", "", "", true},
      {{"--check", "--report=json", "/p", "x.zvp"}, ReportForm::Json, true, "x.zvp", "", ""},
      {{"/p", "--report", "/x.zvp"}, ReportForm::Text, false, "/x.zvp", "", ""},
      {{"a.gpx", "--report"}, ReportForm::None, false, "a.gpx --report", "--report", ""},
      {{"--report=xml", "a.gpx"}, ReportForm::None, false, "a.gpx", "", "--report=xml"},
      {{"--Report", "a.gpx"}, ReportForm::None, false, "--Report a.gpx", "", ""},  // a file name
  };
  for (const Case& c : cases) {
    const CommandLine cmd = ParseCommandLine(c.args, "/prog");
    const std::string at = c.args.front() + " " + c.args.back();
    EXPECT_EQ(cmd.report, c.report) << at;
    EXPECT_EQ(cmd.check, c.check) << at;
    EXPECT_EQ(cmd.misplacedSwitch, c.misplaced) << at;
    EXPECT_EQ(cmd.badOption, c.bad) << at;
    EXPECT_EQ(cmd.reverse, c.reverse) << at;
    if (c.misplaced.empty()) {
      EXPECT_EQ(cmd.request, c.request) << at;
    }
  }
}

struct Ran {
  int status;
  std::string out, err;
};

Ran RunIn(const test::TempDir& dir, const std::vector<std::string>& args) {
  test::ProcessRequest req;
  req.argv = {MARKLODE_BINARY};
  req.argv.insert(req.argv.end(), args.begin(), args.end());
  req.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  req.env = {{"XDG_CONFIG_HOME", dir / "cfg"}};
  req.workDir = dir.path();
  const test::ProcessResult r = test::RunProcess(req);
  return {r.status, r.out, r.err + r.failure};
}

// Every file under dir (but the settings) with its bytes.
std::map<std::string, std::string> Snapshot(const test::TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
    const std::string rel = std::filesystem::relative(e.path(), dir.path()).generic_string();
    if (rel.starts_with("cfg")) continue;
    files[rel] = e.is_regular_file() ? ReadFile(e.path().string()) : "<dir>";
  }
  return files;
}

constexpr const char* kGpx =
    "<?xml version=\"1.0\"?>\n"
    "<gpx>\n"
    "<wpt lat=\"1\" lon=\"2\"><name>Pub</name></wpt>\n"
    "<wpt lat=\"x\" lon=\"2\"><name>Bad</name></wpt>\n"
    "<wpt lat=\"1\" lon=\"2\"></wpt>\n"
    "<wpt lat=\"3\" lon=\"4\"><name>An inn whose name runs on past the length limit</name></wpt>\n"
    "</gpx>\n";

constexpr const char* kCsv =
    "1,2,\"Home\"\r\n"
    "1,2\r\n"
    "[begin-route:R]\r\n"
    "1,2,\"Home\"\r\n"
    "[end-route]\r\n"
    "x,2,\"Nowhere\"\r\n"
    "5,6,\"Fish & Chips\"\r\n"
    "stray\r\n";

// A table of inputs, each run with --report=json, against the counts the
// report must give per file.
TEST(RunReport, JsonCountsEachReasonPerFile) {
  struct Skip {
    std::string key;
    std::int64_t count;
    std::vector<std::int64_t> lines = {};
  };
  struct FileCounts {
    std::string input;  // as the end of the path
    std::string outcome;
    std::int64_t read, written;
    std::vector<Skip> skips;
    std::map<std::string, std::int64_t> names = {};
    std::vector<std::string> hints = {};
  };
  struct Case {
    std::string what;
    std::map<std::string, std::string> files;
    std::vector<std::string> args;
    int status;
    std::vector<FileCounts> expect;
  } cases[] = {
      {"gpx",
       {{"t.gpx", kGpx}},
       {"--report=json", "t.gpx"},
       2,
       {{"t.gpx",
         "converted",
         4,
         2,
         {{"no-coordinates", 1, {4}}, {"no-name", 1, {5}}},
         {{"cut", 1}}}}},
      {"gpx lines ended by CR alone, the first five nameless kept",
       {{"cr.gpx",
         "<gpx>\r<wpt lat='1' lon='2'/>\r<wpt lat='x' lon='1'><name>A</name></wpt>\r"
         "<wpt lat='1' lon='2'>\r<name>B</name></wpt>\r<wpt/><wpt/>\r\r<wpt/>\r<wpt>"
         "<name> </name></wpt>\r<wpt/></gpx>"}},
       {"--report=json", "cr.gpx"},
       2,
       {{"cr.gpx",
         "converted",
         8,
         1,
         {{"no-coordinates", 1, {3}}, {"no-name", 6, {2, 6, 6, 8, 9}}}}}},
      {"gpx names with line breaks joined and text cut at a second \"@\"",
       {{"n.gpx",
         "<gpx>\n<wpt lat='1' lon='2'><name>Old\n  Mill</name></wpt>\n"
         "<wpt lat='1' lon='2'><name>Cam@50@x</name></wpt>\n"
         "<wpt lat='1' lon='2'><name>  Plain\n</name></wpt>\n</gpx>\n"}},
       {"--report=json", "n.gpx"},
       0,
       {{"n.gpx", "converted", 3, 3, {}, {{"characters-replaced", 2}}}}},
      {"csv",
       {{"p.csv", kCsv}},
       {"--report=json", "/r", "p.csv"},
       2,
       {{"p.csv",
         "converted",
         6,
         3,
         {{"no-coordinates", 1, {6}}, {"few-fields", 2, {2, 8}}},
         {{"made-unique", 1}, {"characters-replaced", 1}}}}},
      {"unpaired quote",
       {{"q.csv", "1,2,\"X\"\r\n1,2,\"A\n3,4,\"B\"\r\n5,6,\"C\"\r\n"}},
       {"--report=json", "/r", "q.csv"},
       2,
       {{"q.csv", "converted", 3, 3, {{"unpaired-quote", 1, {2}}}}}},
      {"an unpaired quote in each of two records",
       {{"u.csv", "1,2,\"A\n3,4,\"B\"\r\n5,6,\"C\n7,8,\"D\"\r\n9,9,\"E\"\r\n"}},
       {"--report=json", "/r", "u.csv"},
       2,
       {{"u.csv", "converted", 3, 3, {{"unpaired-quote", 2, {1, 3}}}}}},
      {"swapped",
       {{"s.csv", "1,2,\"A\"\r\n10,120,\"B\"\r\n"}},
       {"--report=json", "/r", "s.csv"},
       2,
       {{"s.csv", "converted", 2, 1, {{"no-coordinates", 1}}, {}, {"swapped-coordinates"}}}},
      {"all zero",
       {{"z.gpx",
         "<gpx><wpt lat='0' lon='0.000'><name>A</name></wpt>"
         "<wpt lat='-0' lon='0'><name>B</name></wpt></gpx>"}},
       {"--report=json", "z.gpx"},
       0,
       {{"z.gpx", "converted", 2, 2, {}, {}, {"all-zero"}}}},
      {"list",
       {{"a.csv", "1,2,\"A\"\r\n"}, {"b.csv", "1,2\r\n3,4,\"B\"\r\n"}},
       {"--report=json", "a.csv;b.csv"},
       0,  // a line of two fields is dropped without a word
       {{"a.csv", "converted", 1, 1, {}}, {"b.csv", "converted", 2, 1, {{"few-fields", 1}}}}},
      {"names made unique in one GPX, each counted for its input",
       {{"a.csv", "1,2,\"Home\"\r\n"},
        {"b.csv", "3,4,\"Home\"\r\n3,4,\"Home\"\r\n3,4,\"Inn\"\r\n"},
        {"c.csv", "5,6,\"Inn\"\r\n"},
        {"all.zvp", "[Profile]\r\nInput=*.csv\r\nOutput=all.gpx\r\n"}},
       {"--report=json", "/p", "all.zvp"},
       0,
       {{"a.csv", "converted", 1, 1, {}},
        {"b.csv", "converted", 3, 3, {}, {{"made-unique", 2}}},
        {"c.csv", "converted", 1, 1, {}, {{"made-unique", 1}}}}},
      {"gpx in an encoding that cannot be decoded",
       {{"e.gpx",
         std::string("\0<\0\0", 4) + "<gpx><wpt lat='1' lon='2'><name>A</name></wpt></gpx>"}},
       {"--report=json", "e.gpx"},
       2,
       {{"e.gpx", "not-written", 0, 0, {{"unreadable", 1}}}}},
      {"csv in an encoding that cannot be decoded",
       {{"e.csv", std::string("\0\x31\0\0,2,\"A\"\r\n", 12)}},
       {"--report=json", "/r", "e.csv"},
       2,
       {{"e.csv", "not-written", 0, 0, {{"unreadable", 1}}}}},
      {"profile with a filter",
       {{"f.gpx",
         "<gpx><wpt lat='1' lon='2'><name>Cam</name><gpxx:Category>Speed</gpxx:Category>"
         "</wpt>\n<wpt lat='1' lon='2'><name>Pub</name></wpt>\n\n"
         "<wpt lat='1' lon='2'><name>Inn</name></wpt></gpx>"},
        {"f.zvp", "[Profile]\r\nInput=f.gpx\r\nOutput=out.csv\r\nCategoryFilter=S*\r\n"}},
       {"--report=json", "/p", "f.zvp"},
       0,
       {{"f.gpx", "converted", 3, 1, {{"filtered", 2, {2, 4}}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    for (const auto& [name, text] : c.files) WriteFile(dir / name, text);
    const Ran r = RunIn(dir, c.args);
    EXPECT_EQ(r.status, c.status) << r.err;
    Json doc;
    ASSERT_NO_THROW(doc = JsonParser(r.out).Document()) << r.out;
    EXPECT_FALSE(doc["check"].flag());
    ASSERT_EQ(doc["files"].size(), c.expect.size()) << r.out;
    for (std::size_t i = 0; i < c.expect.size(); ++i) {
      const FileCounts& want = c.expect[i];
      const Json& f = doc["files"][i];
      EXPECT_TRUE(f["input"].str().ends_with(want.input)) << f["input"].str();
      EXPECT_EQ(f["outcome"].str(), want.outcome);
      EXPECT_EQ(f["read"].num(), want.read) << r.out;
      EXPECT_EQ(f["written"].num(), want.written) << r.out;
      std::map<std::string, std::int64_t> counts;
      for (const Skip& s : want.skips) {
        counts[s.key] = s.count;
        if (!s.lines.empty()) {
          EXPECT_EQ(f["skipped"][s.key]["lines"].nums(), s.lines) << s.key;
        }
      }
      for (SkipReason reason :
           {SkipReason::NoCoordinates, SkipReason::NoName, SkipReason::Filtered,
            SkipReason::FewFields, SkipReason::UnpairedQuote, SkipReason::Unreadable}) {
        const std::string key(SkipReasonKey(reason));
        EXPECT_EQ(f["skipped"][key]["count"].num(), counts[key]) << key << "\n" << r.out;
      }
      for (NameChange change : {NameChange::Cut, NameChange::Unique, NameChange::Replaced}) {
        const std::string key(NameChangeKey(change));
        const auto it = want.names.find(key);
        EXPECT_EQ(f["names"][key].num(), it == want.names.end() ? 0 : it->second) << key;
      }
      EXPECT_EQ(f["hints"].strs(), want.hints);
    }
  }
}

// A list that stops at a missing item tells what each item before it did,
// the item it stopped at, and how many it never read.
TEST(RunReport, AStoppedListTellsWhereItStopped) {
  test::TempDir dir;
  WriteFile(dir / "a.csv", "1,2,\"A\"\r\n");
  WriteFile(dir / "b.csv", "1,2,\"B\"\r\n");
  const Ran r = RunIn(dir, {"--report=json", "a.csv;gone.csv;b.csv"});
  EXPECT_EQ(r.status, 1);
  const Json doc = JsonParser(r.out).Document();
  EXPECT_EQ(doc["status"].str(), "stopped");
  EXPECT_EQ(doc["not-started"].num(), 1);
  ASSERT_EQ(doc["files"].size(), 2u);
  EXPECT_EQ(doc["files"][0]["outcome"].str(), "converted");
  EXPECT_EQ(doc["files"][0]["written"].num(), 1);
  EXPECT_TRUE(doc["files"][1]["input"].str().ends_with("gone.csv"));
  EXPECT_EQ(doc["files"][1]["outcome"].str(), "stopped");
  EXPECT_EQ(doc["files"][1]["read"].num(), 0);
}

// A check reads and counts as a run does, and leaves the folder as it was:
// no output, no temporary, not even where the run would replace a file. It
// stops where the run stops, with the same word.
TEST(RunReport, CheckWritesNothingAndCountsAsTheRunWould) {
  struct Case {
    std::string what;
    std::vector<std::string> args;
    std::string readOnly = "";  // a target marked read-only
  } cases[] = {
      {"gpx", {"t.gpx"}},
      {"gpx to a read-only target", {"/p", "ro.zvp"}, "ro.csv"},
      {"gpx into a missing folder", {"/p", "gone.zvp"}},
      {"csv to a read-only target", {"/r", "q.csv"}, "q.GPX"},
      {"csv into a missing folder", {"/p", "gone-gpx.zvp"}},
      {"csv", {"/r", "p.csv"}},
      {"list", {"p.csv;q.csv"}},
      {"profile naming files by category", {"/p", "c.zvp"}},
      {"pattern into one GPX", {"/p", "all.zvp"}},
      {"a plan stop: a GPX output named by a pattern", {"/r", "*.csv"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    WriteFile(dir / "t.gpx", kGpx);
    WriteFile(dir / "p.csv", kCsv);
    WriteFile(dir / "q.csv", "1,2,\"Q\"\r\n");
    WriteFile(dir / "p.GPX", "an older output, to be left alone");
    WriteFile(dir / "c.zvp",
              "[Profile]\r\nInput=t.gpx\r\nOutput=*.csv\r\nGenerateCSVFileName=<W>\r\n");
    WriteFile(dir / "all.zvp", "[Profile]\r\nInput=*.csv\r\nOutput=all.gpx\r\n");
    WriteFile(dir / "ro.zvp", "[Profile]\r\nInput=t.gpx\r\nOutput=ro.csv\r\n");
    WriteFile(dir / "gone.zvp", "[Profile]\r\nInput=t.gpx\r\nOutput=gone/t.csv\r\n");
    WriteFile(dir / "gone-gpx.zvp", "[Profile]\r\nInput=q.csv\r\nOutput=gone/q.gpx\r\n");
    if (!c.readOnly.empty()) {
      WriteFile(dir / c.readOnly, "kept as it is");
      std::filesystem::permissions(dir / c.readOnly, std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::group_read |
                                                         std::filesystem::perms::others_read);
    }
    const auto before = Snapshot(dir);

    std::vector<std::string> args = {"--check", "--report=json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Ran check = RunIn(dir, args);
    EXPECT_EQ(Snapshot(dir), before);

    args.erase(args.begin());  // the same, for real
    const Ran run = RunIn(dir, args);
    EXPECT_EQ(check.status, run.status);
    EXPECT_EQ(check.err, run.err);  // the same messages
    Json checked = JsonParser(check.out).Document(), ran = JsonParser(run.out).Document();
    EXPECT_TRUE(checked["check"].flag());
    EXPECT_EQ(checked["entries"].num(), ran["entries"].num());
    EXPECT_EQ(checked["outputs"].num(), ran["outputs"].num());
    if (c.readOnly.empty() && !c.what.ends_with("missing folder")) {
      EXPECT_EQ(ran["outputs"].num() == 0, run.status == 1);  // only the stop writes nothing
    } else {
      EXPECT_EQ(ran["outputs"].num(), 0);
      EXPECT_NE(run.err.find(c.readOnly.empty() ? "gone" : "read-only"), std::string::npos)
          << run.err;
    }
    // Apart from "check", the documents agree.
    std::string a = check.out, b = run.out;
    a.replace(0, std::string("{\"check\":true").size(), "{\"check\":false");
    EXPECT_EQ(a, b);
  }
}

// "--check" or "--report" without a file is a command line missing its file:
// it stops with a word and the usage, and never opens the window.
TEST(RunReport, AnOptionWithoutAFileStopsWithTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--check"}, {"--report"}, {"--report=json", "/r"}, {"--check", "/p"}, {"--report=xml"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(args.front());
    test::TempDir dir;
    const Ran r = RunIn(dir, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("marklode: --check and --report need a file")) << r.err;
    EXPECT_NE(r.err.find("Usage"), std::string::npos) << r.err;
  }
}

TEST(RunReport, TextLinesOnStderrAndNothingWithoutTheOption) {
  test::TempDir dir;
  WriteFile(dir / "t.gpx", kGpx);
  const std::string messages =
      "Marklode: Invalid lon/lat for: Bad.  Skipping...\n"
      "Marklode: 1 waypoint without a name was skipped.\n";
  Ran r = RunIn(dir, {"t.gpx"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, messages);

  r = RunIn(dir, {"--report", "t.gpx"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, messages +
                       "t.gpx: 4 read, 2 written\n"
                       "t.gpx: 1 skipped, no valid coordinates (line 4)\n"
                       "t.gpx: 1 skipped, no name (line 5)\n"
                       "t.gpx: 1 name cut to the length limit\n");

  WriteFile(dir / "q.csv", "1,2,\"X\"\r\n1,2,\"A\r\nB\"\r\n9,99,\"C\"\r\n");
  r = RunIn(dir, {"--check", "/r", "q.csv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir / "q.GPX"));
  EXPECT_TRUE(
      r.err.ends_with("Check only: nothing was written.\n"
                      "q.csv: 4 read, 2 to write\n"
                      "q.csv: 1 skipped, no valid coordinates (line 4)\n"
                      "q.csv: 1 skipped, fewer than three fields (line 3)\n"
                      "q.csv: 1 skipped, unpaired quote (line 2)\n"
                      "q.csv: hint: latitude and longitude look swapped\n"))
      << r.err;

  r = RunIn(dir, {"--report=yaml", "t.gpx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace marklode
