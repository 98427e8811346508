#include <gtest/gtest.h>

#include <numeric>

#include "sim/identify_data.h"
#include "sim_test_util.h"

namespace zorv {
namespace {

using test::SimFixture;

struct IdentifyCase {
  int slot;
  const char* model;
  uint8_t busType;
};

TEST(SimIdentify, AnswersWithACompleteStructureOnBothPaths) {
  const IdentifyCase cases[] = {{0, "ORBENNE PA256 SSD", kBusSata}, {1, "ORBENNE TA512 SSD", kBusUsb}};
  for (const IdentifyCase& c : cases) {
    SimFixture sim(c.slot);
    ASSERT_TRUE(sim.ok()) << sim.error;
    Context& ctx = sim.ctx();
    ASSERT_EQ(ctx.selectedDrive().ucBusType, c.busType);
    ASSERT_TRUE(test::sendIdentify(ctx)) << c.model;
    sim::SimIdentity id = sim.bay->controller(c.slot)->withDrive([](sim::SimDrive& d) { return d.identity(); });

    EXPECT_EQ(test::ataString(ctx, 27, 20), test::padded(c.model, 40));
    EXPECT_EQ(test::ataString(ctx, 10, 10), test::padded(id.serial, 20));
    EXPECT_EQ(test::ataString(ctx, 23, 4), id.firmware);
    EXPECT_EQ(id.firmware.size(), 8u);
    uint64_t sectors = uint64_t{test::word(ctx, 100)} | uint64_t{test::word(ctx, 101)} << 16 |
                       uint64_t{test::word(ctx, 102)} << 32 | uint64_t{test::word(ctx, 103)} << 48;
    EXPECT_EQ(sectors, id.capacity);
    uint32_t lba28 = test::word(ctx, 60) | uint32_t{test::word(ctx, 61)} << 16;
    EXPECT_EQ(lba28, std::min<uint64_t>(id.capacity, 0x0FFFFFFF));
    uint64_t wwn = uint64_t{test::word(ctx, 108)} << 48 | uint64_t{test::word(ctx, 109)} << 32 |
                   uint64_t{test::word(ctx, 110)} << 16 | test::word(ctx, 111);
    EXPECT_EQ(wwn, id.wwn);
    EXPECT_EQ(wwn >> 60, 5u) << "NAA 5";
    EXPECT_EQ(test::ataString(ctx, 135, 1), "GB");
    EXPECT_EQ(test::word(ctx, 88), 0x407F) << "UDMA 6 selected";
    EXPECT_TRUE(test::word(ctx, 83) & (1 << 10)) << "48-bit addressing";
    EXPECT_TRUE(test::word(ctx, 76) & (1 << 2)) << "SATA Gen 2";
    EXPECT_EQ(ctx.SectorBuffer[510], 0xA5);
    uint8_t sum = std::accumulate(ctx.SectorBuffer.data(), ctx.SectorBuffer.data() + 512, uint8_t{0},
                                  [](uint8_t a, uint8_t b) { return static_cast<uint8_t>(a + b); });
    EXPECT_EQ(sum, 0) << "integrity word";
  }
}

}  // namespace
}  // namespace zorv
