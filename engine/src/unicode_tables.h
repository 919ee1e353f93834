// The code-point sets behind the engine's own character tests and the \d \s
// \w of matches patterns. Their data is generated into unicode_tables.cc by
// scripts/gen_unicode_tables.py from one Unicode version, named there, so
// every build answers alike whatever libraries its platform has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vintrel::unicode {

struct CodePointRange {
  char32_t first, last;
};

// A set of code points, held twice: as sorted, disjoint, non-adjacent
// ranges, which the regex class texts are written from, and as a two-stage
// table for look-ups (two loads, whatever the character): the index gives
// the block of each 256 code points, the block one bit per code point.
class CodePointSet {
 public:
  static constexpr size_t kBlockCount = 0x110000 >> 8;
  struct Block {
    uint64_t bits[4];
  };

  constexpr CodePointSet(std::span<const CodePointRange> ranges, std::span<const Block> blocks,
                         const uint8_t (&block_of)[kBlockCount])
      : ranges_(ranges), blocks_(blocks.data()), block_of_(block_of) {}

  bool contains(char32_t c) const noexcept {
    if (c >= 0x110000) return false;
    const Block& b = blocks_[block_of_[c >> 8]];
    return (b.bits[(c >> 6) & 3] >> (c & 63)) & 1;
  }

  std::span<const CodePointRange> ranges() const noexcept { return ranges_; }

 private:
  std::span<const CodePointRange> ranges_;
  const Block* blocks_;
  const uint8_t* block_of_;
};

extern const CodePointSet kWhiteSpace;     // White_Space
extern const CodePointSet kAlphabetic;     // Alphabetic
extern const CodePointSet kDecimalNumber;  // general category Nd
extern const CodePointSet kWordCharacter;  // Alphabetic, M, Nd, Pc and Join_Control
// Grapheme_Extend (it would attach to the character before it) and the
// characters that do not print: Cc, Cf, Cs, Co, Cn, Zl, Zp, Zs but U+0020.
extern const CodePointSet kHexEscaped;

}  // namespace vintrel::unicode
