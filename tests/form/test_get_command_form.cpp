#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <ostream>
#include <set>

#include "engine/profiles.h"
#include "engine/reports.h"
#include "form_fixture.h"
#include "services/platform.h"
#include "services/version.h"

namespace marklode::test {
namespace {

using Stored = std::map<std::string, std::string>;

// ---------------------------------------------------------------------------
// The design

TEST(FormDesign, ListsTheControlsInTabOrderInsideTheClientArea) {
  const std::vector<Ctl> tabOrder = {Ctl::GpxToPoi,     Ctl::PoiToGpx,     Ctl::InputCaption,
                                     Ctl::InputField,   Ctl::BrowseInput,  Ctl::OutputCaption,
                                     Ctl::OutputField,  Ctl::BrowseOutput, Ctl::Convert,
                                     Ctl::Close,        Ctl::UseProfile,   Ctl::ProfileCaption,
                                     Ctl::ProfileField, Ctl::BrowseProfile};
  ASSERT_EQ(kControlDesign.size(), tabOrder.size());
  std::set<std::string> names;
  for (std::size_t i = 0; i < tabOrder.size(); ++i) {
    const ControlDesign& d = kControlDesign[i];
    SCOPED_TRACE(d.name);
    EXPECT_EQ(d.id, tabOrder[i]);
    EXPECT_EQ(&DesignOf(d.id), &d);
    EXPECT_TRUE(names.insert(d.name).second);
    EXPECT_GT(d.width, 0);
    EXPECT_GT(d.height, 0);
    EXPECT_LE(d.left + d.width, kDesignClientWidth);
    EXPECT_LE(d.top + d.height, kDesignClientHeight);
    EXPECT_GT(d.top, kSeparatorTop);
    // A label captions the field that follows it and ends before that field.
    if (d.kind == CtlKind::Label) {
      ASSERT_LT(i + 1, tabOrder.size());
      const ControlDesign& field = kControlDesign[i + 1];
      EXPECT_EQ(field.kind, CtlKind::Field);
      EXPECT_LE(d.left + d.width, field.left);
      EXPECT_NE(std::string(d.caption).find('&'), std::string::npos);
    }
    EXPECT_EQ(d.kind == CtlKind::Field, *d.caption == '\0');
  }
}

TEST(FormDesign, MnemonicsAreUniqueAndClearOfTheMenus) {
  std::set<char> used = {'f', 'o', 'h'};  // File, Options, Help
  for (const ControlDesign& d : kControlDesign) {
    const char* amp = std::strchr(d.caption, '&');
    if (amp == nullptr) continue;
    SCOPED_TRACE(d.name);
    EXPECT_TRUE(used.insert(char(std::tolower(static_cast<unsigned char>(amp[1])))).second);
  }
}

// ---------------------------------------------------------------------------
// Modes: what the store brings back and what each mode enables

struct ModeCase {
  const char* name;
  Stored stored;
  // Expected state after Load.
  Ctl mode;
  std::string text1, text2, text3;
  bool profile;  // InputField/BrowseInput/options off, ProfileField/BrowseProfile on
  bool list;     // OutputField and BrowseOutput off, OutputField generated
  bool lineBreaks;
};

void PrintTo(const ModeCase& c, std::ostream* os) {
  *os << c.name;
}

class FormModes : public ::testing::TestWithParam<std::tuple<ModeCase, bool>> {};

void ExpectMode(const FakeView& v, const ModeCase& c) {
  auto is = [&v](Ctl id) { return v.controls.at(id); };
  EXPECT_EQ(is(Ctl::GpxToPoi).checked, c.mode == Ctl::GpxToPoi);
  EXPECT_EQ(is(Ctl::PoiToGpx).checked, c.mode == Ctl::PoiToGpx);
  EXPECT_EQ(is(Ctl::InputField).text, c.text1);
  EXPECT_EQ(is(Ctl::OutputField).text, c.text2);
  EXPECT_EQ(is(Ctl::ProfileField).text, c.text3);
  EXPECT_EQ(is(Ctl::UseProfile).checked, c.profile);
  EXPECT_EQ(is(Ctl::KeepCommentLineBreaks).checked, c.lineBreaks);
  for (Ctl id : {Ctl::InputField, Ctl::BrowseInput, Ctl::GpxToPoi, Ctl::PoiToGpx})
    EXPECT_EQ(is(id).enabled, !c.profile) << int(id);
  for (Ctl id : {Ctl::ProfileField, Ctl::BrowseProfile})
    EXPECT_EQ(is(id).enabled, c.profile) << int(id);
  const bool outputOn = !c.profile && !c.list;
  EXPECT_EQ(is(Ctl::OutputField).enabled, outputOn);
  EXPECT_EQ(is(Ctl::BrowseOutput).enabled, outputOn);
  EXPECT_EQ(is(Ctl::InputField).look, c.profile ? FieldLook::Window : FieldLook::Editable);
  EXPECT_EQ(is(Ctl::OutputField).look, outputOn ? FieldLook::Editable : FieldLook::Window);
  EXPECT_EQ(is(Ctl::ProfileField).look, c.profile ? FieldLook::Editable : FieldLook::Window);
}

TEST_P(FormModes, LoadShowsTheStoredMode) {
  const auto& [c, echo] = GetParam();
  FormFixture f;
  f.Load(c.stored, echo);
  ExpectMode(f.view, c);
  // A long path shows its end.
  for (Ctl id : {Ctl::InputField, Ctl::ProfileField})
    EXPECT_TRUE(f.view.controls[id].caretAtEnd || f.view.controls[id].text.empty());
}

const Stored kBothModes = {{"InFileGPX", "/g/in.gpx"},
                           {"OutFileGPX", "/g/out.csv"},
                           {"InFilePOI", "/p/in.csv"},
                           {"OutFilePOI", "/p/out.gpx"},
                           {"ProfileFile", "/z/p.zvp"}};

Stored With(Stored base, Stored more) {
  for (auto& [k, v] : more) base[k] = v;
  return base;
}

const ModeCase kModeCases[] = {
    {"Fresh", {}, Ctl::GpxToPoi, "", "", "", false, false, false},
    {"GpxMode", With(kBothModes, {{"ModeGPX", "True"}}), Ctl::GpxToPoi, "/g/in.gpx", "/g/out.csv",
     "/z/p.zvp", false, false, false},
    {"PoiMode", With(kBothModes, {{"ModeGPX", "False"}}), Ctl::PoiToGpx, "/p/in.csv", "/p/out.gpx",
     "/z/p.zvp", false, false, false},
    {"GpxList",
     {{"InFileGPX", "/g/a.gpx;b.gpx"}, {"OutFileGPX", "/g/out.csv"}},
     Ctl::GpxToPoi,
     "/g/a.gpx;b.gpx",
     "Same as input but with .CSV",
     "",
     false,
     true,
     false},
    {"PoiList",
     {{"ModeGPX", "False"}, {"InFilePOI", "/p/a.csv;b.csv"}},
     Ctl::PoiToGpx,
     "/p/a.csv;b.csv",
     "Same as input but with .GPX",
     "",
     false,
     true,
     false},
    {"ProfileMode", With(kBothModes, {{"ProfileMode", "True"}}), Ctl::GpxToPoi, "/g/in.gpx",
     "/g/out.csv", "/z/p.zvp", true, false, false},
    // The stored output stays: a profile's run names its own.
    {"ProfileModeOverList",
     {{"ProfileMode", "True"}, {"InFileGPX", "/g/a.gpx;b.gpx"}},
     Ctl::GpxToPoi,
     "/g/a.gpx;b.gpx",
     "",
     "",
     true,
     true,
     false},
    {"LineBreaks",
     {{"KeepCommentLineBreak", "True"}},
     Ctl::GpxToPoi,
     "",
     "",
     "",
     false,
     false,
     true},
};

INSTANTIATE_TEST_SUITE_P(Stores, FormModes,
                         ::testing::Combine(::testing::ValuesIn(kModeCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_Echoed" : "_Silent");
                         });

// Switching the mode reloads the fields of the other mode; a list's generated
// output gives way to the stored output of a single input.
TEST(FormModeSwitch, ReloadsTheOtherModesFields) {
  for (bool echo : {false, true}) {
    SCOPED_TRACE(echo);
    FormFixture f;
    f.Load(
        {{"InFileGPX", "/g/a.gpx;b.gpx"}, {"InFilePOI", "/p/in.csv"}, {"OutFilePOI", "/p/out.gpx"}},
        echo);
    f.view.ClickOption(Ctl::PoiToGpx);
    ExpectMode(f.view, {"", {}, Ctl::PoiToGpx, "/p/in.csv", "/p/out.gpx", "", false, false, false});
    f.view.ClickOption(Ctl::GpxToPoi);
    ExpectMode(f.view, {"",
                        {},
                        Ctl::GpxToPoi,
                        "/g/a.gpx;b.gpx",
                        "Same as input but with .CSV",
                        "",
                        false,
                        true,
                        false});
  }
}

TEST(FormModeSwitch, ProfileBoxTogglesTheFieldsAndIsStored) {
  FormFixture f;
  f.Load({{"InFileGPX", "/g/a.gpx;b.gpx"}});
  f.view.ClickCheck1();
  EXPECT_EQ(f.Stored("ProfileMode"), "True");
  ExpectMode(f.view, {"",
                      {},
                      Ctl::GpxToPoi,
                      "/g/a.gpx;b.gpx",
                      "Same as input but with .CSV",
                      "",
                      true,
                      true,
                      false});
  f.view.ClickCheck1();
  EXPECT_EQ(f.Stored("ProfileMode"), "False");
  ExpectMode(f.view, {"",
                      {},
                      Ctl::GpxToPoi,
                      "/g/a.gpx;b.gpx",
                      "Same as input but with .CSV",
                      "",
                      false,
                      true,
                      false});
}

// Typing a ";" makes the output generated; taking it away empties the output
// for the user to fill, rather than leaving the generated text to be taken
// for a file name.
TEST(FormModeSwitch, TypedListTurnsTheOutputOffAndBack) {
  FormFixture f;
  f.Load({{"OutFileGPX", "/g/out.csv"}});
  f.view.Type(Ctl::InputField, "/g/a.gpx;b.gpx");
  EXPECT_FALSE(f.view.Enabled(Ctl::OutputField));
  EXPECT_EQ(f.view.Text(Ctl::OutputField), "Same as input but with .CSV");
  f.view.Type(Ctl::InputField, "/g/a.gpx");
  EXPECT_TRUE(f.view.Enabled(Ctl::OutputField));
  EXPECT_TRUE(f.view.Enabled(Ctl::BrowseOutput));
  EXPECT_EQ(f.view.Text(Ctl::OutputField), "");
  EXPECT_EQ(f.view.controls[Ctl::OutputField].look, FieldLook::Editable);
  // A single input typed over a single input leaves the output alone.
  f.view.Type(Ctl::OutputField, "/g/mine.csv");
  f.view.Type(Ctl::InputField, "/g/b.gpx");
  EXPECT_EQ(f.view.Text(Ctl::OutputField), "/g/mine.csv");
}

TEST(FormModeSwitch, LineBreakItemIsStored) {
  FormFixture f;
  f.Load();
  for (bool on : {true, false}) {
    f.view.controls[Ctl::KeepCommentLineBreaks].checked = on;
    f.form.LineBreakToggled();
    EXPECT_EQ(f.Stored("KeepCommentLineBreak"), on ? "True" : "False");
  }
}

// ---------------------------------------------------------------------------
// Convert

// Each refusal leaves the window open, stores nothing and hands nothing on.
struct Refusal {
  const char* name;
  std::function<void(FormFixture&)> setUp;
  std::function<std::string(FormFixture&)> message;  // the one box shown last
  int boxes;                                         // how many boxes in all
};

void PrintTo(const Refusal& r, std::ostream* os) {
  *os << r.name;
}

class FormConvertRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(FormConvertRefuses, WithTheFirstFaultsMessage) {
  const Refusal& r = GetParam();
  FormFixture f;
  f.Load();
  r.setUp(f);
  const auto storedBefore = f.settings.values;
  const auto listingBefore = Listing(f.dir.path());
  f.form.Convert();
  EXPECT_EQ(f.messages.boxes.size(), std::size_t(r.boxes)) << f.messages.Joined();
  EXPECT_EQ(f.LastMessage(), r.message(f));
  EXPECT_EQ(f.view.closed, 0);
  EXPECT_EQ(f.settings.values, storedBefore);
  EXPECT_FALSE(f.ctx.request);
  EXPECT_EQ(Listing(f.dir.path()), listingBefore);  // no output left behind
}

void Set(FormFixture& f, Ctl field, const std::string& text) {
  f.view.Type(field, text);
}
void Poi(FormFixture& f) {
  f.view.ClickOption(Ctl::PoiToGpx);
}
void Profile(FormFixture& f, const std::string& file) {
  f.view.ClickCheck1();
  f.settings.values.clear();  // what Convert stores is what counts
  Set(f, Ctl::ProfileField, file);
}
auto Says(std::string text) {
  return [text](FormFixture&) { return text; };
}

const Refusal kRefusals[] = {
    {"NoInput", [](FormFixture& f) { Set(f, Ctl::OutputField, f.dir / "out.csv"); },
     Says("File name must be provided!"), 1},
    {"NoOutput", [](FormFixture& f) { Set(f, Ctl::InputField, f.File("in.gpx")); },
     Says("File name must be provided!"), 1},
    {"NoProfileName", [](FormFixture& f) { Profile(f, ""); }, Says("File name must be provided!"),
     1},
    {"MissingProfile", [](FormFixture& f) { Profile(f, f.dir / "none.zvp"); },
     Says(std::string(kCantOpenProfile)), 1},
    // The pattern is refused before the input is looked for.
    {"WildcardGpxOutput",
     [](FormFixture& f) {
       Poi(f);
       Set(f, Ctl::InputField, f.dir / "missing.csv");
       Set(f, Ctl::OutputField, f.dir / "*.gpx");
     },
     [](FormFixture& f) { return std::string(kWildcardGpxOutput) + (f.dir / "*.gpx"); }, 1},
    {"QuestionMarkGpxOutput",
     [](FormFixture& f) {
       Poi(f);
       Set(f, Ctl::InputField, f.File("in.csv"));
       Set(f, Ctl::OutputField, f.dir / "o?.gpx");
     },
     [](FormFixture& f) { return std::string(kWildcardGpxOutput) + (f.dir / "o?.gpx"); }, 1},
    // An output that would replace its input is refused as the conversion
    // would stop on it; so is a list item's GPX output named by a pattern.
    {"GpxOutputIsItsInput",
     [](FormFixture& f) {
       Poi(f);
       Set(f, Ctl::InputField, f.File("in.csv"));
       Set(f, Ctl::OutputField, f.dir / "in.csv");
     },
     [](FormFixture& f) {
       return std::string(kCantCreateOutput) + (f.dir / "in.csv") + std::string(kOwnInputReason);
     },
     1},
    {"GpxOutputIsOneOfThePatternsFiles",
     [](FormFixture& f) {
       Poi(f);
       f.File("a.csv");
       f.File("b.csv");
       Set(f, Ctl::InputField, f.dir / "*.csv");
       Set(f, Ctl::OutputField, f.dir / "b.csv");
     },
     [](FormFixture& f) {
       return std::string(kCantCreateOutput) + (f.dir / "b.csv") + std::string(kOwnInputReason);
     },
     1},
    {"ListItemWhoseOutputIsItsInput",
     [](FormFixture& f) {
       f.File("a.gpx");
       f.File("b.CSV");
       Set(f, Ctl::InputField, f.dir / "a.gpx;b.CSV");
     },
     [](FormFixture& f) {
       return std::string(kCantCreateOutput) + (f.dir / "b.CSV") + std::string(kOwnInputReason);
     },
     2},
    {"ListItemNamedByAPattern",
     [](FormFixture& f) {
       Poi(f);
       f.File("a.csv");
       f.File("bx.csv");
       Set(f, Ctl::InputField, f.dir / "a.csv;b?.csv");
     },
     [](FormFixture& f) { return std::string(kWildcardGpxOutput) + (f.dir / "b?.GPX"); }, 2},
    {"ListOverwriteCancelled",
     [](FormFixture& f) {
       Set(f, Ctl::InputField, f.File("a.gpx") + ";b.gpx");
       f.messages.answers = {kButtonCancel};
     },
     Says("The output file names will be automatically generated from the input file names.  "
          "Any existing files will be overwitten."),
     1},
    {"MissingInput",
     [](FormFixture& f) {
       Set(f, Ctl::InputField, f.dir / "none.gpx");
       Set(f, Ctl::OutputField, f.dir / "nofolder/out.csv");
     },
     [](FormFixture& f) { return "Can't find input file -- " + (f.dir / "none.gpx"); }, 1},
    {"MissingListItem",
     [](FormFixture& f) {
       f.File("a.gpx");
       Set(f, Ctl::InputField, f.dir / "a.gpx;b.gpx");
     },
     [](FormFixture& f) { return "Can't find input file -- " + (f.dir / "b.gpx"); }, 2},
    {"OutputInMissingFolder",
     [](FormFixture& f) {
       Set(f, Ctl::InputField, f.File("in.gpx"));
       Set(f, Ctl::OutputField, f.dir / "nofolder/out.csv");
     },
     [](FormFixture& f) { return std::string(kCantCreateOutput) + (f.dir / "nofolder/out.csv"); },
     1},
    {"OutputIsAFolder",
     [](FormFixture& f) {
       Set(f, Ctl::InputField, f.File("in.gpx"));
       Set(f, Ctl::OutputField, f.dir.path());
     },
     [](FormFixture& f) { return std::string(kCantCreateOutput) + f.dir.path(); }, 1},
    {"ReadOnlyOutput",
     [](FormFixture& f) {
       Set(f, Ctl::InputField, f.File("in.gpx"));
       const std::string out = f.File("out.csv", "kept");
       std::filesystem::permissions(test::FsPath(out),
                                    std::filesystem::perms::owner_write |
                                        std::filesystem::perms::group_write |
                                        std::filesystem::perms::others_write,
                                    std::filesystem::perm_options::remove);
       Set(f, Ctl::OutputField, out);
     },
     [](FormFixture& f) {
       return std::string(kCantCreateOutput) + (f.dir / "out.csv") + std::string(kReadOnlyReason);
     },
     1},
    {"ReverseSwitch",
     [](FormFixture& f) {
       f.ctx.ReverseSwitch = true;
       Set(f, Ctl::InputField, f.File("in.gpx"));
       Set(f, Ctl::OutputField, f.dir / "out.csv");
     },
     [](FormFixture& f) { return std::string(kCantCreateOutput) + (f.dir / "out.csv"); }, 1},
};

INSTANTIATE_TEST_SUITE_P(Faults, FormConvertRefuses, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FormConvert, SingleFileIsHandedOnAndStored) {
  FormFixture f;
  f.Load();
  const std::string in = f.File("in.gpx");
  const std::string kept = f.File("kept.csv", "old content");
  for (const std::string& out : {f.dir / "new.csv", kept}) {
    SCOPED_TRACE(out);
    f.view.closed = 0;
    f.view.controls[Ctl::KeepCommentLineBreaks].checked = true;
    f.view.Type(Ctl::InputField, in);
    f.view.Type(Ctl::OutputField, out);
    f.form.Convert();
    EXPECT_TRUE(f.messages.boxes.empty()) << f.messages.Joined();
    EXPECT_EQ(f.view.closed, 1);
    ASSERT_TRUE(f.ctx.request);
    EXPECT_EQ(f.ctx.request->direction, Direction::GpxToPoi);
    EXPECT_TRUE(f.ctx.request->keepCommentLineBreaks);
    EXPECT_EQ(f.ctx.request->input, in);
    EXPECT_EQ(f.ctx.request->output, out);
    EXPECT_EQ(f.Stored("ModeGPX"), "True");
    EXPECT_EQ(f.Stored("InFileGPX"), in);
    EXPECT_EQ(f.Stored("OutFileGPX"), out);
  }
  // The check that the output can be written leaves no file and no change.
  EXPECT_FALSE(Exists(f.dir / "new.csv"));
  EXPECT_EQ(ReadFile(kept), "old content");
}

// Names that differ in case are one file only where the system takes them
// so; a GPX input may be replaced by its own POI-CSV, which takes its place
// once it is read.
TEST(FormConvert, AnOutputIsItsInputOnlyWhereTheSystemSaysSo) {
  const struct {
    bool poi;
    const char* input;
    const char* output;
    bool refusedOnPosix, refusedOnWindows;
  } cases[] = {
      {true, "in.csv", "IN.CSV", false, true},
      {true, "in.csv", "in.csv", true, true},
      {false, "a.gpx;p.csv", "", false, true},  // "p.csv" gives "p.CSV"
      {false, "trip.gpx", "trip.gpx", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " -> " + c.output);
    FormFixture f;
    f.Load();
    if (c.poi) Poi(f);
    f.File("in.csv");
    f.File("a.gpx");
    f.File("p.csv");
    f.File("trip.gpx");
    Set(f, Ctl::InputField, f.dir / c.input);
    if (*c.output) Set(f, Ctl::OutputField, f.dir / c.output);
    f.form.Convert();
    const bool refused = kHostPathRule == PathRule::Windows ? c.refusedOnWindows : c.refusedOnPosix;
    EXPECT_EQ(f.view.closed, refused ? 0 : 1) << f.messages.Joined();
    EXPECT_EQ(f.LastMessage().ends_with(kOwnInputReason), refused) << f.LastMessage();
  }
}

TEST(FormConvert, PoiModeStoresUnderItsOwnNames) {
  FormFixture f;
  f.Load({{"InFileGPX", "/g/in.gpx"}});
  f.view.ClickOption(Ctl::PoiToGpx);
  const std::string in = f.File("in.csv");
  f.view.Type(Ctl::InputField, in);
  f.view.Type(Ctl::OutputField, f.dir / "out.gpx");
  f.form.Convert();
  EXPECT_EQ(f.view.closed, 1);
  ASSERT_TRUE(f.ctx.request);
  EXPECT_EQ(f.ctx.request->direction, Direction::PoiToGpx);
  EXPECT_EQ(f.Stored("ModeGPX"), "False");
  EXPECT_EQ(f.Stored("InFilePOI"), in);
  EXPECT_EQ(f.Stored("OutFilePOI"), f.dir / "out.gpx");
  EXPECT_EQ(f.Stored("InFileGPX"), "/g/in.gpx");
}

// A list asks once; leaving the output field asks again. The generated output
// text is never stored.
TEST(FormConvert, ListAsksOnceUntilTheOutputFieldIsLeft) {
  FormFixture f;
  f.Load();
  f.File("a.gpx");
  f.File("b.gpx");
  const std::string list = f.dir / "a.gpx;b.gpx";
  f.view.Type(Ctl::InputField, list);
  f.form.Convert();
  ASSERT_EQ(f.messages.boxes.size(), 1u);
  EXPECT_EQ(f.messages.boxes[0].kind, MessageKind::Question);
  EXPECT_TRUE(f.ctx.OverwriteConfirmed);
  EXPECT_EQ(f.view.closed, 1);
  ASSERT_TRUE(f.ctx.request);
  EXPECT_EQ(f.ctx.request->input, list);
  EXPECT_EQ(f.ctx.request->output, "");  // each item's own, beside it
  EXPECT_EQ(f.Stored("InFileGPX"), list);
  EXPECT_EQ(f.Stored("OutFileGPX"), "<none>");
  EXPECT_FALSE(Exists(f.dir / "a.CSV"));

  f.form.Convert();
  EXPECT_EQ(f.messages.boxes.size(), 1u);
  f.form.OutputFocusLost();
  EXPECT_FALSE(f.ctx.OverwriteConfirmed);
  f.form.Convert();
  EXPECT_EQ(f.messages.boxes.size(), 2u);
}

// Empty items of a list ("a.gpx;;b.gpx;") are no items, for the checks as
// for the run that follows.
TEST(FormConvert, EmptyListItemsAreNoItems) {
  FormFixture f;
  f.Load();
  f.File("a.gpx");
  f.File("b.gpx");
  f.view.Type(Ctl::InputField, f.dir / "a.gpx;;b.gpx;");
  f.form.Convert();
  EXPECT_EQ(f.view.closed, 1) << f.messages.Joined();
  ASSERT_EQ(f.messages.boxes.size(), 1u);  // the question a list asks
  EXPECT_EQ(f.messages.boxes[0].kind, MessageKind::Question);
}

// What is a list is decided as the batch decides it: a ";" in the folder makes
// one of a single name, converted beside it.
TEST(FormConvert, FolderHoldingASemicolonMakesAList) {
  FormFixture f;
  f.Load();
  std::filesystem::create_directory(test::FsPath(f.dir / "x;y"));
  const std::string item = f.File("x;y/a.gpx");
  f.view.Type(Ctl::InputField, item);
  EXPECT_FALSE(f.view.Enabled(Ctl::OutputField));
  f.form.Convert();
  ASSERT_EQ(f.messages.boxes.size(), 1u);
  EXPECT_EQ(f.messages.boxes[0].kind, MessageKind::Question);
  EXPECT_EQ(f.view.closed, 1);
  ASSERT_TRUE(f.ctx.request);
  EXPECT_EQ(f.ctx.request->input, item);
  EXPECT_EQ(f.Stored("OutFileGPX"), "<none>");
}

TEST(FormConvert, ProfileIsHandedOnAndStored) {
  FormFixture f;
  f.Load({{"ProfileMode", "True"}});
  // Found as the profile reader finds it, in any letter case.
  const std::string typed = f.dir / "P.ZVP";
  f.File("p.zvp");
  f.view.Type(Ctl::ProfileField, typed);
  // The fields of the other mode are not looked at.
  f.view.Type(Ctl::InputField, "");
  f.form.Convert();
  EXPECT_TRUE(f.messages.boxes.empty()) << f.messages.Joined();
  EXPECT_EQ(f.view.closed, 1);
  ASSERT_TRUE(f.ctx.request);
  EXPECT_EQ(f.ctx.request->profile, f.dir / "p.zvp");  // as the folder spells it
  EXPECT_EQ(f.Stored("ProfileFile"), typed);
  EXPECT_EQ(f.Stored("InFileGPX"), "<none>");
}

// Paths pasted with Explorer's "Copy as path" come with quotes: one pair is
// taken off each field, as the planner takes it off, and not stored.
TEST(FormConvert, PastedPathsLoseTheirQuotes) {
  FormFixture f;
  f.Load();
  const std::string in = f.File("in.gpx");
  f.view.Type(Ctl::InputField, "\"" + in + "\"");
  f.view.Type(Ctl::OutputField, "\"" + f.dir / "new.csv" + "\"");
  f.form.Convert();
  EXPECT_TRUE(f.messages.boxes.empty()) << f.messages.Joined();
  ASSERT_TRUE(f.ctx.request);
  EXPECT_EQ(f.ctx.request->input, in);
  EXPECT_EQ(f.ctx.request->output, f.dir / "new.csv");
  EXPECT_EQ(f.Stored("InFileGPX"), in);
  EXPECT_EQ(f.Stored("OutFileGPX"), f.dir / "new.csv");

  const std::string profile = f.File("p.zvp");
  f.view.ClickCheck1();
  f.view.Type(Ctl::ProfileField, "\"" + profile + "\"");
  f.form.Convert();
  EXPECT_TRUE(f.messages.boxes.empty()) << f.messages.Joined();
  ASSERT_TRUE(f.ctx.request);
  EXPECT_EQ(f.ctx.request->profile, profile);
  EXPECT_EQ(f.Stored("ProfileFile"), profile);
}

TEST(FormConvert, CloseAndExitLeaveNoRequest) {
  FormFixture f;
  f.Load();
  f.ctx.request = Request{};
  f.form.Cancel();
  EXPECT_EQ(f.view.closed, 1);
  EXPECT_FALSE(f.ctx.request);
  f.form.Exit();
  EXPECT_EQ(f.view.closed, 2);
  EXPECT_TRUE(f.messages.boxes.empty());
}

// ---------------------------------------------------------------------------
// File choosers

struct ChooserCase {
  const char* name;
  bool poi;
  void (GetCommandForm::*choose)();
  Ctl field;           // the field it fills
  std::string before;  // in that field
  std::string other;   // OutputField for the input chooser
  FileDialogRequest want;
};

void PrintTo(const ChooserCase& c, std::ostream* os) {
  *os << c.name;
}

class FormChoosers : public ::testing::TestWithParam<ChooserCase> {};

constexpr unsigned kOpenMany =
    kDlgHideReadOnly | kDlgAllowMultiSelect | kDlgFileMustExist | kDlgExplorer | kDlgLongNames;
constexpr unsigned kSave =
    kDlgOverwritePrompt | kDlgHideReadOnly | kDlgPathMustExist | kDlgLongNames;
constexpr unsigned kOpenOne = kDlgHideReadOnly | kDlgFileMustExist | kDlgExplorer | kDlgLongNames;
const std::string kS(1, kSep);
const std::string kGpx = "GPX Files (*.GPX)|*.GPX|All Files (*.*)|*.*";
const std::string kCsv = "CSV Files (*.CSV)|*.CSV|All Files (*.*)|*.*";
const std::string kZvp = "ZVP Files (*.ZVP)|*.ZVP|All Files (*.*)|*.*";
// GPX to POI-CSV reads KML, KMZ and GeoJSON too.
const std::string kWaypoints =
    "Waypoint Files (*.GPX;*.KML;*.KMZ;*.GEOJSON;*.JSON)|*.GPX;*.KML;*.KMZ;*.GEOJSON;*.JSON|"
    "GPX Files (*.GPX)|*.GPX|KML Files (*.KML;*.KMZ)|*.KML;*.KMZ|"
    "GeoJSON Files (*.GEOJSON;*.JSON)|*.GEOJSON;*.JSON|All Files (*.*)|*.*";

const ChooserCase kChooserCases[] = {
    {"InputGpxEmpty",
     false,
     &GetCommandForm::ChooseInput,
     Ctl::InputField,
     "",
     "",
     {false, "Select file for input", kWaypoints, "", "*.GPX", kOpenMany}},
    {"InputPoiFromOutputsFolder",
     true,
     &GetCommandForm::ChooseInput,
     Ctl::InputField,
     "in.csv",
     kS + "o" + kS + "out.gpx",
     {false, "Select file for input", kCsv, kS + "o", "in.csv", kOpenMany}},
    {"OutputGpxMode",
     false,
     &GetCommandForm::ChooseOutput,
     Ctl::OutputField,
     "",
     "",
     {true, "Select file for output", kCsv, "", "*.CSV", kSave}},
    {"OutputPoiMode",
     true,
     &GetCommandForm::ChooseOutput,
     Ctl::OutputField,
     kS + "o" + kS + "x.gpx",
     "",
     {true, "Select file for output", kGpx, kS + "o", kS + "o" + kS + "x.gpx", kSave}},
    {"ProfileEmpty",
     false,
     &GetCommandForm::ChooseProfile,
     Ctl::ProfileField,
     "",
     "",
     {false, "Select conversion profile", kZvp, "", "*.ZVP", kOpenOne}},
    // A name without a folder is handed over as the folder too: the toolkit
    // falls back to the current directory.
    {"ProfileBareName",
     false,
     &GetCommandForm::ChooseProfile,
     Ctl::ProfileField,
     "p.zvp",
     "",
     {false, "Select conversion profile", kZvp, "p.zvp", "p.zvp", kOpenOne}},
};

void Prepare(FormFixture& f, const ChooserCase& c) {
  f.Load({{"ProfileMode", c.field == Ctl::ProfileField ? "True" : "False"}});
  if (c.poi) f.view.ClickOption(Ctl::PoiToGpx);
  if (c.field == Ctl::InputField) f.view.Type(Ctl::OutputField, c.other);
  f.view.Type(c.field, c.before);
}

TEST_P(FormChoosers, AskForWhatTheModeAndFieldSay) {
  const ChooserCase& c = GetParam();
  FormFixture f;
  Prepare(f, c);
  (f.form.*c.choose)();
  ASSERT_EQ(f.chooser.requests.size(), 1u);
  const FileDialogRequest& got = f.chooser.requests[0];
  EXPECT_EQ(got.save, c.want.save);
  EXPECT_EQ(got.title, c.want.title);
  EXPECT_EQ(got.filter, c.want.filter);
  EXPECT_EQ(got.initialFolder, c.want.initialFolder);
  EXPECT_EQ(got.presetName, c.want.presetName);
  EXPECT_EQ(got.options, c.want.options);
}

// A cancel keeps the field, except the profile's, which takes the preset
// name back; a name with "*" empties the field.
TEST_P(FormChoosers, CancelAndPatternAnswers) {
  const ChooserCase& c = GetParam();
  {
    FormFixture f;
    Prepare(f, c);
    (f.form.*c.choose)();
    const std::string want = c.field == Ctl::ProfileField ? c.want.presetName : c.before;
    EXPECT_EQ(f.view.Text(c.field), want);
    EXPECT_EQ(CurrentDirectory(), f.dir.path());
  }
  {
    FormFixture f;
    Prepare(f, c);
    f.chooser.answers.push_back({false, {}});  // nothing chosen counts as a cancel
    (f.form.*c.choose)();
    EXPECT_EQ(f.view.Text(c.field), c.field == Ctl::ProfileField ? c.want.presetName : c.before);
  }
  if (c.field != Ctl::ProfileField) {
    FormFixture f;
    Prepare(f, c);
    f.chooser.Answer({f.dir / "*.gpx"});
    (f.form.*c.choose)();
    EXPECT_EQ(f.view.Text(c.field), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Requests, FormChoosers, ::testing::ValuesIn(kChooserCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Several files become a list and the current directory moves to their
// folder, where the bare names are found.
TEST(FormChooserAnswers, SelectionJoinsOnlyFilesOfOneFolder) {
  const std::string m = std::string("m") + kPathSep, n = std::string("n") + kPathSep;
  const struct {
    const char* name;
    std::vector<std::string> files;
    std::string joined;
  } cases[] = {
      {"None", {}, ""},
      {"One", {m + "a.gpx"}, m + "a.gpx"},
      {"Three", {m + "a.gpx", m + "b.gpx", m + "c.gpx"}, m + "a.gpx;b.gpx;c.gpx"},
      {"TwoFolders", {m + "a.gpx", n + "b.gpx"}, ""},
      {"SubFolder", {m + "a.gpx", m + "s" + kPathSep + "b.gpx"}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinFileSelection(c.files), c.joined) << c.name;
}

TEST(FormChooserAnswers, InputSelectionBecomesAListInItsFolder) {
  FormFixture f;
  f.Load({{"OutFileGPX", "/g/out.csv"}});
  TempDir other;
  f.chooser.Answer({other / "a.gpx", other / "b.gpx"});
  f.form.ChooseInput();
  EXPECT_EQ(f.view.Text(Ctl::InputField), (other / "a.gpx") + ";b.gpx");
  EXPECT_TRUE(f.view.controls[Ctl::InputField].caretAtEnd);
  EXPECT_EQ(f.view.Text(Ctl::OutputField), "Same as input but with .CSV");
  EXPECT_FALSE(f.view.Enabled(Ctl::BrowseOutput));
  EXPECT_EQ(CurrentDirectory(), other.path());
  // Files of two folders make no list.
  f.chooser.Answer({other / "a.gpx", f.dir / "b.gpx"});
  f.form.ChooseInput();
  EXPECT_EQ(f.view.Text(Ctl::InputField), "");
}

TEST(FormChooserAnswers, OutputAndProfileTakeTheChosenFile) {
  FormFixture f;
  f.Load({{"ProfileMode", "False"}});
  f.chooser.Answer({f.dir / "out.csv"});
  f.form.ChooseOutput();
  EXPECT_EQ(f.view.Text(Ctl::OutputField), f.dir / "out.csv");
  EXPECT_TRUE(f.view.controls[Ctl::OutputField].caretAtEnd);
  f.chooser.Answer({f.dir / "p.zvp"});
  f.form.ChooseProfile();
  EXPECT_EQ(f.view.Text(Ctl::ProfileField), f.dir / "p.zvp");
  EXPECT_TRUE(f.view.controls[Ctl::ProfileField].caretAtEnd);
}

// ---------------------------------------------------------------------------
// Create Profile

TEST(FormCreateProfile, PresetNameTurnsDotsIntoDashes) {
  EXPECT_EQ(ProfilePresetName("Trip.Log.gpx", "CSV"), "Convert Trip-Log-GPX to CSV.ZVP");
  EXPECT_EQ(ProfilePresetName("points.Csv", "GPX"), "Convert points-CSV to GPX.ZVP");
  EXPECT_EQ(ProfilePresetName("a.gpx.b.CSV.x", "CSV"), "Convert a-GPX-b-CSV-x to CSV.ZVP");
  EXPECT_EQ(ProfilePresetName("", "GPX"), "Convert  to GPX.ZVP");  // no file found
}

TEST(FormCreateProfile, IsOfferedForAnExistingInputAndAnOutput) {
  struct Case {
    const char* name;
    std::string text1, text2;
    bool profile, offered;
  };
  FormFixture f;
  f.Load();
  const std::string in = f.File("in.gpx");
  const Case cases[] = {
      {"Ready", in, "out.csv", false, true},
      {"PatternMatchingAFile", f.dir / "*.GPX", "out.csv", false, true},
      {"NoInput", "", "out.csv", false, false},
      {"MissingInput", f.dir / "none.gpx", "out.csv", false, false},
      {"NoOutput", in, "", false, false},
      {"ProfileMode", in, "out.csv", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f.view.controls[Ctl::UseProfile].checked = c.profile;
    f.view.controls[Ctl::InputField].text = c.text1;
    f.view.controls[Ctl::OutputField].text = c.text2;
    f.view.controls[Ctl::CreateProfile].enabled = !c.offered;
    f.form.FileMenuOpening();
    EXPECT_EQ(f.view.Enabled(Ctl::CreateProfile), c.offered);
  }
}

TEST(FormCreateProfile, WritesTheTemplateForTheModeWhereChosen) {
  for (bool poi : {false, true}) {
    SCOPED_TRACE(poi);
    FormFixture f;
    f.Load();
    if (poi) f.view.ClickOption(Ctl::PoiToGpx);
    const std::string in = f.File(poi ? "trip.points.csv" : "trip.gpx");
    const std::string out = f.dir / (poi ? "out.gpx" : "out.csv");
    f.view.Type(Ctl::InputField, in);
    f.view.Type(Ctl::OutputField, out);
    f.view.controls[Ctl::KeepCommentLineBreaks].checked = true;
    const std::string profile = f.dir / "made.zvp";
    f.chooser.Answer({profile});
    f.form.CreateProfile();
    ASSERT_EQ(f.chooser.requests.size(), 1u);
    const FileDialogRequest& r = f.chooser.requests[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.title, "Select file to create as profile");
    EXPECT_EQ(r.filter, "ZVP Files (*.ZVP)|*.ZVP");
    EXPECT_EQ(r.initialFolder, f.dir.path());
    EXPECT_EQ(r.presetName,
              poi ? "Convert trip-points-CSV to GPX.ZVP" : "Convert trip-GPX to CSV.ZVP");
    EXPECT_EQ(r.options, kSave);
    const std::string want =
        FillProfileTemplate(LoadProfileTemplate(poi ? "CSVTOGPX" : "GPXTOCSV"), in, out, true);
    EXPECT_EQ(ReadFile(profile).substr(0, want.size()), want);
    EXPECT_NE(want.find(in), std::string::npos);
    EXPECT_TRUE(f.messages.boxes.empty()) << f.messages.Joined();
    EXPECT_EQ(f.view.closed, 0);
  }
}

TEST(FormCreateProfile, CancelOrAPatternWritesNothing) {
  FormFixture f;
  f.Load();
  f.File("in.gpx");
  f.view.Type(Ctl::InputField, "in.gpx");
  f.view.Type(Ctl::OutputField, "out.csv");
  f.form.CreateProfile();  // cancelled
  f.chooser.Answer({f.dir / "*.zvp"});
  f.form.CreateProfile();
  ASSERT_EQ(f.chooser.requests.size(), 2u);
  EXPECT_EQ(Listing(f.dir.path()), std::vector<std::string>{"in.gpx"});
}

TEST(FormCreateProfile, UnwritableProfileIsReported) {
  FormFixture f;
  f.Load();
  f.view.Type(Ctl::InputField, f.File("in.gpx"));
  f.view.Type(Ctl::OutputField, "out.csv");
  f.chooser.Answer({f.dir / "nofolder/p.zvp"});
  f.form.CreateProfile();
  EXPECT_EQ(f.messages.boxes.size(), 1u);
  EXPECT_NE(f.LastMessage().find("p.zvp"), std::string::npos) << f.LastMessage();
}

// ---------------------------------------------------------------------------
// Geometry

TEST(FormGeometry, StoredEdgesOffTheScreenAreCentred) {
  struct Case {
    const char* name;
    Stored stored;
    int screenW, screenH;
    StoredGeometry want;
  };
  // Window 6000 x 4000 twips on a 30000 x 15000 screen: centred at 12000, 5500.
  const Case cases[] = {
      {"Nothing", {}, 30000, 15000, {}},
      {"Inside",
       {{"WindowX", "300"}, {"WindowY", "450"}, {"WindowWidth", "7000"}},
       30000,
       15000,
       {true, true, true, 300, 450, 7000}},
      {"Negative",
       {{"WindowX", "-15"}, {"WindowY", "-1"}},
       30000,
       15000,
       {true, true, false, 12000, 5500, 0}},
      {"Beyond",
       {{"WindowX", "30001"}, {"WindowY", "15001"}},
       30000,
       15000,
       {true, true, false, 12000, 5500, 0}},
      {"OnTheEdges",
       {{"WindowX", "30000"}, {"WindowY", "0"}},
       30000,
       15000,
       {true, true, false, 30000, 0, 0}},
      {"NoScreenKeepsAll",
       {{"WindowX", "-300"}, {"WindowY", "99999"}},
       0,
       0,
       {true, true, false, -300, 99999, 0}},
      {"OddScreenFloorsTheCentre", {{"WindowX", "-1"}}, 6001, 15000, {true, false, false, 0, 0, 0}},
      {"Fractions",
       {{"WindowX", " +22.5 "}, {"WindowWidth", "7000.4"}},
       30000,
       15000,
       {true, false, true, 23, 0, 7000}},
      {"Damaged",
       {{"WindowX", "12abc"}, {"WindowY", ""}, {"WindowWidth", "1e9"}},
       30000,
       15000,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormFixture f;
    f.settings.values.insert(c.stored.begin(), c.stored.end());
    const StoredGeometry g = f.form.LoadGeometry(c.screenW, c.screenH, 6000, 4000);
    EXPECT_EQ(g.hasX, c.want.hasX);
    EXPECT_EQ(g.hasY, c.want.hasY);
    EXPECT_EQ(g.hasWidth, c.want.hasWidth);
    if (c.want.hasX) {
      EXPECT_EQ(g.x, c.want.x);
    }
    if (c.want.hasY) {
      EXPECT_EQ(g.y, c.want.y);
    }
    if (c.want.hasWidth) {
      EXPECT_EQ(g.width, c.want.width);
    }
  }
}

TEST(FormGeometry, StoredTwipsAreOnlyPlainNumbers) {
  const struct {
    const char* text;
    bool number;
    double twips;
  } cases[] = {
      {"4320", true, 4320}, {"  1507.5 ", true, 1507.5}, {"-100", true, -100}, {"+15", true, 15},
      {"", false, 0},       {"   ", false, 0},           {"left", false, 0},   {"12px", false, 0},
      {"1507,5", false, 0}, {"nan", false, 0},           {"inf", false, 0},    {"1e300", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    double value = 0;
    EXPECT_EQ(ParseStoredTwips(c.text, value), c.number);
    if (c.number) {
      EXPECT_EQ(value, c.twips);
    }
  }
}

// Whole twips give the pixels the stored fractions would.
TEST(FormGeometry, RoundedTwipsKeepThePixels) {
  for (double t = -60; t <= 60; t += 0.25) {
    SCOPED_TRACE(t);
    FormFixture f;
    f.settings.values["WindowX"] = std::to_string(t);
    const StoredGeometry g = f.form.LoadGeometry(0, 0, 6000, 4000);
    EXPECT_EQ(TwipsToPixels(g.x), TwipsToPixels(t));
  }
}

TEST(FormGeometry, WidthIsStoredOnResizeAndThePositionOnceOnClose) {
  FormFixture f;
  f.form.StoreWidth(7005);
  f.form.Unload(150, -30);
  f.form.Unload(300, 300);
  EXPECT_EQ(f.Stored("WindowWidth"), "7005");
  EXPECT_EQ(f.Stored("WindowX"), "150");
  EXPECT_EQ(f.Stored("WindowY"), "-30");
}

// ---------------------------------------------------------------------------
// Drops

TEST(FormDrops, FilesOfOneFolderBecomeTheInput) {
  struct Case {
    const char* name;
    std::vector<std::string> files;
    bool accepted;
    std::string text1;
  };
  TempDir a, b;
  const Case cases[] = {
      {"One", {a / "x.gpx"}, true, a / "x.gpx"},
      {"Several", {a / "x.gpx", a / "y.gpx", a / "z.gpx"}, true, (a / "x.gpx") + ";y.gpx;z.gpx"},
      {"TwoFolders", {a / "x.gpx", b / "y.gpx"}, false, "before"},
      {"Nothing", {}, false, "before"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FormFixture f;
    f.Load({{"InFileGPX", "before"}});
    // Dragged over: the answer only.
    EXPECT_EQ(f.form.DropFiles(c.files, false), c.accepted);
    EXPECT_EQ(f.view.Text(Ctl::InputField), "before");
    EXPECT_EQ(CurrentDirectory(), f.dir.path());
    EXPECT_EQ(f.form.DropFiles(c.files, true), c.accepted);
    EXPECT_EQ(f.view.Text(Ctl::InputField), c.text1);
    EXPECT_EQ(CurrentDirectory(), c.accepted ? a.path() : f.dir.path());
    const bool list = c.files.size() > 1 && c.accepted;
    EXPECT_EQ(f.view.Enabled(Ctl::OutputField), !list);
    if (c.accepted) {
      EXPECT_TRUE(f.view.controls[Ctl::InputField].caretAtEnd);
    }
  }
}

// ---------------------------------------------------------------------------
// Help

TEST(FormHelp, TermsAboutAndTheGuide) {
  FormFixture f;
  f.Load();
  f.form.Terms();
  f.form.About();
  f.form.Notes();
  ASSERT_EQ(f.messages.boxes.size(), 2u);
  EXPECT_EQ(f.messages.boxes[0].title, "Marklode Terms of Use");
  EXPECT_EQ(f.messages.boxes[0].text, kTermsOfUseText);
  EXPECT_EQ(f.messages.boxes[0].kind, MessageKind::Plain);
  EXPECT_EQ(f.messages.boxes[1].title, "Marklode");
  EXPECT_EQ(f.messages.boxes[1].kind, MessageKind::Information);
  EXPECT_NE(f.messages.boxes[1].text.find(std::string("version ") + kVersionText),
            std::string::npos);
  EXPECT_EQ(f.view.guides, 1);
  EXPECT_EQ(f.view.closed, 0);
}

}  // namespace
}  // namespace marklode::test
