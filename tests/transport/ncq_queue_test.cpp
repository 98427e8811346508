#include <gtest/gtest.h>

#include <map>
#include <set>

#include "support/test_support.h"
#include "transport/block_stamp.h"
#include "transport/ncq_queue.h"

namespace zorv {
namespace {

// A port whose queued transfers complete only when the test says so.
class HeldQueuePort : public test::RecordingPort {
 public:
  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override {
    submitted.push_back(slot);
    requests[slot] = &request;
    return RecordingPort::submitQueued(path, slot, request);
  }
  SlotState pollSlot(int slot) override {
    ++polls;
    if (!requests.count(slot)) return SlotState::Idle;
    if (!released.count(slot)) return SlotState::InFlight;
    ScsiRequest* r = requests[slot];
    r->bytesTransferred = r->dataTransferLength;
    r->scsiStatus = failSlots.count(slot) ? 2 : 0;
    requests.erase(slot);
    released.erase(slot);
    inFlight[static_cast<size_t>(slot)] = nullptr;
    return SlotState::Complete;
  }
  void drainQueue() override {
    requests.clear();
    inFlight.fill(nullptr);
  }
  std::vector<int> submitted;
  std::map<int, ScsiRequest*> requests;
  std::set<int> released, failSlots;
  long polls = 0;
};

TEST(Queue, SixteenInFlightAndRingOrder) {
  HeldQueuePort port;
  test::TestContext t(port);
  Context& ctx = t.ctx;
  ASSERT_TRUE(InitQueue(ctx));
  EXPECT_EQ(t.pane.text(), "Init NCQ Func\nInit NCQ Func Finish!! write_ok=1, 1\n");

  for (int i = 0; i < kQueueSlots; ++i) {
    int slot = AcquireSlot(ctx);
    EXPECT_EQ(slot, i) << "idle slots are handed out from the ring position at once";
    ASSERT_TRUE(QueueRead(ctx, slot, 0x1000 + i * 8, 8));
  }
  EXPECT_EQ(port.requests.size(), 16u);

  // All 16 in flight: AcquireSlot keeps polling until one completes.
  port.released.insert(9);
  long before = port.polls;
  EXPECT_EQ(AcquireSlot(ctx), 9);
  EXPECT_GE(port.polls - before, 10) << "slots 0..8 were polled first";
  EXPECT_EQ(ctx.slots[9].bytesTransferred, 8u * 512);
  EXPECT_EQ(ctx.slots[9].lba, 0x1000u + 9 * 8);
  EXPECT_EQ(ctx.queueRingPosition, 10);

  // The next acquisition starts after slot 9.
  port.released.insert(3);
  port.released.insert(11);
  EXPECT_EQ(AcquireSlot(ctx), 11);
  EXPECT_EQ(AcquireSlot(ctx), 3);

  CloseQueue(ctx);
  EXPECT_NE(t.pane.text().find("Close NCQ Func\n"), std::string::npos);
}

TEST(Queue, WriteStampsItsOwnSlotBufferAndReadUsesSlotBuffer) {
  HeldQueuePort port;
  test::TestContext t(port);
  Context& ctx = t.ctx;
  ASSERT_TRUE(InitQueue(ctx));
  int slot = AcquireSlot(ctx);
  ASSERT_TRUE(QueueWrite(ctx, slot, 0x500, 4));
  const ScsiRequest& sent = port.scsiRequests.back();
  EXPECT_EQ(sent.cdb[0], 0x2A);
  EXPECT_EQ(sent.cdb[4], 0x05);
  EXPECT_EQ(sent.cdb[8], 4);
  EXPECT_EQ(sent.timeOutValue, 255u) << "writes take the long time-out";
  EXPECT_EQ(sent.dataBuffer, ctx.slots[static_cast<size_t>(slot)].buffer.data());
  EXPECT_EQ(CheckStampedBlocks(ctx, ctx.slots[static_cast<size_t>(slot)].buffer.data(), 0x500, 4), "");
  EXPECT_NE(sent.dataBuffer, ctx.SectorBuffer.data());
}

TEST(Queue, FailedCompletionIsVisibleToTheCaller) {
  HeldQueuePort port;
  test::TestContext t(port);
  Context& ctx = t.ctx;
  ASSERT_TRUE(InitQueue(ctx));
  for (int i = 0; i < kQueueSlots; ++i) ASSERT_TRUE(QueueRead(ctx, AcquireSlot(ctx), i, 1));
  port.failSlots.insert(0);
  port.released.insert(0);
  EXPECT_EQ(AcquireSlot(ctx), 0);
  EXPECT_FALSE(ctx.slots[0].completedOk);
}

TEST(Queue, WithQueueOffTheSlotRequestRunsSynchronously) {
  test::RecordingPort port;
  test::TestContext t(port);
  t.ctx._fgNCQEnable = 0;
  ASSERT_TRUE(InitQueue(t.ctx));
  int slot = AcquireSlot(t.ctx);
  ASSERT_TRUE(QueueRead(t.ctx, slot, 7, 2));
  EXPECT_EQ(t.ctx.slots[static_cast<size_t>(slot)].bytesTransferred, 0u);  // port left it 0
  ASSERT_EQ(port.scsiRequests.size(), 1u);
  EXPECT_EQ(port.scsiRequests[0].cdb[5], 7);
  EXPECT_EQ(port.inFlight[static_cast<size_t>(slot)], nullptr) << "nothing was queued";
}

}  // namespace
}  // namespace zorv
