// ASCII letter case: conversion, comparison and search without regard to it.
#include <cstddef>

#include "services/char_steps.h"
#include "services/strings.h"

namespace marklode {

using char_steps::Lower;

namespace {
char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}
}  // namespace

std::string ToLowerAscii(std::string_view t) {
  std::string s(t);
  for (char& c : s) c = Lower(c);
  return s;
}

std::string ToUpperAscii(std::string_view t) {
  std::string s(t);
  for (char& c : s) c = Upper(c);
  return s;
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (text[i] != prefix[i] && Lower(text[i]) != Lower(prefix[i])) return false;
  return true;
}

std::size_t IFind(std::string_view text, std::string_view what, std::size_t from) {
  if (what.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = from; i + what.size() <= text.size(); ++i)
    if (IEquals(text.substr(i, what.size()), what)) return i;
  return std::string_view::npos;
}

}  // namespace marklode
