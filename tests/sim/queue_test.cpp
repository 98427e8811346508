#include <gtest/gtest.h>

#ifdef __linux__
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/sim_port.h"
#include "sim_test_util.h"
#include "transport/block_stamp.h"
#include "transport/ncq_queue.h"

namespace zorv {
namespace {

using test::SimFixture;

// Writes `transfers` stamped transfers of `count` blocks from `first` through
// the 16-slot queue, then reads them back through it and checks every stamp.
void queuedWriteThenRead(Context& ctx, uint32_t first, uint32_t transfers, uint32_t count) {
  ASSERT_TRUE(InitQueue(ctx));
  for (uint32_t i = 0; i < transfers; ++i) {
    int slot = AcquireSlot(ctx);
    ASSERT_TRUE(ctx.slots[static_cast<size_t>(slot)].completedOk);
    ASSERT_TRUE(QueueWrite(ctx, slot, first + i * count, count)) << i;
  }
  CloseQueue(ctx);

  ASSERT_TRUE(InitQueue(ctx));
  std::array<bool, kQueueSlots> carried{};
  uint32_t checked = 0;
  auto check = [&](int slot) {
    NcqSlot& s = ctx.slots[static_cast<size_t>(slot)];
    if (!carried[static_cast<size_t>(slot)]) return;
    EXPECT_TRUE(s.completedOk);
    EXPECT_EQ(s.bytesTransferred, count * 512);
    EXPECT_EQ(CheckStampedBlocks(ctx, s.buffer.data(), s.lba, count), "") << "lba " << s.lba;
    ++checked;
  };
  for (uint32_t i = 0; i < transfers; ++i) {
    int slot = AcquireSlot(ctx);
    check(slot);
    ASSERT_TRUE(QueueRead(ctx, slot, first + i * count, count));
    carried[static_cast<size_t>(slot)] = true;
  }
  // Collect the last 16.
  for (int i = 0; i < kQueueSlots; ++i) check(AcquireSlot(ctx));
  CloseQueue(ctx);
  EXPECT_EQ(checked, transfers);
}

TEST(SimQueue, SixteenSlotsWriteAndReadBackOnSparseMedia) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  queuedWriteThenRead(sim.ctx(), 5000, 40, 256);
  // What the queue wrote, a plain read sees.
  ASSERT_TRUE(ReadBlocks(sim.ctx(), 5000 + 256 * 17, 256, false));
  EXPECT_EQ(CheckStampedBlocks(sim.ctx(), 5000 + 256 * 17, 256), "");
}

TEST(SimQueue, TransfersOverlapUnderTheLatencyModel) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  std::string error;
  ASSERT_TRUE(sim.bay->setLatency(0, sim::LatencyModel{1000, 0}, error)) << error;
  ASSERT_TRUE(InitQueue(ctx));
  for (int i = 0; i < kQueueSlots; ++i) {
    int slot = AcquireSlot(ctx);
    ASSERT_EQ(slot, i);
    ASSERT_TRUE(QueueRead(ctx, slot, static_cast<uint32_t>(i) * 8, 8));
  }
  for (int i = 0; i < kQueueSlots; ++i) EXPECT_EQ(sim.port->pollSlot(i), SlotState::InFlight) << i;
  sim.clock.advance(std::chrono::microseconds(999));
  EXPECT_EQ(sim.port->pollSlot(0), SlotState::InFlight);
  sim.clock.advance(std::chrono::microseconds(1));
  // All sixteen 1 ms transfers are done after 1 ms: they ran side by side.
  for (int i = 0; i < kQueueSlots; ++i) EXPECT_EQ(sim.port->pollSlot(i), SlotState::Complete) << i;
  for (int i = 0; i < kQueueSlots; ++i) EXPECT_EQ(sim.port->pollSlot(i), SlotState::Idle) << i;
  CloseQueue(ctx);
}

TEST(SimQueue, QueuedErrorsComeBackWithTheirSense) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  Context& ctx = sim.ctx();
  std::string error;
  ASSERT_TRUE(sim.bay->addFault(0, sim::Fault{.kind = sim::FaultKind::Fail, .opcode = 0x28}, error));
  ASSERT_TRUE(InitQueue(ctx));
  ASSERT_TRUE(QueueRead(ctx, AcquireSlot(ctx), 0, 8));
  uint64_t capacity = sim.bay->controller(0)->withDrive([](sim::SimDrive& d) { return d.capacity(); });
  ASSERT_TRUE(QueueRead(ctx, AcquireSlot(ctx), static_cast<uint32_t>(capacity - 4), 8));
  sim.port->drainQueue();
  EXPECT_EQ(ctx.slots[0].request.scsiStatus, 0x02);
  EXPECT_EQ(ctx.slots[0].request.sense[2] & 0x0F, 0x03);
  EXPECT_EQ(ctx.slots[1].request.scsiStatus, 0x02);
  EXPECT_EQ(ctx.slots[1].request.sense[12], 0x21) << "LBA out of range";
  CloseQueue(ctx);
}

// Sixteen reads in flight on a drive that has stopped answering them.
void sixteenReadsToADriveThatStoppedAnswering(test::SimFixture& sim, uint32_t waitMs) {
  std::string error;
  ASSERT_TRUE(sim.bay->addFault(
      0, sim::Fault{.kind = sim::FaultKind::Timeout, .opcode = 0x28, .count = kQueueSlots, .waitMs = waitMs},
      error))
      << error;
  Context& ctx = sim.ctx();
  ASSERT_TRUE(InitQueue(ctx));
  for (int i = 0; i < kQueueSlots; ++i) {
    int slot = AcquireSlot(ctx);
    ASSERT_EQ(slot, i);
    ASSERT_TRUE(QueueRead(ctx, slot, static_cast<uint32_t>(i) * 8, 8));
  }
}

TEST(SimQueueStall, TheStopFlagEndsTheWaitAtOnce) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sixteenReadsToADriveThatStoppedAnswering(sim, 0);
  Context& ctx = sim.ctx();
  const auto before = sim.clock.totalSlept();
  ctx.fgStopRequest = 1;
  EXPECT_EQ(AcquireSlot(ctx), kNoSlot);
  EXPECT_EQ(ctx.lastOutcome.failure, CommandFailure::Stopped);
  EXPECT_EQ(sim.clock.totalSlept(), before) << "no time was spent waiting";
  CloseQueue(ctx);
  EXPECT_EQ(sim.clock.totalSlept(), before);
}

TEST(SimQueueStall, WithoutStopTheHostsTimeOutEndsIt) {
  // The host gives up on each read after its 7 s time-out: the slot comes
  // back aborted (TIMEOUT ON LOGICAL UNIT), and the caller sees why.
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sixteenReadsToADriveThatStoppedAnswering(sim, 0);
  Context& ctx = sim.ctx();
  const auto before = sim.clock.totalSlept();
  EXPECT_EQ(AcquireSlot(ctx), 0);
  EXPECT_FALSE(ctx.slots[0].completedOk);
  EXPECT_EQ(ctx.slots[0].request.scsiStatus, 0x40);
  EXPECT_EQ(lastSenseKey(ctx), 0x0B);
  EXPECT_EQ(lastSenseAsc(ctx), 0x3E);
  EXPECT_EQ(commandFailureText(ctx), "SCSI status 40h, sense B/3E/02");
  EXPECT_GE(sim.clock.totalSlept() - before, std::chrono::seconds(ctx.usTimeoutShort));
  EXPECT_LE(sim.clock.totalSlept() - before, std::chrono::seconds(ctx.usTimeoutShort + 1));
  CloseQueue(ctx);
}

TEST(SimQueueStall, ADriveThatNeverAnswersEndsInAQueueTimeOut) {
  SimFixture sim(0);
  ASSERT_TRUE(sim.ok()) << sim.error;
  sixteenReadsToADriveThatStoppedAnswering(sim, 3600 * 1000);
  Context& ctx = sim.ctx();
  const auto before = sim.clock.totalSlept();
  EXPECT_EQ(AcquireSlot(ctx), kNoSlot);
  EXPECT_EQ(ctx.lastOutcome.failure, CommandFailure::QueueTimeout);
  EXPECT_GE(sim.clock.totalSlept() - before, std::chrono::seconds(ctx.usTimeoutShort));
  EXPECT_LE(sim.clock.totalSlept() - before, std::chrono::seconds(ctx.usTimeoutShort + 10));
  CloseQueue(ctx);
}

// The same on the system clock, with Esc pressed from another thread while
// the queue waits: it must end long before the drive or the time-out would.
TEST(SimQueueStall, StopFromAnotherThreadEndsARealWait) {
  test::TempDir dir;
  std::string error;
  auto bay = sim::SimBay::open(dir.path(), error);
  ASSERT_TRUE(bay) << error;
  auto port = sim::makeSimPort(bay);
  SystemClock clock;
  test::RecordingUi ui;
  StringSink pane;
  Context ctx(*port, ui, clock, pane);
  ASSERT_TRUE(test::describeSimDrive(*bay, 0, ctx.DriveTable[0]));
  ctx.ucDriveCount = 1;
  ctx.ucSelDrive = 0;
  ctx.fgFamilyDrive = 1;
  ctx.usTimeoutShort = 255;  // a time-out that would outlast the test by far
  ASSERT_TRUE(bay->addFault(
      0, sim::Fault{.kind = sim::FaultKind::Timeout, .opcode = 0x28, .count = kQueueSlots, .waitMs = 3600 * 1000},
      error));
  ASSERT_TRUE(InitQueue(ctx));
  for (int i = 0; i < kQueueSlots; ++i) ASSERT_TRUE(QueueRead(ctx, AcquireSlot(ctx), static_cast<uint32_t>(i), 1));

  std::thread esc([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ctx.fgStopRequest = 1;
  });
  const int slot = AcquireSlot(ctx);
  esc.join();
  EXPECT_EQ(slot, kNoSlot);
  EXPECT_EQ(ctx.lastOutcome.failure, CommandFailure::Stopped);
  CloseQueue(ctx);
}

// File media: a real file read and written with O_DIRECT, queued transfers
// through io_uring.
class SimFileMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.ok()) << sim.error;
    path = sim.dir.file("disk.img");
    { std::ofstream(path, std::ios::binary); }
    std::filesystem::resize_file(path, 64 << 20);
    sim::DriveRecord d = sim::familyDrive(0, sim::SimBus::Sata, 1);
    d.identity.capacity = 0;  // the whole file
    d.media = {sim::MediaKind::File, path};
    std::string error;
    ASSERT_TRUE(sim.bay->plug(4, d, error)) << error;
    ASSERT_TRUE(sim.select(4));
  }
  SimFixture sim{-1};
  std::string path;
};

TEST_F(SimFileMedia, CapacityComesFromTheFileAndDataLandsInIt) {
  EXPECT_EQ(sim.ctx().selectedDrive().sectorCount(), (64u << 20) / 512);
  test::fillPattern(sim.ctx(), 8192, 21);
  ASSERT_TRUE(WriteBlocks(sim.ctx(), 10, 16, 512));
  std::vector<uint8_t> onDisk(8192);
  std::ifstream file(path, std::ios::binary);
  file.seekg(10 * 512);
  ASSERT_TRUE(file.read(reinterpret_cast<char*>(onDisk.data()), static_cast<std::streamsize>(onDisk.size())));
  EXPECT_EQ(std::memcmp(onDisk.data(), sim.ctx().SectorBuffer.data(), 8192), 0);
  EXPECT_FALSE(ReadBlocks(sim.ctx(), (64u << 20) / 512, 1, false));
}

TEST_F(SimFileMedia, QueuedTransfersRunThroughIoUring) {
  queuedWriteThenRead(sim.ctx(), 0, 64, 128);
  ASSERT_TRUE(ReadBlocks(sim.ctx(), 128 * 63, 128, false));
  EXPECT_EQ(CheckStampedBlocks(sim.ctx(), 128 * 63, 128), "");
}

// Transfers may go to the kernel in batches; one the host is told is in
// flight must already be on its way, so a host that only polls (and never
// waits) still sees all of them complete.
TEST_F(SimFileMedia, APollingHostSeesEveryQueuedTransferComplete) {
  Context& ctx = sim.ctx();
  ASSERT_TRUE(InitQueue(ctx));
  for (int slot = 0; slot < kQueueSlots; ++slot) ASSERT_TRUE(QueueRead(ctx, slot, uint32_t(slot) * 8, 8)) << slot;
  for (int slot = 0; slot < kQueueSlots; ++slot) {
    SlotState state = SlotState::InFlight;
    // Bounded: a transfer never handed to the kernel would poll for ever.
    for (long polls = 0; polls < 50'000'000 && state == SlotState::InFlight; ++polls) state = sim.port->pollSlot(slot);
    EXPECT_EQ(state, SlotState::Complete) << slot;
    EXPECT_EQ(ctx.slots[static_cast<size_t>(slot)].request.scsiStatus, 0) << slot;
  }
  CloseQueue(ctx);
}

TEST_F(SimFileMedia, AnUnalignedBufferStillTransfers) {
  ScsiRequest r;
  std::vector<uint8_t> raw(4096 + 1);
  for (size_t i = 0; i < 4096; ++i) raw[i + 1] = static_cast<uint8_t>(i * 7);
  r.cdbLength = 10;
  r.dataIn = kScsiDataOut;
  r.dataTransferLength = 4096;
  r.dataBuffer = raw.data() + 1;
  r.cdb = {0x2A, 0, 0, 0, 0, 50, 0, 0, 8, 0};
  ASSERT_TRUE(sim.port->scsiPassThrough("sim:4", r).ok());
  ASSERT_EQ(r.scsiStatus, 0);
  ASSERT_TRUE(ReadBlocks(sim.ctx(), 50, 8, false));
  EXPECT_EQ(std::memcmp(sim.ctx().SectorBuffer.data(), raw.data() + 1, 4096), 0);
}

#ifdef __linux__
// A loop device as media, as the media tests use it beside fio: the block
// device's size, O_DIRECT on it and io_uring. Needs root (loop-control).
TEST(SimBlockDeviceMedia, ALoopDeviceServesQueuedAndPlainTransfers) {
  test::TempDir tmp;
  std::string backing = tmp.file("loop.img");
  int file = ::open(backing.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(::ftruncate(file, 32 << 20), 0);
  int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  int number = control >= 0 ? ::ioctl(control, LOOP_CTL_GET_FREE) : -1;
  std::string device = "/dev/loop" + std::to_string(number);
  int loop = number >= 0 ? ::open(device.c_str(), O_RDWR | O_CLOEXEC) : -1;
  bool attached = loop >= 0 && ::ioctl(loop, LOOP_SET_FD, file) == 0;
  if (control >= 0) ::close(control);
  ::close(file);
  if (!attached) {
    if (loop >= 0) ::close(loop);
    GTEST_SKIP() << "no loop device here (needs root and loop-control)";
  }
  {
    SimFixture sim(-1);
    ASSERT_TRUE(sim.ok()) << sim.error;
    sim::DriveRecord d = sim::familyDrive(1, sim::SimBus::Usb, 2);
    d.identity.capacity = 0;
    d.media = {sim::MediaKind::File, device};
    std::string error;
    ASSERT_TRUE(sim.bay->plug(6, d, error)) << error;
    ASSERT_TRUE(sim.select(6));
    EXPECT_EQ(sim.ctx().selectedDrive().sectorCount(), (32u << 20) / 512);
    queuedWriteThenRead(sim.ctx(), 1024, 48, 256);
    ASSERT_TRUE(ReadBlocks(sim.ctx(), 1024 + 256 * 47, 256, false));
    EXPECT_EQ(CheckStampedBlocks(sim.ctx(), 1024 + 256 * 47, 256), "");
  }
  ::ioctl(loop, LOOP_CLR_FD, 0);
  ::close(loop);
}

// Several programs' threads on one bay: queued and plain transfers on the
// same drive and on others, while drives are power-cycled and faults change.
#endif

TEST(SimConcurrency, QueuedAndPlainTransfersOnSharedDrivesStayIntact) {
  SimFixture sim(-1);
  ASSERT_TRUE(sim.ok()) << sim.error;
  std::atomic<int> failures{0};
  auto worker = [&](int slot, uint32_t first, bool queued) {
    ManualClock clock;
    test::RecordingUi ui;
    NullSink pane;
    auto port = sim::makeSimPort(sim.bay);
    Context ctx(*port, ui, clock, pane);
    if (!test::describeSimDrive(*sim.bay, slot, ctx.DriveTable[0])) {
      ++failures;
      return;
    }
    ctx.ucDriveCount = 1;
    ctx.ucSelDrive = 0;
    ctx.fgFamilyDrive = 1;
    for (int round = 0; round < 4; ++round) {
      if (queued) {
        queuedWriteThenRead(ctx, first, 32, 64);
      } else {
        for (uint32_t i = 0; i < 16; ++i) {
          StampBlocks(64, first + i * 64, ctx.SectorBuffer.data());
          if (!WriteBlocks(ctx, first + i * 64, 64, 512)) ++failures;
          if (!ReadBlocks(ctx, first + i * 64, 64, false) ||
              !CheckStampedBlocks(ctx, first + i * 64, 64).empty())
            ++failures;
        }
      }
    }
  };
  std::atomic<bool> stop{false};
  std::thread changer([&] {
    std::string error;
    auto other = sim::SimBay::open(sim.dir.path(), error);
    auto watch = other->watch();
    std::vector<DeviceEvent> events;
    for (int i = 0; !stop; ++i) {
      other->powerCycle(2, error);
      other->setTemperature(2, 30 + i % 40, error);
      watch->poll(events, 0);
    }
    if (events.empty()) ++failures;
  });
  std::thread a(worker, 0, 0, true);
  std::thread b(worker, 0, 100000, false);
  std::thread c(worker, 1, 0, false);
  std::thread d(worker, 1, 200000, true);
  a.join();
  b.join();
  c.join();
  d.join();
  stop = true;
  changer.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace zorv
