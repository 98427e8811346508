#include <gtest/gtest.h>

#include "firmware/lh5/decoder.h"
#include "firmware/lh5/encoder.h"
#include "firmware/lh5/huffman_code.h"
#include "firmware_test_util.h"

namespace zorv::firmware::test {
namespace {

std::vector<uint8_t> roundTrip(const std::vector<uint8_t>& input, const lh5::EncoderOptions& options = {}) {
  std::vector<uint8_t> stream = lh5::encode(input, options);
  std::vector<uint8_t> out(input.size());
  auto result = lh5::decode(stream, out);
  EXPECT_EQ(result.status, lh5::DecodeStatus::Ok) << lh5::describe(result.status);
  EXPECT_EQ(out, input);
  return stream;
}

// The same text the LHA tools compressed: ours must be no larger.
TEST(Lh5Encoder, CompressesAtLeastAsSmallAsLha213) {
  struct Case {
    const char* name;
    size_t lhaSize;
  };
  for (const Case& c : {Case{"dos_lha213", 7004}, Case{"dos_lha213_long", 84000}}) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> text = readFixture(std::string("lh5/") + c.name + ".out");
    std::vector<uint8_t> stream = roundTrip(text);
    EXPECT_LE(stream.size(), c.lhaSize);
  }
}

struct EdgeCase {
  const char* name;
  std::vector<uint8_t> input;
};

// Blocks that need the special forms: one literal symbol only, no copies at
// all (one position symbol), the longest copies, and more codes than one
// block may hold.
TEST(Lh5Encoder, EdgeInputsRoundTrip) {
  std::vector<EdgeCase> cases;
  cases.push_back({"one byte", {0x42}});
  cases.push_back({"two different bytes", {0x00, 0xFF}});
  cases.push_back({"one byte repeated", std::vector<uint8_t>(100000, 0xFF)});
  std::vector<uint8_t> distinct(256);
  for (int i = 0; i < 256; ++i) distinct[i] = static_cast<uint8_t>(i);
  cases.push_back({"no repeats", distinct});
  cases.push_back({"random 140 KiB", generateInput(InputKind::Random, 140000, 5)});
  cases.push_back({"small alphabet 200 KiB", generateInput(InputKind::SmallAlphabet, 200000, 6)});
  std::vector<uint8_t> far;
  auto chunk = generateInput(InputKind::Random, 8191, 9);
  far = chunk;
  far.push_back(0x11);
  far.insert(far.end(), chunk.begin(), chunk.end());  // a copy from exactly 8,192 back
  cases.push_back({"copy from the far end of the window", far});
  for (const EdgeCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool optimal : {false, true}) roundTrip(c.input, {.maxChain = 256, .niceLength = 256, .optimalParse = optimal});
  }
  EXPECT_TRUE(lh5::encode({}).empty());
}

TEST(Lh5Encoder, RepeatedDataUsesTheWholeWindow) {
  auto chunk = generateInput(InputKind::Random, 8000, 3);
  std::vector<uint8_t> input;
  for (int i = 0; i < 20; ++i) input.insert(input.end(), chunk.begin(), chunk.end());
  std::vector<uint8_t> stream = roundTrip(input);
  EXPECT_LT(stream.size(), 8000u + 8000u / 4);
}

TEST(Lh5HuffmanCode, LengthsAreLimitedAndComplete) {
  // Fibonacci frequencies make the deepest unlimited tree.
  std::vector<uint32_t> freq(40);
  uint32_t a = 1, b = 1;
  for (auto& f : freq) {
    f = a;
    uint32_t next = a + b;
    a = b;
    b = next;
  }
  std::vector<uint8_t> lengths(freq.size());
  ASSERT_EQ(lh5::buildCodeLengths(freq, lengths, 16), 40);
  double kraft = 0;
  for (uint8_t len : lengths) {
    ASSERT_GE(len, 1);
    ASSERT_LE(len, 16);
    kraft += 1.0 / (1u << len);
  }
  EXPECT_DOUBLE_EQ(kraft, 1.0);
  std::vector<uint32_t> one = {0, 5, 0};
  std::vector<uint8_t> l3(3);
  EXPECT_EQ(lh5::buildCodeLengths(one, l3), 1);
  EXPECT_EQ(l3, std::vector<uint8_t>(3, 0));
}

}  // namespace
}  // namespace zorv::firmware::test
