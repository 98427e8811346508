// The write cache setting: SET FEATURES 82h turns it off and 02h on, IDENTIFY
// word 85 bit 5 follows, every process that opens the bay sees the setting,
// and a power cycle turns the cache on again, as a drive's power-on default.

#include <gtest/gtest.h>

#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "sim_test_util.h"
#include "support/test_support.h"

namespace zorv {
namespace {

using test::SimFixture;

bool setFeatures(Context& ctx, uint8_t feature) {
  AtaTaskFile tf{.ucFeature = feature, .ucCommand = 0xEF};
  return SendAtaCommand(ctx, false, tf, false, 0);
}

// Word 85 bit 5 of the drive's IDENTIFY DEVICE data.
bool writeCacheShown(Context& ctx) {
  AtaTaskFile id = test::identifyTaskFile();
  EXPECT_TRUE(SendAtaCommand(ctx, false, id, false, 512));
  return (ctx.SectorBuffer[170] & 0x20) != 0;
}

TEST(SimWriteCache, SetFeaturesTurnsItOffAndOnForEveryProcess) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  EXPECT_TRUE(writeCacheShown(ctx)) << "on from power-on";

  ASSERT_TRUE(setFeatures(ctx, 0x82));
  EXPECT_FALSE(writeCacheShown(ctx));
  // Another process opening the bay sees the drive as it is.
  std::string error;
  auto other = sim::SimBay::open(sim.dir.path(), error);
  ASSERT_TRUE(other) << error;
  EXPECT_FALSE(other->controller(0)->withDrive([](sim::SimDrive& d) { return d.record().writeCacheEnabled; }));

  ASSERT_TRUE(setFeatures(ctx, 0x02));
  EXPECT_TRUE(writeCacheShown(ctx));

  ASSERT_TRUE(setFeatures(ctx, 0x82));
  ASSERT_TRUE(sim.bay->powerCycle(0, error)) << error;
  EXPECT_TRUE(writeCacheShown(ctx)) << "a power cycle brings the default back";
}

}  // namespace
}  // namespace zorv
