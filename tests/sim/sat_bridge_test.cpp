#include <gtest/gtest.h>

#include "sim/sat_decode.h"
#include "sim_test_util.h"

namespace zorv {
namespace {

using sim::DataDir;
using sim::SatRequest;
using Cdb = std::array<uint8_t, 16>;

struct DecodeCase {
  const char* what;
  Cdb cdb;
  DataDir hostDir;
  uint32_t hostLength;
  SatRequest::Outcome outcome;
  DataDir ataDir;
  uint32_t ataLength;
};

TEST(SatBridge, DecodesProtocolDirectionAndLengthAndRefusesWhatABridgeRefuses) {
  using O = SatRequest::Outcome;
  const DecodeCase cases[] = {
      {"IDENTIFY as the transport sends it", {0x85, 0x08, 0x1E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x40, 0xEC, 0},
       DataDir::In, 512, O::Execute, DataDir::In, 512},
      {"PIO length follows the host buffer (F7h, count 0)", {0x85, 0x08, 0x1E, 0, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF7, 0},
       DataDir::In, 65536, O::Execute, DataDir::In, 65536},
      {"UDMA in, 16 blocks", {0x85, 0x15, 0x1E, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0x40, 0x25, 0}, DataDir::In, 8192,
       O::Execute, DataDir::In, 8192},
      {"UDMA out, 0x0100 blocks via EXTEND", {0x85, 0x17, 0x16, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x35, 0},
       DataDir::Out, 131072, O::Execute, DataDir::Out, 131072},
      {"non-data", {0x85, 0x06, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE7, 0}, DataDir::None, 0, O::Execute,
       DataDir::None, 0},
      {"hardware reset: the command is not sent", {0x85, 0x00, 0x16, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEF, 0},
       DataDir::Out, 512, O::ResetOnly, DataDir::None, 0},
      {"FPDMA is refused", {0x85, 0x18, 0x1E, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x40, 0x60, 0}, DataDir::In, 4096,
       O::Refused, DataDir::None, 0},
      {"reserved protocol 2", {0x85, 0x04, 0x1E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, DataDir::In, 512, O::Refused,
       DataDir::None, 0},
      {"PIO in without a length", {0x85, 0x08, 0x0C, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, DataDir::In, 512,
       O::Refused, DataDir::None, 0},
      {"T_LENGTH 3", {0x85, 0x08, 0x1F, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, DataDir::In, 512, O::Refused,
       DataDir::None, 0},
      {"PIO in with T_DIR out", {0x85, 0x08, 0x16, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, DataDir::Out, 512,
       O::Refused, DataDir::None, 0},
      {"host direction contradicts T_DIR", {0x85, 0x0A, 0x16, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xE8, 0}, DataDir::In,
       512, O::Refused, DataDir::None, 0},
      {"DMA longer than the host buffer", {0x85, 0x15, 0x1E, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0x40, 0x25, 0},
       DataDir::In, 4096, O::Refused, DataDir::None, 0},
      {"DMA with a zero count", {0x85, 0x15, 0x1E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x25, 0}, DataDir::In, 4096,
       O::Refused, DataDir::None, 0},
  };
  for (const DecodeCase& c : cases) {
    SatRequest r = sim::decodeSatCdb(c.cdb, c.hostDir, c.hostLength);
    EXPECT_EQ(r.outcome, c.outcome) << c.what;
    if (r.outcome == O::Refused) {
      EXPECT_EQ(r.senseKey, 0x05) << c.what;
      EXPECT_EQ(r.asc, 0x24) << c.what;
    }
    if (r.outcome == O::Execute) {
      EXPECT_EQ(r.command.dir, c.ataDir) << c.what;
      EXPECT_EQ(r.ataLength, c.ataLength) << c.what;
      EXPECT_EQ(r.command.regs.command, c.cdb[14]) << c.what;
    }
  }
}

TEST(SatBridge, RegisterMappingHonoursExtend) {
  Cdb cdb = {0x85, 0x15, 0x1E, 0xAA, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0x40, 0x25, 0};
  SatRequest r = sim::decodeSatCdb(cdb, DataDir::In, 0x2233 * 512);
  ASSERT_EQ(r.outcome, SatRequest::Outcome::Execute);
  EXPECT_EQ(r.command.regs.lba48(), 0x886644997755ULL);
  EXPECT_EQ(r.command.regs.count16(), 0x2233u);
  EXPECT_EQ(r.command.regs.features, 0x11);

  cdb[1] = 0x0C;  // DMA without EXTEND: the high halves are not sent
  cdb[6] = 1;
  r = sim::decodeSatCdb(cdb, DataDir::In, 512);
  ASSERT_EQ(r.outcome, SatRequest::Outcome::Execute);
  EXPECT_FALSE(r.command.ext);
  EXPECT_EQ(r.command.regs.lba48(), 0x997755ULL);
}

// Over a whole drive: commands the USB table does not list run as non-data
// behind the bridge, as they do on SATA; the drive's refusal is a failure.
TEST(SatBridge, UnlistedCommandsRunAsNonDataOnBothPaths) {
  test::SimFixture sim(1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  for (int slot : {1, 0}) {
    ASSERT_TRUE(sim.select(slot));
    AtaTaskFile bogus{.ucFeature = 0x77, .ucCommand = 0xEF};  // SET FEATURES with a subcommand the drive refuses
    EXPECT_FALSE(SendAtaCommand(ctx, false, bogus, false, 0)) << "slot " << slot;
    AtaTaskFile writeCache{.ucFeature = 0x02, .ucCommand = 0xEF};
    EXPECT_TRUE(SendAtaCommand(ctx, false, writeCache, false, 0)) << "slot " << slot;
    AtaTaskFile power{.ucDevice = 0x40, .ucCommand = 0xE5};
    EXPECT_TRUE(SendAtaCommand(ctx, false, power, false, 0)) << "slot " << slot;
    AtaTaskFile flush{.ucDevice = 0x40, .ucCommand = 0xEA};  // 48-bit: EXTEND
    EXPECT_TRUE(SendAtaCommand(ctx, true, flush, false, 0)) << "slot " << slot;
  }
}

// Protocol 0 is a hardware reset: the bridge resets the drive, which drops
// what it held only while running (here a staged hardware-ID sector), and
// the command in the CDB never runs.
TEST(SatBridge, HardwareResetProtocolResetsTheDriveInsteadOfRunningTheCommand) {
  test::SimFixture sim(1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  auto stage = [&] {
    AtaTaskFile tf{.ucFeature = 0x17, .ucCommand = 0xF7};
    return SendAtaCommand(ctx, true, tf, false, 512);
  };
  auto commit = [&] {
    AtaTaskFile tf{.ucFeature = 0x1B, .ucCommand = 0xF7};
    return SendAtaCommand(ctx, true, tf, false, 512);
  };
  ctx.SectorBuffer.data()[15] = 0x5C;
  ASSERT_TRUE(stage());
  ASSERT_TRUE(commit());

  ASSERT_TRUE(stage());
  ScsiRequest reset;
  reset.cdbLength = 16;
  reset.dataIn = kScsiDataOut;
  reset.cdb = {0x85, 0x00, 0x20, 0, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0xEF, 0};
  ASSERT_TRUE(sim.port->scsiPassThrough("sim:1", reset).ok());
  // With CK_COND the bridge shows the signature the drive reset to.
  EXPECT_EQ(reset.scsiStatus, 0x02);
  EXPECT_EQ(reset.sense[2] & 0x0F, 0x01);
  EXPECT_EQ(reset.sense[13], 0x1D);
  EXPECT_EQ(reset.sense[4], 0x50) << "status";
  EXPECT_EQ(reset.sense[6], 0x01) << "count";
  EXPECT_EQ(reset.sense[9], 0x01) << "LBA 7:0";
  EXPECT_FALSE(commit()) << "the staged sector did not survive the reset";
}

TEST(SatBridge, CheckConditionCarriesTheAtaRegistersWhenAsked) {
  test::SimFixture sim(1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  ScsiRequest r;
  r.cdbLength = 16;
  r.dataIn = kScsiDataIn;
  // EXECUTE DEVICE DIAGNOSTIC, non-data, CK_COND set: the bridge returns the
  // registers in RECOVERED ERROR / ATA PASS-THROUGH INFORMATION AVAILABLE.
  r.cdb = {0x85, 0x06, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x90, 0};
  ASSERT_TRUE(sim.port->scsiPassThrough("sim:1", r).ok());
  EXPECT_EQ(r.scsiStatus, 0x02);
  EXPECT_EQ(r.sense[2] & 0x0F, 0x01);
  EXPECT_EQ(r.sense[12], 0x00);
  EXPECT_EQ(r.sense[13], 0x1D);
  EXPECT_EQ(r.sense[3], 0x01) << "error register: diagnostic passed";
  EXPECT_EQ(r.sense[4], 0x50) << "status";
  EXPECT_EQ(r.sense[6], 0x01) << "count: signature";
}

}  // namespace
}  // namespace zorv
