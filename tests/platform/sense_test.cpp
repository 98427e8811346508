#include "platform/linux/sense.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/linux/sat_pass_through.h"

namespace zorv::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using Fixed = std::array<uint8_t, kSenseLength>;

// Descriptor sense as libata builds it for a good 48-bit completion with
// CK_COND: RECOVERED ERROR, ATA PASS-THROUGH INFORMATION AVAILABLE (00h/1Dh).
const Bytes kDescriptorGood = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x0E,  // header
                               0x09, 0x0C, 0x01, 0x00,                          // 09h, EXTEND, ERROR
                               0x00, 0x01,                                      // COUNT 15:8, 7:0
                               0x12, 0x78, 0x9A, 0x56, 0xBC, 0x34,              // LBA pairs
                               0x40, 0x50};                                     // DEVICE, STATUS

AtaReturn parse(const Bytes& sense, SenseLayout expected) {
  AtaReturn r;
  EXPECT_EQ(parseAtaReturn(sense.data(), sense.size(), r), expected);
  return r;
}

TEST(AtaReturn, DescriptorGivesEveryRegisterAndMapsIntoTheTaskFiles) {
  AtaReturn r = parse(kDescriptorGood, SenseLayout::Descriptor);
  EXPECT_TRUE(r.extend);
  EXPECT_TRUE(r.lowKnown);
  EXPECT_TRUE(r.highKnown);
  AtaPassThroughRequest req;
  req.currentTaskFile.fill(0xEE);
  req.previousTaskFile.fill(0xEE);
  applyAtaReturn(r, req);
  const std::array<uint8_t, 8> current = {0x00, 0x01, 0x78, 0x56, 0x34, 0x40, 0x50, 0x00};
  const std::array<uint8_t, 8> previous = {0x00, 0x00, 0x12, 0x9A, 0xBC, 0x00, 0x00, 0x00};
  EXPECT_EQ(req.currentTaskFile, current);
  EXPECT_EQ(req.previousTaskFile, previous);
}

TEST(AtaReturn, DescriptorIsFoundAfterOtherDescriptors) {
  Bytes sense = {0x72, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1A,
                 0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 0, 0, 0, 0x12, 0x34};  // information
  sense.insert(sense.end(), kDescriptorGood.begin() + 8, kDescriptorGood.end());
  sense[sense.size() - 1] = 0x51;  // STATUS with ERR
  sense[11 + 12] = 0x04;           // ERROR: ABRT
  AtaReturn r = parse(sense, SenseLayout::Descriptor);
  EXPECT_EQ(r.status, 0x51);
  EXPECT_EQ(r.error, 0x04);
}

TEST(AtaReturn, DescriptorOutsideTheReturnedBytesIsNotRead) {
  // Cut inside the descriptor; then a sense length that excludes it.
  Bytes cut(kDescriptorGood.begin(), kDescriptorGood.begin() + 16);
  parse(cut, SenseLayout::None);
  Bytes shortLength = kDescriptorGood;
  shortLength[7] = 0x06;
  parse(shortLength, SenseLayout::None);
  // A descriptor that claims to run past the end.
  Bytes overlong = kDescriptorGood;
  overlong[9] = 0x40;
  parse(overlong, SenseLayout::None);
}

// The same registers (ERROR 04h, STATUS 51h, DEVICE 40h, COUNT 01h,
// LBA 30h:20h:10h) in the standard fixed layout and in the one Linux wrote
// before 6.11.
const Bytes kFixedStandard = {0x70, 0x00, 0x0B, 0x04, 0x51, 0x40, 0x01, 0x0A, 0x00,
                              0x10, 0x20, 0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kFixedLegacy = {0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04, 0x51,
                            0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x20, 0x30};

TEST(AtaReturn, FixedFormatInBothLayoutsGivesTheSameRegisters) {
  AtaReturn standard = parse(kFixedStandard, SenseLayout::FixedStandard);
  AtaReturn legacy = parse(kFixedLegacy, SenseLayout::FixedLegacy);
  for (const AtaReturn& r : {standard, legacy}) {
    EXPECT_EQ(r.error, 0x04);
    EXPECT_EQ(r.status, 0x51);
    EXPECT_EQ(r.device, 0x40);
    EXPECT_EQ(r.count[0], 0x01);
    EXPECT_EQ(r.lba[0], 0x10);
    EXPECT_EQ(r.lba[1], 0x20);
    EXPECT_EQ(r.lba[2], 0x30);
    EXPECT_FALSE(r.extend);
    EXPECT_TRUE(r.lowKnown);
    EXPECT_TRUE(r.highKnown);
  }
}

TEST(AtaReturn, FixedStandardWithValidBitAndSuccessKey) {
  Bytes sense = kFixedStandard;
  sense[0] = 0xF0;
  sense[2] = 0x01;
  sense[3] = 0x00;
  sense[4] = 0x50;
  sense[12] = 0x00;
  sense[13] = 0x1D;
  AtaReturn r = parse(sense, SenseLayout::FixedStandard);
  EXPECT_EQ(r.status, 0x50);
}

TEST(AtaReturn, FixedFormatCannotCarryHighOrderRegisters) {
  Bytes standard = kFixedStandard;
  standard[8] = 0x80;  // EXTEND, upper bytes zero: known to be zero
  AtaReturn sent;
  sent.lba = {1, 2, 3, 4, 5, 6};
  sent.count = {7, 8};
  AtaReturn r = sent;
  EXPECT_EQ(parseAtaReturn(standard.data(), standard.size(), r), SenseLayout::FixedStandard);
  EXPECT_TRUE(r.highKnown);
  EXPECT_EQ(r.lba, (std::array<uint8_t, 6>{0x10, 0x20, 0x30, 0, 0, 0}));
  EXPECT_EQ(r.count[1], 0);

  standard[8] = 0xA0;  // LBA UPPER NONZERO: the sent upper bytes stay
  r = sent;
  EXPECT_EQ(parseAtaReturn(standard.data(), standard.size(), r), SenseLayout::FixedStandard);
  EXPECT_TRUE(r.extend);
  EXPECT_TRUE(r.lowKnown);
  EXPECT_FALSE(r.highKnown);
  EXPECT_EQ(r.lba, (std::array<uint8_t, 6>{0x10, 0x20, 0x30, 4, 5, 6}));
  EXPECT_EQ(r.count[1], 0);
  standard[8] = 0xC0;  // COUNT UPPER NONZERO
  r = sent;
  EXPECT_EQ(parseAtaReturn(standard.data(), standard.size(), r), SenseLayout::FixedStandard);
  EXPECT_FALSE(r.highKnown);
  EXPECT_EQ(r.count[1], 8);

  Bytes legacy = kFixedLegacy;
  legacy[16] = 0xA0;
  EXPECT_FALSE(parse(legacy, SenseLayout::FixedLegacy).highKnown);
}

TEST(AtaReturn, LegacyLayoutCutAtEighteenBytesLosesTheUpperLbaBytes) {
  Bytes cut(kFixedLegacy.begin(), kFixedLegacy.begin() + 18);
  AtaReturn r;
  r.lba = {0xA1, 0xA2, 0xA3, 0, 0, 0};
  EXPECT_EQ(parseAtaReturn(cut.data(), cut.size(), r), SenseLayout::FixedLegacy);
  EXPECT_EQ(r.status, 0x51);
  EXPECT_EQ(r.lba[0], 0x10);
  EXPECT_EQ(r.lba[1], 0xA2) << "not returned: keeps what it held";
  EXPECT_EQ(r.lba[2], 0xA3);
  EXPECT_FALSE(r.lowKnown);
}

TEST(AtaReturn, SenseWithoutRegistersIsRecognised) {
  const Bytes invalidField = {0x70, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,
                              0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0xC0, 0x00, 0x02};
  const Bytes descriptorWithout = {0x72, 0x05, 0x24, 0x00, 0x00, 0x00, 0x00, 0x00};
  const Bytes empty;
  const Bytes notSense = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x51};
  const Bytes tiny = {0x72, 0x01};
  for (const Bytes* b : {&invalidField, &descriptorWithout, &empty, &notSense, &tiny}) parse(*b, SenseLayout::None);
  AtaReturn r;
  EXPECT_EQ(parseAtaReturn(nullptr, 32, r), SenseLayout::None);
}

TEST(SenseToFixed, DescriptorFieldsLandWhereFixedFormatKeepsThem) {
  const Bytes sense = {0x72, 0x03, 0x11, 0x04, 0x00, 0x00, 0x00, 0x24,
                       0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78,    // information
                       0x01, 0x0A, 0x00, 0x00, 0, 0, 0, 0, 0xCA, 0xFE, 0xBA, 0xBE,    // command-specific
                       0x02, 0x06, 0x00, 0x00, 0xC0, 0x00, 0x02, 0x00,                // sense-key specific
                       0x03, 0x02, 0x00, 0x77};                                       // FRU
  Fixed out;
  senseToFixed(sense.data(), sense.size(), out);
  const Fixed expected = {0xF0, 0x00, 0x03, 0x12, 0x34, 0x56, 0x78, 0x0A, 0xCA,
                          0xFE, 0xBA, 0xBE, 0x11, 0x04, 0x77, 0xC0, 0x00, 0x02};
  EXPECT_EQ(out, expected);
}

TEST(SenseToFixed, DeferredAndOversizedInformation) {
  const Bytes sense = {0x73, 0x06, 0x29, 0x00, 0x00, 0x00, 0x00, 0x0C,
                       0x00, 0x0A, 0x80, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
  Fixed out;
  senseToFixed(sense.data(), sense.size(), out);
  EXPECT_EQ(out[0], 0x71);  // deferred; VALID clear: the value does not fit
  EXPECT_EQ(out[2], 0x06);
  EXPECT_EQ(out[3] | out[4] | out[5] | out[6], 0);
  EXPECT_EQ(out[12], 0x29);
}

TEST(SenseToFixed, AtaStatusReturnDescriptorTakesSatsFixedLayout) {
  Fixed out;
  senseToFixed(kDescriptorGood.data(), kDescriptorGood.size(), out);
  const Fixed expected = {0x70, 0x00, 0x01, 0x00, 0x50, 0x40, 0x01, 0x0A, 0xA0,
                          0x78, 0x56, 0x34, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(out, expected);
  // ... and reads back through the fixed-format parser.
  AtaReturn r;
  ASSERT_EQ(parseAtaReturn(out.data(), out.size(), r), SenseLayout::FixedStandard);
  EXPECT_EQ(r.status, 0x50);
  EXPECT_EQ(r.lba[0], 0x78);
  EXPECT_FALSE(r.highKnown);
}

TEST(SenseToFixed, FixedFormatIsKeptAsItCame) {
  Fixed out;
  senseToFixed(kFixedLegacy.data(), kFixedLegacy.size(), out);
  EXPECT_TRUE(std::equal(out.begin(), out.end(), kFixedLegacy.begin()));
  const Bytes shortSense = {0x70, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
  senseToFixed(shortSense.data(), shortSense.size(), out);
  const Fixed padded = {0x70, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x0A};
  EXPECT_EQ(out, padded);
  senseToFixed(nullptr, 0, out);
  EXPECT_EQ(out, Fixed{});
}

TEST(SenseToFixed, TruncatedDescriptorKeepsWhatIsWhole) {
  // Sense-key specific descriptor cut off by the returned length.
  const Bytes sense = {0x72, 0x05, 0x24, 0x00, 0x00, 0x00, 0x00, 0x08, 0x02, 0x06, 0x00, 0x00, 0xC0};
  Fixed out;
  senseToFixed(sense.data(), sense.size(), out);
  EXPECT_EQ(out[2], 0x05);
  EXPECT_EQ(out[12], 0x24);
  EXPECT_EQ(out[15], 0x00);
}

TEST(SenseSummary, KeyAndCodesFromBothFormats) {
  SenseSummary d = summarizeSense(kDescriptorGood.data(), kDescriptorGood.size());
  EXPECT_TRUE(d.present);
  EXPECT_TRUE(d.descriptor);
  EXPECT_EQ(d.key, 0x01);
  EXPECT_EQ(d.ascq, 0x1D);
  const Bytes notReady = {0x70, 0x00, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x04, 0x01};
  SenseSummary f = summarizeSense(notReady.data(), notReady.size());
  EXPECT_TRUE(f.present);
  EXPECT_FALSE(f.descriptor);
  EXPECT_EQ(f.key, 0x02);
  EXPECT_EQ(f.asc, 0x04);
  EXPECT_EQ(f.ascq, 0x01);
  EXPECT_FALSE(summarizeSense(nullptr, 0).present);
}

}  // namespace
}  // namespace zorv::platform
