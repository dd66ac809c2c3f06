// A property a fuzz target asserts: when it fails, says which and aborts, so
// libFuzzer keeps the input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "services/text_files.h"
#include "tests/chunked_source.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// The input cut at NUL bytes, into at most maxParts parts (the last of them
// also ends at the next NUL, if any): how targets take several texts at once.
inline std::vector<std::string_view> NulSeparated(const std::uint8_t* data, std::size_t size,
                                                  std::size_t maxParts = SIZE_MAX) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t nul = text.find('\0');
    parts.push_back(text.substr(0, nul));
    if (nul == std::string_view::npos || parts.size() == maxParts) break;
    text.remove_prefix(nul + 1);
  }
  return parts;
}

using ChunkedSource = marklode::test::ChunkedSource;
