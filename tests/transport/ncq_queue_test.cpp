#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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
  // A wait that lets the test's clock run for the time asked, as a drive
  // that does not answer would; onWait may release a slot or press stop.
  void waitQueued(std::chrono::milliseconds timeout) override {
    ++waits;
    if (clock) clock->advance(timeout);
    if (onWait) onWait();
  }
  void drainQueue() override {
    ++drains;
    requests.clear();
    inFlight.fill(nullptr);
  }
  void abandonQueue() override {
    ++abandons;
    requests.clear();
    inFlight.fill(nullptr);
  }
  std::vector<int> submitted;
  std::map<int, ScsiRequest*> requests;
  std::set<int> released, failSlots;
  long polls = 0;
  ManualClock* clock = nullptr;
  std::function<void()> onWait;
  int waits = 0, drains = 0, abandons = 0;
};

// Sixteen transfers in flight on a drive that has stopped answering.
struct StuckQueue {
  explicit StuckQueue(bool writes = false) {
    port.clock = &t.clock;
    EXPECT_TRUE(InitQueue(t.ctx));
    for (int i = 0; i < kQueueSlots; ++i) {
      int slot = AcquireSlot(t.ctx);
      EXPECT_TRUE(writes ? QueueWrite(t.ctx, slot, static_cast<uint32_t>(i) * 8, 8)
                         : QueueRead(t.ctx, slot, static_cast<uint32_t>(i) * 8, 8));
    }
    start = t.clock.now();
  }
  std::chrono::milliseconds waited() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.clock.now() - start);
  }
  HeldQueuePort port;
  test::TestContext t{port};
  Clock::TimePoint start;
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

// A queued read that came back short, with good status, has failed like one
// the drive refused: its missing bytes are no data.
TEST(Queue, ShortCompletionFails) {
  test::RecordingPort port;
  test::TestContext t(port);
  Context& ctx = t.ctx;
  port.scsi = [](ScsiRequest& r) {
    r.bytesTransferred = r.dataTransferLength - 512;
    return IoOutcome{};
  };
  ASSERT_TRUE(InitQueue(ctx));
  int slot = AcquireSlot(ctx);
  ASSERT_TRUE(QueueRead(ctx, slot, 0x30, 4));
  for (int i = 1; i < kQueueSlots; ++i) AcquireSlot(ctx);
  EXPECT_EQ(AcquireSlot(ctx), slot);
  EXPECT_FALSE(ctx.slots[static_cast<size_t>(slot)].completedOk);
  EXPECT_EQ(ctx.lastOutcome.failure, CommandFailure::ShortTransfer);
  EXPECT_NE(t.pane.text().find("Short Transfer, 1536 of 2048 Bytes"), std::string::npos) << t.pane.text();
}

TEST(Queue, WithQueueOffTheSlotRequestRunsSynchronously) {
  test::RecordingPort port;
  test::TestContext t(port);
  t.ctx._fgNCQEnable = 0;
  ASSERT_TRUE(InitQueue(t.ctx));
  int slot = AcquireSlot(t.ctx);
  ASSERT_TRUE(QueueRead(t.ctx, slot, 7, 2));
  EXPECT_EQ(t.ctx.slots[static_cast<size_t>(slot)].bytesTransferred, 2u * 512);
  ASSERT_EQ(port.scsiRequests.size(), 1u);
  EXPECT_EQ(port.scsiRequests[0].cdb[5], 7);
  EXPECT_EQ(port.inFlight[static_cast<size_t>(slot)], nullptr) << "nothing was queued";
}

using namespace std::chrono_literals;

TEST(QueueWait, StopEndsTheWaitForADriveThatStoppedAnswering) {
  StuckQueue q;
  q.t.ctx.fgStopRequest = 1;
  EXPECT_EQ(AcquireSlot(q.t.ctx), kNoSlot);
  EXPECT_EQ(q.t.ctx.lastOutcome.failure, CommandFailure::Stopped);
  EXPECT_EQ(q.waited(), 0ms);

  // Pressed while it waits: it returns within one look at the flag.
  StuckQueue r;
  r.port.onWait = [&] {
    if (r.port.waits == 30) r.t.ctx.fgStopRequest = 1;
  };
  EXPECT_EQ(AcquireSlot(r.t.ctx), kNoSlot);
  EXPECT_EQ(r.t.ctx.lastOutcome.failure, CommandFailure::Stopped);
  EXPECT_EQ(r.port.waits, 30);
  EXPECT_LE(r.waited(), 30 * 100ms);

  // Closing after a stop lets the transfers go instead of waiting for them.
  CloseQueue(r.t.ctx);
  EXPECT_EQ(r.port.abandons, 1);
  EXPECT_EQ(r.port.drains, 0);
}

TEST(QueueWait, WithoutStopTheTransfersTimeOutEndsTheWait) {
  struct Case {
    bool writes;
    std::chrono::seconds timeout;  // of the transfers in flight
  } cases[] = {{false, 7s}, {true, 255s}};
  for (const Case& c : cases) {
    StuckQueue q(c.writes);
    EXPECT_EQ(AcquireSlot(q.t.ctx), kNoSlot) << c.writes;
    EXPECT_EQ(q.t.ctx.lastOutcome.failure, CommandFailure::QueueTimeout) << c.writes;
    EXPECT_GE(q.waited(), c.timeout) << c.writes;
    EXPECT_LE(q.waited(), c.timeout + 10s) << c.writes;
    EXPECT_EQ(commandFailureText(q.t.ctx), "no queued transfer completed within the command time-out");
    CloseQueue(q.t.ctx);
    EXPECT_EQ(q.port.abandons, 1) << "a drive that stopped answering is not waited for again";
  }
}

TEST(QueueWait, ACompletionDuringTheWaitIsHandedOut) {
  StuckQueue q;
  q.port.onWait = [&] {
    if (q.port.waits == 3) q.port.released.insert(5);
  };
  EXPECT_EQ(AcquireSlot(q.t.ctx), 5);
  EXPECT_EQ(q.port.waits, 3);
  EXPECT_TRUE(q.t.ctx.lastOutcome.ok());
  CloseQueue(q.t.ctx);
  EXPECT_EQ(q.port.drains, 1);
  EXPECT_EQ(q.port.abandons, 0);
}

TEST(Queue, TransfersLargerThanASlotBufferAreRefusedBeforeSending) {
  HeldQueuePort port;
  test::TestContext t(port);
  ASSERT_TRUE(InitQueue(t.ctx));
  t.pane.clear();
  int slot = AcquireSlot(t.ctx);
  EXPECT_TRUE(QueueRead(t.ctx, slot, 0, 2048)) << "exactly 1 MiB";
  slot = AcquireSlot(t.ctx);
  EXPECT_FALSE(QueueRead(t.ctx, slot, 0, 2049));
  EXPECT_FALSE(QueueWrite(t.ctx, slot, 0, 0x10000));
  EXPECT_EQ(port.submitted.size(), 1u);
  EXPECT_EQ(t.pane.text(),
            "Data Length 1049088(0x100200) Bytes Over Buffer Size 0x100000, Not Sent\n"
            "Data Length 33554432(0x2000000) Bytes Over Buffer Size 0x100000, Not Sent\n");
  EXPECT_EQ(port.inFlight[static_cast<size_t>(slot)], nullptr) << "the refused slot carries nothing";
}

}  // namespace
}  // namespace zorv
