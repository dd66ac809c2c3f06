#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "engine/templates.h"

namespace marklode {
namespace {

TEST(ExpandTemplate, TokensRangesAndLiterals) {
  const std::array<std::string_view, 4> v{"trip", "Harbour View", "Open late", "Food"};
  struct Case {
    const char* templ;
    const char* result;
  } cases[] = {
      {"<W>", "Harbour View"},
      {"<w>", "Harbour View"},
      {"<W1-7>", "Harbour"},
      {"<W9>", "View"},
      {"<W-3>", "Har"},
      {"<W9-99>", "View"},
      {"<W20>", ""},
      {"<W5-2>", "our View"},
      {"<Wx-y>", "Harbour View"},
      {"<F>-<C>.txt", "trip-Food.txt"},
      {"POI <C>", "POI Food"},
      {"<X>abc", "abc"},
      {"a < b", "a < b"},
      {"<W> <3", "<W> <3"},
      {"plain", "plain"},
      {"<>", "trip"},
      {"<W1.5-2.5>", "a"},
      {"<W99999999999-2>", "Ha"},
      {"<T1-4>", "Open"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExpandTemplate(c.templ, kGpxLetters, v), c.result) << c.templ;
}

TEST(ExpandTemplate, MissingValuesVanish) {
  const std::array<std::string_view, 2> v{"trip", "Harbour View"};
  EXPECT_EQ(ExpandTemplate("<C>", kGpxLetters, v), "");
  EXPECT_EQ(ExpandTemplate("[<C>]", kGpxLetters, {}), "[]");
}

TEST(ExpandTemplate, ValuesAreNeverExpandedAgain) {
  // A value holding its own token, or a lone "<", is inserted as it stands.
  const std::array<std::string_view, 2> v{"f", "<D>"};
  EXPECT_EQ(ExpandTemplate("<D>", kCsvLetters, v), "<D>");
  const std::array<std::string_view, 2> w{"f", "a<b"};
  EXPECT_EQ(ExpandTemplate("x<D>y", kCsvLetters, w), "xa<by");
}

TEST(ExpandTemplate, RangesCountCharactersNotBytes) {
  const std::array<std::string_view, 2> v{"f", "Zürich Hauptbahnhof"};
  EXPECT_EQ(ExpandTemplate("<W1-2>", kGpxLetters, v), "Zü");
  EXPECT_EQ(ExpandTemplate("<W-3>", kGpxLetters, v), "Zür");
}

TEST(ExpandTemplate, NamedValuesByTheirNames) {
  const std::array<std::string_view, 2> v{"trip", "Harbour View"};
  const std::vector<std::pair<std::string, std::string>> named{
      {"phone", "555 123"}, {"Open hours", "8-5"}, {"styleUrl", "#icon-1"}, {"PHONE", "other"}};
  struct Case {
    const char* templ;
    const char* result;
  } cases[] = {
      {"<{phone}>", "555 123"},
      {"<{Phone}>", "555 123"},  // without regard to case when no name is written so
      {"<{PHONE}>", "other"},
      {"<{Open hours}>", "8-5"},
      {"<W> (<{styleUrl}2-99>)", "Harbour View (icon-1)"},
      {"<{phone}1-3>", "555"},
      {"<{missing}>x", "x"},
      {"<{}>", ""},
      {"a <{b> c", "a  c"},  // no "}": an ordinary token, and "{" is no letter
      {"<{phone", "<{phone"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ExpandTemplate(c.templ, kGpxLetters, v, named), c.result) << c.templ;
  // Without named values (GPX), a named token is empty, as it always was.
  EXPECT_EQ(ExpandTemplate("[<{phone}>]", kGpxLetters, v), "[]");
}

}  // namespace
}  // namespace marklode
