#include "firmware/lh5/decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "firmware/lh5/bit_reader.h"
#include "firmware/lh5/huffman_table.h"
#include "firmware/lh5/lh5_format.h"

namespace zorv::lh5 {

std::string_view describe(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::Ok: return "ok";
    case DecodeStatus::BadCodeLengthTable: return "malformed code-length table";
    case DecodeStatus::BadLiteralTable: return "malformed literal/length table";
    case DecodeStatus::BadPositionTable: return "malformed position table";
    case DecodeStatus::CopyBeforeStart: return "copy refers to data before the start";
    case DecodeStatus::CopyPastEnd: return "copy runs past the declared length";
    case DecodeStatus::StreamOverrun: return "stream ends before the content is complete";
  }
  return "unknown";
}

struct Decoder::Tables {
  CodeLengthTable codeLengths;
  LiteralTable literals;
  PositionTable positions;
};

Decoder::Decoder() : tables_(std::make_unique<Tables>()) {}
Decoder::~Decoder() = default;

namespace {

// Code lengths of the code-length and position codes: a 3-bit value, where 7
// continues in unary (each further 1 bit adds one, a 0 bit ends it).
template <class Table, int kSymbols>
bool readShortTable(BitReader& in, Table& table, int countBits, int special) {
  int n = static_cast<int>(in.bits(countBits));
  if (n == 0) return table.buildSingle(static_cast<int>(in.bits(countBits)));
  if (n > kSymbols) return false;
  std::array<uint8_t, kSymbols> lengths{};
  int i = 0;
  while (i < n) {
    in.refill();
    int c = static_cast<int>(in.peek(3));
    if (c == 7) {
      // Ones after the first three bits; more than nine would make a length
      // over 16, so only the next ten bits matter.
      uint64_t rest = in.window() << 3;
      int ones = __builtin_clzll(~rest | (uint64_t{1} << 53));
      if (ones > kMaxCodeLength - 7) return false;
      c += ones;
      in.skip(3 + ones + 1);
    } else {
      in.skip(3);
    }
    lengths[i++] = static_cast<uint8_t>(c);
    if (i == special) {
      int zeros = static_cast<int>(in.bits(2));
      if (i + zeros > kSymbols) return false;
      i += zeros;  // lengths are already zero
    }
  }
  return table.build(lengths);
}

bool readLiteralTable(BitReader& in, const CodeLengthTable& codeLengths, LiteralTable& table) {
  int n = static_cast<int>(in.bits(kCBits));
  if (n == 0) return table.buildSingle(static_cast<int>(in.bits(kCBits)));
  if (n > kNC) return false;
  std::array<uint8_t, kNC> lengths{};
  int i = 0;
  while (i < n) {
    in.refill();
    int c = codeLengths.decode(in);
    if (c <= 2) {
      int zeros = c == 0 ? 1 : c == 1 ? static_cast<int>(in.bits(4)) + 3 : static_cast<int>(in.bits(kCBits)) + 20;
      if (i + zeros > kNC) return false;
      i += zeros;
    } else {
      lengths[i++] = static_cast<uint8_t>(c - 2);
    }
  }
  return table.build(lengths);
}

}  // namespace

DecodeResult Decoder::decode(std::span<const uint8_t> stream, std::span<uint8_t> out) {
  BitReader in(stream.data(), stream.size());
  Tables& t = *tables_;
  uint8_t* const dst = out.data();
  const size_t n = out.size();
  size_t r = 0;
  uint32_t blockRemaining = 0;
  auto fail = [&](DecodeStatus s) { return DecodeResult{s, r}; };

  while (r < n) {
    if (blockRemaining == 0) {
      if (in.overrun()) return fail(DecodeStatus::StreamOverrun);
      blockRemaining = in.bits(16);
      if (blockRemaining == 0) blockRemaining = 65536;  // the 16-bit count wraps
      if (!readShortTable<CodeLengthTable, kNT>(in, t.codeLengths, kTBits, kTSpecial))
        return fail(DecodeStatus::BadCodeLengthTable);
      if (!readLiteralTable(in, t.codeLengths, t.literals)) return fail(DecodeStatus::BadLiteralTable);
      if (!readShortTable<PositionTable, kNP>(in, t.positions, kPBits, -1))
        return fail(DecodeStatus::BadPositionTable);
    }

    // One refill holds a literal/length code, a position code and its extra
    // bits (16 + 16 + 12 of at least 56).
    in.refill();
    --blockRemaining;
    int c = t.literals.decode(in);
    if (c < kFirstMatchCode) {
      dst[r++] = static_cast<uint8_t>(c);
      // A second literal fits in the same refill.
      if (blockRemaining != 0 && r < n) {
        int c2 = t.literals.decode(in);
        --blockRemaining;
        if (c2 < kFirstMatchCode) {
          dst[r++] = static_cast<uint8_t>(c2);
          continue;
        }
        c = c2;
        in.refill();
      } else {
        continue;
      }
    }

    size_t len = static_cast<size_t>(c - kFirstMatchCode + kMinMatch);
    int j = t.positions.decode(in);
    size_t dist = 0;
    if (j > 0) {
      int extra = j - 1;
      dist = size_t{1} << extra;
      if (extra > 0) {
        dist += in.peek(extra);
        in.skip(extra);
      }
    }
    if (dist >= r) return fail(DecodeStatus::CopyBeforeStart);
    if (len > n - r) return fail(DecodeStatus::CopyPastEnd);
    const uint8_t* src = dst + r - dist - 1;
    uint8_t* to = dst + r;
    if (dist >= 15 && n - r >= ((len + 15) & ~size_t{15})) {
      // Chunks of 16 never read a byte this copy has yet to write.
      for (size_t k = 0; k < len; k += 16) std::memcpy(to + k, src + k, 16);
    } else if (dist == 0) {
      std::memset(to, *src, len);
    } else {
      for (size_t k = 0; k < len; ++k) to[k] = src[k];
    }
    r += len;
  }
  if (in.overrun()) return fail(DecodeStatus::StreamOverrun);
  return DecodeResult{DecodeStatus::Ok, r};
}

DecodeResult decode(std::span<const uint8_t> stream, std::span<uint8_t> out) {
  Decoder d;
  return d.decode(stream, out);
}

uint16_t byteSum16(std::span<const uint8_t> bytes) {
  // 32-bit partial sums cannot overflow within 2^24 bytes.
  uint32_t total = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    size_t end = std::min(bytes.size(), i + (size_t{1} << 24));
    uint32_t part = 0;
    for (; i < end; ++i) part += bytes[i];
    total += part;
  }
  return static_cast<uint16_t>(total);
}

}  // namespace zorv::lh5
