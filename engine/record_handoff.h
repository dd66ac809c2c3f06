// The hand-over between the reading and the writing side of POI-CSV to GPX:
// records read and cleaned, in input order, ready to be written. Their values
// lie end to end in one padded buffer, since the records they came from are
// soon overwritten; the writer may read each value as a PaddedText.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/padded_text.h"

namespace marklode {

struct Batch {
  enum Piece { kLat, kLon, kName, kComment, kSymbol, kCategory, kPieces };
  struct Item {
    enum Kind : std::uint8_t { kPoint, kRouteBegin, kRouteEnd } kind;
    std::uint32_t input;                    // the index of the input file it came from
    std::size_t begin;                      // in text
    std::array<std::size_t, kPieces> ends;  // a point's pieces; a route's name ends at ends[0]
    // A point's name's NameSet::Hash, worked out on the reading side, which
    // has less to do.
    std::size_t nameHash;
  };

  PaddedBuffer text;
  std::vector<Item> items;

  void clear() {
    text.clear();
    items.clear();
  }
  bool full() const { return items.size() >= 4096 || text.size() >= (512u << 10); }
  std::size_t Begin(const Item& item, Piece piece) const {
    return piece == kLat ? item.begin : item.ends[piece - 1];
  }
  std::string_view Get(const Item& item, Piece piece) const {
    const std::size_t b = Begin(item, piece);
    return text.view().substr(b, item.ends[piece] - b);
  }
  PaddedText Padded(const Item& item, Piece piece) const {
    return text.Padded(Begin(item, piece), item.ends[piece]);
  }
  // A new item, starting at the end of the text.
  Item& Add(Item::Kind kind, std::uint32_t input = 0) {
    Item& item = items.emplace_back();
    item.kind = kind;
    item.input = input;
    item.begin = text.size();
    return item;
  }
};

}  // namespace marklode
