// Our encoder and decoder against liblhasa, an independent lh5 decoder, on
// many generated inputs: whatever we encode, both decoders must give back
// the input; and on damaged streams, whatever our decoder accepts must be
// what liblhasa makes of the same bytes.

#include <gtest/gtest.h>

#include <random>

#include "firmware/lh5/decoder.h"
#include "firmware/lh5/encoder.h"
#include "firmware_test_util.h"

namespace zorv::firmware::test {
namespace {

struct Generated {
  InputKind kind;
  const char* name;
};

const Generated kKinds[] = {{InputKind::Random, "random"},
                            {InputKind::Text, "text"},
                            {InputKind::Runs, "runs"},
                            {InputKind::SmallAlphabet, "small alphabet"},
                            {InputKind::Firmware, "firmware"}};

TEST(Lh5Differential, EncodedInputsDecodeTheSameWithLiblhasa) {
  const size_t sizes[] = {1, 2, 3, 4, 17, 255, 256, 257, 4096, 8191, 8192, 8193, 30000, 70000};
  int count = 0;
  for (const Generated& g : kKinds) {
    for (size_t size : sizes) {
      for (uint64_t seed = 1; seed <= 2; ++seed) {
        SCOPED_TRACE(std::string(g.name) + " size " + std::to_string(size) + " seed " + std::to_string(seed));
        std::vector<uint8_t> input = generateInput(g.kind, size, seed * 7919 + size);
        // The full encoder on the smaller inputs, a quick one on the rest.
        lh5::EncoderOptions options;
        options.optimalParse = seed == 1 && size <= 30000;
        if (!options.optimalParse) options.maxChain = 32;
        std::vector<uint8_t> stream = lh5::encode(input, options);
        std::vector<uint8_t> ours(input.size());
        auto result = lh5::decode(stream, ours);
        ASSERT_EQ(result.status, lh5::DecodeStatus::Ok) << lh5::describe(result.status);
        ASSERT_EQ(ours, input);
        ASSERT_EQ(lhasaDecode(stream, input.size()), input);
        ++count;
      }
    }
  }
  EXPECT_EQ(count, 140);
}

TEST(Lh5Differential, FixtureStreamsDecodeTheSameWithLiblhasa) {
  for (const char* name : {"dos_lha213", "win_explzh723", "dos_lha213_long", "fw_jlha"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> stream = readFixture(std::string("lh5/") + name + ".lh5");
    std::vector<uint8_t> expected = readFixture(std::string("lh5/") + name + ".out");
    std::vector<uint8_t> ours(expected.size());
    ASSERT_TRUE(lh5::decode(stream, ours).ok());
    EXPECT_EQ(lhasaDecode(stream, expected.size()), ours);
  }
}

// Flipped bits, cut and spliced streams: our decoder either refuses the
// stream or agrees with liblhasa byte for byte.
TEST(Lh5Differential, DamagedStreamsAreRefusedOrDecodedAlike) {
  std::mt19937_64 rng(20240611);
  int accepted = 0;
  int refused = 0;
  for (int round = 0; round < 250; ++round) {
    const Generated& g = kKinds[round % std::size(kKinds)];
    std::vector<uint8_t> input = generateInput(g.kind, 2000 + rng() % 20000, rng());
    std::vector<uint8_t> stream = lh5::encode(input, {.maxChain = 64, .niceLength = 64, .optimalParse = false});
    switch (rng() % 3) {
      case 0:  // flip a few bits
        for (int k = 0; k < 1 + static_cast<int>(rng() % 3); ++k) stream[rng() % stream.size()] ^= 1u << (rng() % 8);
        break;
      case 1:  // cut
        stream.resize(rng() % stream.size());
        break;
      default:  // overwrite a run with random bytes
        for (size_t i = rng() % stream.size(), n = 1 + rng() % 16; n > 0 && i < stream.size(); --n, ++i)
          stream[i] = static_cast<uint8_t>(rng());
        break;
    }
    std::vector<uint8_t> ours(input.size());
    auto result = lh5::decode(stream, ours);
    ASSERT_LE(result.produced, input.size());
    if (!result.ok()) {
      ++refused;
      continue;
    }
    ++accepted;
    std::vector<uint8_t> theirs = lhasaDecode(stream, input.size());
    ASSERT_EQ(theirs, ours) << "round " << round;
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(accepted, 0);
}

}  // namespace
}  // namespace zorv::firmware::test
