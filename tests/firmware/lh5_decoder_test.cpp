#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>

#include "firmware/lh5/bit_reader.h"
#include "firmware/lh5/bit_writer.h"
#include "firmware/lh5/decoder.h"
#include "firmware/lh5/huffman_table.h"
#include "firmware_test_util.h"

namespace zorv::firmware::test {
namespace {

using lh5::BitWriter;
using lh5::DecodeStatus;

// Streams from independent LHA tools decode to the reference bytes; the one
// cut short fails without reading or writing out of bounds.
TEST(Lh5Decoder, FixtureStreamsFromIndependentTools) {
  auto manifest = nlohmann::json::parse(readFixture("lh5/manifest.json"));
  ASSERT_GE(manifest.size(), 5u);
  for (const auto& entry : manifest) {
    const std::string name = entry["name"];
    SCOPED_TRACE(name);
    std::vector<uint8_t> stream = readFixture("lh5/" + name + ".lh5");
    const size_t origSize = entry["origSize"];
    // Guard bytes after the output show any write past its end.
    std::vector<uint8_t> buffer(origSize + 64, 0xA5);
    auto result = lh5::decode(stream, std::span<uint8_t>(buffer.data(), origSize));
    for (size_t i = origSize; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xA5) << "written past the end at " << i;
    buffer.resize(origSize);
    const std::string expect = entry["expect"];
    if (expect == "ok") {
      ASSERT_EQ(result.status, DecodeStatus::Ok) << lh5::describe(result.status);
      EXPECT_EQ(result.produced, origSize);
      EXPECT_EQ(buffer, readFixture("lh5/" + name + ".out"));
      EXPECT_EQ(lh5::byteSum16(buffer), entry["sum16"].get<uint16_t>());
    } else {
      EXPECT_FALSE(result.ok() && lh5::byteSum16(buffer) == entry["sum16"].get<uint16_t>());
    }
  }
}

// The fixture cut short fails as a stream, and also fails the sum check when
// the file's header claims the full stream length.
TEST(Lh5Decoder, TruncatedStreamStopsAtTheEndOfItsBytes) {
  std::vector<uint8_t> stream = readFixture("lh5/truncated.lh5");
  std::vector<uint8_t> out(18092);
  auto result = lh5::decode(stream, out);
  EXPECT_EQ(result.status, DecodeStatus::StreamOverrun);
  EXPECT_LT(result.produced, out.size());
  // The bytes before the cut are right.
  std::vector<uint8_t> whole = readFixture("lh5/dos_lha213.out");
  ASSERT_GT(result.produced, 1000u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1000, whole.begin()));
}

// A block with hand-chosen codes:
//   code lengths: 0 -> 1 bit "0", 3 (length 1) -> "10", 4 (length 2) -> "11"
//   literal/length: 'A' -> "0", copy of 3 -> "10", copy of 4 -> "11"
//   position: 0 -> "0", 1 -> "1"
void writeSmallBlock(BitWriter& w, uint32_t count) {
  w.put(16, count);
  // Code-length code: five lengths 1,0,0 | 2 zeros skipped: 0 | 2,2.
  w.put(5, 5);
  w.put(3, 1);
  w.put(3, 0);
  w.put(3, 0);
  w.put(2, 0);
  w.put(3, 2);
  w.put(3, 2);
  // Literal/length lengths for symbols 0..257: 'A' = 1, 256 and 257 = 2.
  w.put(9, 258);
  for (int s = 0; s < 258; ++s) {
    if (s == 'A') w.put(2, 0b10);
    else if (s >= 256) w.put(2, 0b11);
    else w.put(1, 0);
  }
  // Position lengths: two symbols of one bit.
  w.put(4, 2);
  w.put(3, 1);
  w.put(3, 1);
}

// One code length as the short tables carry it: three bits, and from 7 on
// as many further ones as it exceeds 7, then a zero.
void putShortLength(BitWriter& w, int length) {
  if (length < 7) return w.put(3, static_cast<uint32_t>(length));
  w.put(3, 7);
  const int ones = length - 7;
  w.put(ones + 1, ((uint32_t{1} << ones) - 1) << 1);
}

struct StreamCase {
  const char* name;
  std::function<void(BitWriter&)> write;
  size_t outSize;
  DecodeStatus expected;
  std::vector<uint8_t> output = {};  // what an Ok stream decodes to
};

// Malformed streams fail, each with its own reason; the longest codes the
// format allows (16 bits) decode.
TEST(Lh5Decoder, StreamsAtTheLimitsOfTheFormat) {
  const StreamCase cases[] = {
      {"code-length code with lengths of exactly 16",
       [](BitWriter& w) {
         w.put(16, 3);
         // Lengths 1, 2, ..., 16, 16: a complete code.
         w.put(5, 17);
         for (int sym = 0; sym < 17; ++sym) {
           putShortLength(w, sym < 16 ? sym + 1 : 16);
           if (sym == 2) w.put(2, 0);  // no zeros after the third
         }
         w.put(9, 0);
         w.put(9, 'A');
         w.put(4, 0);
         w.put(4, 0);
       },
       3, DecodeStatus::Ok, {'A', 'A', 'A'}},
      {"literal codes of exactly 16 bits",
       [](BitWriter& w) {
         w.put(16, 3);
         // Code-length code: symbols 3 to 18 (lengths 1 to 16), four bits each.
         w.put(5, 19);
         for (int sym = 0; sym < 3; ++sym) w.put(3, 0);
         w.put(2, 0);
         for (int sym = 3; sym < 19; ++sym) w.put(3, 4);
         // Literals 0..16 with lengths 1, 2, ..., 16, 16; length L is
         // code-length symbol L + 2, whose code is L - 1.
         w.put(9, 17);
         for (int sym = 0; sym < 17; ++sym) w.put(4, static_cast<uint32_t>(sym < 16 ? sym : 15));
         w.put(4, 0);
         w.put(4, 0);
         w.put(16, 0xFFFF);  // literal 16: sixteen ones
         w.put(16, 0xFFFE);  // literal 15: fifteen ones and a zero
         w.put(1, 0);        // literal 0
       },
       3, DecodeStatus::Ok, {0x10, 0x0F, 0x00}},
      {"code-length count over 19", [](BitWriter& w) { w.put(16, 1); w.put(5, 20); }, 10,
       DecodeStatus::BadCodeLengthTable},
      {"code length over 16",
       [](BitWriter& w) {
         w.put(16, 1);
         w.put(5, 1);
         w.put(3, 7);
         w.put(12, 0xFFF);
       },
       10, DecodeStatus::BadCodeLengthTable},
      {"code-length code incomplete", [](BitWriter& w) { w.put(16, 1); w.put(5, 1); w.put(3, 1); }, 10,
       DecodeStatus::BadCodeLengthTable},
      {"single code-length symbol out of range", [](BitWriter& w) { w.put(16, 1); w.put(5, 0); w.put(5, 25); }, 10,
       DecodeStatus::BadCodeLengthTable},
      {"literal count over 510",
       [](BitWriter& w) {
         w.put(16, 1);
         w.put(5, 0);
         w.put(5, 3);
         w.put(9, 511);
       },
       10, DecodeStatus::BadLiteralTable},
      {"zero run past the alphabet",
       [](BitWriter& w) {
         w.put(16, 1);
         w.put(5, 0);
         w.put(5, 2);  // every code-length symbol is "run of 20 + 9 bits"
         w.put(9, 510);
         w.put(9, 511);
       },
       10, DecodeStatus::BadLiteralTable},
      {"literal code oversubscribed",
       [](BitWriter& w) {
         w.put(16, 1);
         w.put(5, 0);
         w.put(5, 3);  // every symbol gets length 1
         w.put(9, 3);
       },
       10, DecodeStatus::BadLiteralTable},
      {"single literal symbol out of range",
       [](BitWriter& w) {
         w.put(16, 1);
         w.put(5, 0);
         w.put(5, 0);
         w.put(9, 0);
         w.put(9, 510);
       },
       10, DecodeStatus::BadLiteralTable},
      {"position count over 14",
       [](BitWriter& w) {
         w.put(16, 1);
         w.put(5, 0);
         w.put(5, 0);
         w.put(9, 0);
         w.put(9, 'x');
         w.put(4, 15);
       },
       10, DecodeStatus::BadPositionTable},
      {"copy before the first byte",
       [](BitWriter& w) {
         writeSmallBlock(w, 1);
         w.put(2, 0b10);
         w.put(1, 0);
       },
       10, DecodeStatus::CopyBeforeStart},
      {"copy from two back after one byte",
       [](BitWriter& w) {
         writeSmallBlock(w, 2);
         w.put(1, 0);
         w.put(2, 0b10);
         w.put(1, 1);
       },
       10, DecodeStatus::CopyBeforeStart},
      {"copy past the declared length",
       [](BitWriter& w) {
         writeSmallBlock(w, 2);
         w.put(1, 0);
         w.put(2, 0b11);
         w.put(1, 0);
       },
       4, DecodeStatus::CopyPastEnd},
      {"stream ends before the output is full",
       [](BitWriter& w) {
         writeSmallBlock(w, 2);
         w.put(1, 0);
         w.put(2, 0b11);
         w.put(1, 0);
       },
       6, DecodeStatus::StreamOverrun},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> stream;
    BitWriter w(stream);
    c.write(w);
    w.flush();
    std::vector<uint8_t> buffer(c.outSize + 16, 0x5A);
    auto result = lh5::decode(stream, std::span<uint8_t>(buffer.data(), c.outSize));
    EXPECT_EQ(result.status, c.expected) << lh5::describe(result.status);
    EXPECT_LE(result.produced, c.outSize);
    for (size_t i = c.outSize; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0x5A);
    if (c.expected == DecodeStatus::Ok) {
      EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(c.outSize)),
                c.output);
      EXPECT_EQ(lhasaDecode(stream, c.outSize), c.output);
    }
  }
}

TEST(Lh5Decoder, HandMadeBlockDecodesLikeLiblhasa) {
  std::vector<uint8_t> stream;
  BitWriter w(stream);
  writeSmallBlock(w, 3);
  w.put(1, 0);     // 'A'
  w.put(2, 0b10);  // copy 3 from 1 back
  w.put(1, 0);
  w.put(2, 0b11);  // copy 4 from 2 back (position code 1: distance 1)
  w.put(1, 1);
  w.flush();
  std::vector<uint8_t> out(8);
  auto result = lh5::decode(stream, out);
  ASSERT_EQ(result.status, DecodeStatus::Ok) << lh5::describe(result.status);
  EXPECT_EQ(std::string(out.begin(), out.end()), "AAAAAAAA");
  EXPECT_EQ(lhasaDecode(stream, 8), out);
}

// A block count of 0 stands for 65,536 codes (the 16-bit count wraps); codes
// of a single-symbol block take no bits, so a tiny stream makes 64 KiB.
TEST(Lh5Decoder, ZeroBlockCountMeans65536Codes) {
  std::vector<uint8_t> stream;
  BitWriter w(stream);
  w.put(16, 0);
  w.put(5, 0);
  w.put(5, 0);
  w.put(9, 0);
  w.put(9, 'B');
  w.put(4, 0);
  w.put(4, 0);
  w.flush();
  std::vector<uint8_t> out(65536);
  ASSERT_TRUE(lh5::decode(stream, out).ok());
  EXPECT_EQ(std::count(out.begin(), out.end(), 'B'), 65536);
  // One more byte needs another block, which the stream does not hold.
  std::vector<uint8_t> more(65537);
  auto result = lh5::decode(stream, more);
  EXPECT_EQ(result.status, DecodeStatus::StreamOverrun);
}

TEST(Lh5Decoder, EmptyOutputNeedsNoStream) {
  std::vector<uint8_t> none;
  std::vector<uint8_t> out;
  EXPECT_TRUE(lh5::decode(none, out).ok());
}

TEST(Lh5BitReader, ReadsMostSignificantFirstAndFeedsZerosPastTheEnd) {
  const uint8_t bytes[] = {0xA5, 0x3C, 0xFF};
  lh5::BitReader r(bytes, sizeof bytes);
  EXPECT_EQ(r.bits(1), 1u);
  EXPECT_EQ(r.bits(3), 0b010u);
  EXPECT_EQ(r.bits(8), 0x53u);
  EXPECT_EQ(r.bits(12), 0xCFFu);
  EXPECT_FALSE(r.overrun());
  EXPECT_EQ(r.consumedBits(), 24u);
  EXPECT_EQ(r.bits(16), 0u);
  EXPECT_TRUE(r.overrun());
  // Long input: the word-at-a-time refill gives the same bits.
  std::vector<uint8_t> many(64);
  for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<uint8_t>(i * 37 + 11);
  lh5::BitReader a(many.data(), many.size());
  for (size_t i = 0; i < many.size(); ++i) {
    uint32_t hi = a.bits(3);
    uint32_t lo = a.bits(5);
    ASSERT_EQ((hi << 5) | lo, many[i]) << i;
  }
}

TEST(Lh5HuffmanTable, BuildsOnlyCompleteCodesOfAtMost16Bits) {
  lh5::PositionTable t;
  std::vector<uint8_t> lengths(lh5::kNP, 0);
  EXPECT_FALSE(t.build(lengths)) << "no symbols";
  lengths[0] = 1;
  EXPECT_FALSE(t.build(lengths)) << "half the code space unused";
  lengths[1] = 1;
  EXPECT_TRUE(t.build(lengths));
  lengths[2] = 1;
  EXPECT_FALSE(t.build(lengths)) << "oversubscribed";
  std::fill(lengths.begin(), lengths.end(), 0);
  lengths[0] = 17;
  lengths[1] = 1;
  EXPECT_FALSE(t.build(lengths)) << "length over 16";
  // Codes longer than the root table: lengths 1, 2, ..., 13, 13.
  for (int i = 0; i < 13; ++i) lengths[i] = static_cast<uint8_t>(i + 1);
  lengths[13] = 13;
  ASSERT_TRUE(t.build(lengths));
  // The all-ones 13-bit code is the last symbol.
  const uint8_t ones[] = {0xFF, 0xF8, 0x00};
  lh5::BitReader r(ones, sizeof ones);
  r.refill();
  EXPECT_EQ(t.decode(r), 13);
  EXPECT_EQ(r.consumedBits(), 13u);
}

}  // namespace
}  // namespace zorv::firmware::test
