// The simulated drive's side of a download, driven segment by segment
// without the host's checks: what it refuses, when it takes an image, and
// that power loss keeps the old firmware.

#include <gtest/gtest.h>

#include <cstring>

#include "firmware/image_maker.h"
#include "fwdl_support.h"
#include "transport/ata_command.h"
#include "transport/scsi_command.h"

namespace zorv::fwdl {
namespace {

using test::SimFixture;

bool sendSegment(Context& ctx, const std::vector<uint8_t>& image, size_t offset, size_t length,
                 uint8_t features = 0x03) {
  std::memcpy(ctx.SectorBuffer.data(), image.data() + offset, length);
  AtaTaskFile tf;
  tf.ucFeature = features;
  tf.ucCount = static_cast<uint8_t>(length / 512);
  tf.ucLbaLow = static_cast<uint8_t>(length / 512 >> 8);
  tf.ucLbaMid = static_cast<uint8_t>(offset / 512);
  tf.ucLbaHigh = static_cast<uint8_t>(offset / 512 >> 8);
  tf.ucDevice = 0x40;
  tf.ucCommand = 0x93;
  return SendAtaCommand(ctx, true, tf, true, static_cast<uint32_t>(length));
}

// Sends the whole image; returns how many segments the drive took.
int sendAll(Context& ctx, const std::vector<uint8_t>& image) {
  int taken = 0;
  for (size_t off = 0; off < image.size(); off += 65536) {
    if (!sendSegment(ctx, image, off, std::min<size_t>(65536, image.size() - off))) return taken;
    ++taken;
  }
  return taken;
}

std::string firmwareOf(SimFixture& sim, int slot) { return driveIn(*sim.bay, slot).identity.firmware; }

TEST(SimMicrocode, TakesTheImageWhenTheHostMovesOnAndRestarts) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<uint8_t> image = imageFor(*sim.bay, 0, "S1108A", 2 * 65536);
  EXPECT_EQ(sendAll(sim.ctx(), image), 2);
  EXPECT_EQ(firmwareOf(sim, 0), "S1107A0C");  // not yet: the host may still send
  EXPECT_FALSE(TestUnitReady(sim.ctx()));
  EXPECT_EQ(lastSenseKey(sim.ctx()), 0x02);
  EXPECT_EQ(lastSenseAsc(sim.ctx()), 0x04);
  EXPECT_EQ(firmwareOf(sim, 0), "S1108A0C");
  // Busy with its restart, ATA commands are refused until it is over.
  AtaTaskFile identify;
  identify.ucCommand = 0xEC;
  identify.ucCount = 1;
  EXPECT_FALSE(SendAtaCommand(sim.ctx(), false, identify, false, 512));
  sim.clock.advance(std::chrono::milliseconds(2000));
  EXPECT_TRUE(TestUnitReady(sim.ctx()));
  EXPECT_EQ(driveIn(*sim.bay, 0).vendor["microcode"]["updates"], 1);
}

// The identity block gives the image's length: a drive whose host stops
// early, here after the first of four segments, drops what it has when the
// host moves on and keeps running its old firmware, without a restart.
TEST(SimMicrocode, AnImageLeftIncompleteIsNeverActivated) {
  for (int slot : {0, 1}) {
    SCOPED_TRACE(slot);
    SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    const std::string before = firmwareOf(sim, slot);
    std::vector<uint8_t> image = imageFor(*sim.bay, slot, slot == 0 ? "S1108A" : "T1209B", 4 * 65536);
    ASSERT_TRUE(sendSegment(sim.ctx(), image, 0, 65536));
    EXPECT_TRUE(TestUnitReady(sim.ctx()));
    EXPECT_EQ(firmwareOf(sim, slot), before);
    EXPECT_FALSE(driveIn(*sim.bay, slot).vendor.contains("microcode") &&
                 driveIn(*sim.bay, slot).vendor["microcode"].contains("updates"));
    // What it dropped cannot be continued either.
    EXPECT_FALSE(sendSegment(sim.ctx(), image, 65536, 65536));
    EXPECT_TRUE(TestUnitReady(sim.ctx()));
    EXPECT_EQ(firmwareOf(sim, slot), before);
  }
}

// An image longer than its identity block says is no image of that
// firmware: the segment that runs past the length is refused.
TEST(SimMicrocode, RefusesBytesPastTheLengthTheIdentityBlockGives) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<uint8_t> image = imageFor(*sim.bay, 0, "S1108A", 65536);
  image.resize(2 * 65536, 0x00);  // stored form: complemented FFh padding
  EXPECT_EQ(sendAll(sim.ctx(), image), 1);
  EXPECT_TRUE(TestUnitReady(sim.ctx()));
  EXPECT_EQ(firmwareOf(sim, 0), "S1107A0C");
}

struct WrongImage {
  const char* name;
  int slot;
  int takenBeforeRefusal;  // segments taken before the drive refuses one
};
// Printed (and so in the CTest name) by its name, never by its bytes.
void PrintTo(const WrongImage& c, std::ostream* os) { *os << c.name; }

class SimMicrocodeRefuses : public ::testing::TestWithParam<WrongImage> {};

// A class 0 image is refused as soon as its identity block has arrived (in
// the first segment); a class 1 image when the segment that completes it
// ends with the identity block.
TEST_P(SimMicrocodeRefuses, AnImageForOtherHardwareAndKeepsTheOldFirmware) {
  const WrongImage& c = GetParam();
  SimFixture sim(c.slot);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sim::DriveRecord d = driveIn(*sim.bay, c.slot);
  const uint16_t cls = d.identity.modelClass;
  std::vector<uint8_t> id = hwidOf(d);
  id[0] ^= 0x01;
  std::vector<uint8_t> image = storedForm(cls, plainImage(cls, id, "Z9999Z", 3 * 65536));
  EXPECT_EQ(sendAll(sim.ctx(), image), c.takenBeforeRefusal);
  if (c.slot == 0) {
    EXPECT_TRUE(contains(sim.pane.text(), "ATA Command Error, Status = 0x51")) << sim.pane.text();
  }
  EXPECT_TRUE(TestUnitReady(sim.ctx()));
  EXPECT_EQ(firmwareOf(sim, c.slot), d.identity.firmware);
}

INSTANTIATE_TEST_SUITE_P(Classes, SimMicrocodeRefuses,
                         ::testing::Values(WrongImage{"Class0", 0, 0}, WrongImage{"Class1", 1, 2}),
                         [](const ::testing::TestParamInfo<WrongImage>& i) { return std::string(i.param.name); });

TEST(SimMicrocode, PowerLossInTheMiddleKeepsTheOldFirmware) {
  SimFixture sim(1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<uint8_t> image = imageFor(*sim.bay, 1, "T1209B", 2 * 65536);
  ASSERT_TRUE(sendSegment(sim.ctx(), image, 0, 65536));
  std::string err;
  ASSERT_TRUE(sim.bay->unplug(1, err)) << err;
  ASSERT_TRUE(sim.bay->plug(1, err)) << err;
  // The rest of the image alone is no image: its offset does not continue anything.
  EXPECT_FALSE(sendSegment(sim.ctx(), image, 65536, 65536));
  EXPECT_TRUE(TestUnitReady(sim.ctx()));
  EXPECT_EQ(firmwareOf(sim, 1), "T1208B1A");
  // And after the power cycle a whole transfer works.
  EXPECT_EQ(sendAll(sim.ctx(), image), 2);
  EXPECT_FALSE(TestUnitReady(sim.ctx()));
  EXPECT_EQ(firmwareOf(sim, 1), "T1209B1A");
}

TEST(SimMicrocode, RefusesSegmentsThatDoNotFollowOnAndOtherModes) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<uint8_t> image = imageFor(*sim.bay, 0, "S1108A", 3 * 65536);
  ASSERT_TRUE(sendSegment(sim.ctx(), image, 0, 65536));
  EXPECT_FALSE(sendSegment(sim.ctx(), image, 2 * 65536, 65536));  // a gap
  EXPECT_FALSE(sendSegment(sim.ctx(), image, 0, 65536, 0x07));    // not "offsets and save"
  EXPECT_TRUE(TestUnitReady(sim.ctx()));
  EXPECT_EQ(firmwareOf(sim, 0), "S1107A0C");
}

TEST(SimMicrocode, ForeignDrivesRefuseTheDownload) {
  SimFixture sim(2);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::vector<uint8_t> image(65536, 0x5A);
  EXPECT_FALSE(sendSegment(sim.ctx(), image, 0, 65536));
}

bool hwidSwitch(Context& ctx, uint8_t feature, bool dataOut) {
  AtaTaskFile tf;
  tf.ucCommand = 0xF7;
  tf.ucFeature = feature;
  return SendAtaCommand(ctx, dataOut, tf, false, 512);
}

TEST(SimMicrocode, HwidLastByteIsTakenFromByte15OfTheStagedSector) {
  for (int slot : {0, 1}) {
    SCOPED_TRACE(slot);
    SimFixture sim(slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    std::vector<uint8_t> before = hwidOf(driveIn(*sim.bay, slot));
    EXPECT_FALSE(hwidSwitch(sim.ctx(), 0x1B, true));  // nothing staged
    ASSERT_TRUE(hwidSwitch(sim.ctx(), 0x16, false));
    sim.ctx().SectorBuffer[15] = 0xC3;
    ASSERT_TRUE(hwidSwitch(sim.ctx(), 0x17, true));
    ASSERT_TRUE(hwidSwitch(sim.ctx(), 0x1B, true));
    std::vector<uint8_t> after = hwidOf(driveIn(*sim.bay, slot));
    std::vector<uint8_t> expected = before;
    expected.back() = 0xC3;
    EXPECT_EQ(after, expected);
  }
}

}  // namespace
}  // namespace zorv::fwdl
