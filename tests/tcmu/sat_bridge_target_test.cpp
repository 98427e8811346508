#include "tcmu/sat_bridge_target.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/sim_fixture.h"

namespace zorv::tcmu {
namespace {

constexpr int kUsbSlot = 1;  // the default bay's drive behind a USB bridge

// One command with its data in two segments, as a ring hands it over.
struct Exchange {
  std::vector<uint8_t> cdb;
  std::vector<uint8_t> data;
  TcmuResponse response;

  Exchange(std::vector<uint8_t> c, size_t bytes) : cdb(std::move(c)), data(bytes, 0) {}
  void run(SatBridgeTarget& target) {
    TcmuCommand command;
    command.cdb = cdb;
    const size_t half = data.size() / 2;
    if (half) command.data.emplace_back(data.data(), half);
    if (data.size() > half) command.data.emplace_back(data.data() + half, data.size() - half);
    target.execute(command, response);
  }
};

// CHECK POWER MODE with CK_COND: a non-data command whose result is its count.
std::vector<uint8_t> checkPowerMode16() { return {0x85, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0xE5, 0}; }

// MODE SELECT(10), PF, 20 bytes: an empty header and the control page.
std::vector<uint8_t> modeSelectControl() { return {0x55, 0x10, 0, 0, 0, 0, 0, 0, 20, 0}; }

std::vector<uint8_t> controlParameters(bool dSense) {
  std::vector<uint8_t> p(20, 0);
  p[8] = 0x0A;
  p[9] = 0x0A;
  p[10] = dSense ? 0x04 : 0x00;
  return p;
}

class BridgeTest : public ::testing::Test {
 protected:
  test::SimFixture sim{kUsbSlot};
  std::shared_ptr<sim::SimController> controller() { return sim.bay->controller(kUsbSlot); }

  void selectDescriptorSense(SatBridgeTarget& target, bool on) {
    Exchange select(modeSelectControl(), 20);
    select.data = controlParameters(on);
    select.run(target);
    ASSERT_EQ(select.response.scsiStatus, 0x00);
  }
};

TEST_F(BridgeTest, ControlPageChoosesTheSenseFormat) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  SatBridgeTarget target(controller());
  Exchange sense({0x5A, 0x08, 0x0A, 0, 0, 0, 0, 0, 64, 0}, 64);
  sense.run(target);
  ASSERT_EQ(sense.response.scsiStatus, 0x00);
  EXPECT_EQ(sense.data[8], 0x0A);
  EXPECT_EQ(sense.data[9], 0x0A);
  EXPECT_EQ(sense.data[10] & 0x04, 0);
  EXPECT_TRUE(sense.response.shortRead);
  EXPECT_EQ(sense.response.readLength, 20u);

  // Fixed format: SAT's layout, ERROR STATUS DEVICE COUNT at 3-6.
  Exchange fixed(checkPowerMode16(), 0);
  fixed.run(target);
  ASSERT_EQ(fixed.response.scsiStatus, 0x02);
  EXPECT_EQ(fixed.response.sense[0], 0x70);
  EXPECT_EQ(fixed.response.sense[2], 0x01);
  EXPECT_EQ(fixed.response.sense[13], 0x1D);
  EXPECT_EQ(fixed.response.sense[4], 0x50);
  EXPECT_EQ(fixed.response.sense[6], 0xFF);

  selectDescriptorSense(target, true);
  EXPECT_TRUE(target.descriptorSense());
  Exchange again({0x1A, 0x08, 0x0A, 0, 64, 0}, 64);
  again.run(target);
  EXPECT_EQ(again.data[4 + 2] & 0x04, 0x04);

  Exchange descriptor(checkPowerMode16(), 0);
  descriptor.run(target);
  const auto& s = descriptor.response.sense;
  EXPECT_EQ(s[0], 0x72);
  EXPECT_EQ(s[1], 0x01);
  EXPECT_EQ(s[3], 0x1D);
  EXPECT_EQ(s[7], 14);
  EXPECT_EQ(s[8], 0x09);
  EXPECT_EQ(s[9], 0x0C);
  EXPECT_EQ(s[8 + 5], 0xFF);   // COUNT 7:0
  EXPECT_EQ(s[8 + 13], 0x50);  // STATUS

  selectDescriptorSense(target, false);
  EXPECT_FALSE(target.descriptorSense());
}

// A read error past LBA 2^24 with READ DMA EXT: descriptor format carries
// the failing LBA's high-order bytes, fixed format only a flag.
TEST_F(BridgeTest, DescriptorSenseCarriesTheHighOrderRegisters) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  sim::Fault fault;
  fault.kind = sim::FaultKind::ReadError;
  fault.lba = 0x01234567;
  fault.blocks = 1;
  ASSERT_TRUE(sim.bay->addFault(kUsbSlot, fault, sim.error)) << sim.error;
  // READ DMA EXT, DMA protocol, 1 block, CK_COND.
  const std::vector<uint8_t> read = {0x85, 0x0D, 0x2E, 0, 0, 0, 1, 0x01, 0x67, 0, 0x45, 0, 0x23, 0x40, 0x25, 0};

  SatBridgeTarget target(controller());
  Exchange fixed(read, 512);
  fixed.run(target);
  ASSERT_EQ(fixed.response.scsiStatus, 0x02);
  EXPECT_EQ(fixed.response.sense[0], 0x70);
  EXPECT_EQ(fixed.response.sense[4], 0x51);
  EXPECT_EQ(fixed.response.sense[3], 0x40);      // UNC
  EXPECT_EQ(fixed.response.sense[8], 0x80 | 0x20);  // EXTEND, LBA UPPER NONZERO
  EXPECT_EQ(fixed.response.sense[9], 0x67);

  selectDescriptorSense(target, true);
  Exchange descriptor(read, 512);
  descriptor.run(target);
  const uint8_t* d = descriptor.response.sense.data() + 8;
  EXPECT_EQ(descriptor.response.sense[1], 0x03);  // MEDIUM ERROR
  EXPECT_EQ(d[0], 0x09);
  EXPECT_EQ(d[2], 0x01);  // EXTEND
  EXPECT_EQ(d[3], 0x40);
  EXPECT_EQ(d[6], 0x01);  // LBA 31:24
  EXPECT_EQ(d[7], 0x67);
  EXPECT_EQ(d[9], 0x45);
  EXPECT_EQ(d[11], 0x23);
  EXPECT_EQ(d[13], 0x51);
}

TEST_F(BridgeTest, ABridgeThatRefusesModeSelectKeepsFixedFormat) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  SatBridgeTarget target(controller(), {true});
  Exchange select(modeSelectControl(), 20);
  select.data = controlParameters(true);
  select.run(target);
  EXPECT_EQ(select.response.scsiStatus, 0x02);
  EXPECT_EQ(select.response.sense[2], 0x05);
  EXPECT_EQ(select.response.sense[12], 0x20);
  EXPECT_FALSE(target.descriptorSense());
  // Its changeable values say so too.
  Exchange changeable({0x5A, 0x08, 0x4A, 0, 0, 0, 0, 0, 64, 0}, 64);
  changeable.run(target);
  EXPECT_EQ(changeable.data[10], 0x00);
}

TEST_F(BridgeTest, ModeSelectOfAPageItDoesNotKnowChangesNothing) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  SatBridgeTarget target(controller());
  Exchange select({0x55, 0x10, 0, 0, 0, 0, 0, 0, 32, 0}, 32);
  select.data = controlParameters(true);
  select.data.resize(32, 0);
  select.data[20] = 0x1C;  // informational exceptions control page
  select.data[21] = 0x0A;
  select.run(target);
  EXPECT_EQ(select.response.scsiStatus, 0x02);
  EXPECT_EQ(select.response.sense[12], 0x26);
  EXPECT_FALSE(target.descriptorSense());

  Exchange truncated({0x55, 0x10, 0, 0, 0, 0, 0, 0, 14, 0}, 14);
  truncated.data = controlParameters(true);
  truncated.data.resize(14);
  truncated.run(target);
  EXPECT_EQ(truncated.response.sense[12], 0x1A);
  EXPECT_FALSE(target.descriptorSense());
}

TEST_F(BridgeTest, DataMovesThroughEverySegment) {
  ASSERT_TRUE(sim.ok()) << sim.error;
  SatBridgeTarget target(controller());
  Exchange write({0x2A, 0, 0, 0, 0x10, 0, 0, 0, 2, 0}, 1024);
  for (size_t i = 0; i < write.data.size(); ++i) write.data[i] = static_cast<uint8_t>(i * 7);
  write.run(target);
  ASSERT_EQ(write.response.scsiStatus, 0x00);
  Exchange read({0x28, 0, 0, 0, 0x10, 0, 0, 0, 2, 0}, 1024);
  read.run(target);
  ASSERT_EQ(read.response.scsiStatus, 0x00);
  EXPECT_EQ(read.data, write.data);
  EXPECT_FALSE(read.response.shortRead);
}

TEST(BridgeDirection, FromTheCdb) {
  using sim::DataDir;
  struct Case {
    std::vector<uint8_t> cdb;
    DataDir dir;
  };
  const Case cases[] = {
      {{0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, DataDir::In},
      {{0x85, 0x0A, 0x06, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xE8, 0}, DataDir::Out},
      {{0x85, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE5, 0}, DataDir::None},
      {{0xA1, 0x08, 0x0E, 0, 1, 0, 0, 0, 0, 0xEC, 0, 0}, DataDir::In},
      {{0x85, 0x08}, DataDir::None},  // too short to say
      {{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, DataDir::In},
      {{0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, DataDir::Out},
      {{0x55, 0x10, 0, 0, 0, 0, 0, 0, 20, 0}, DataDir::Out},
      {{0x00, 0, 0, 0, 0, 0}, DataDir::None},
      {{}, DataDir::None},
  };
  for (const Case& c : cases) EXPECT_EQ(dataDirectionOf(c.cdb), c.dir) << int(c.cdb.empty() ? -1 : c.cdb[0]);
}

}  // namespace
}  // namespace zorv::tcmu
