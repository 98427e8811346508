#include "platform/windows/overlapped_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "fake_device_io.h"

namespace zorv::platform {
namespace {

using test::FakeDeviceIo;
using test::kStatusCancelled;
using test::kStatusIoTimeout;
using test::kStatusSuccess;
using FakeDevice = FakeDeviceIo;

struct Transfer {
  std::vector<uint8_t> buffer = std::vector<uint8_t>(4096, 0xEE);
  ScsiRequest request;
  explicit Transfer(uint8_t opcode = 0x28) {
    request.cdbLength = 12;
    request.dataIn = opcode == 0x28 ? kScsiDataIn : kScsiDataOut;
    request.dataTransferLength = static_cast<uint32_t>(buffer.size());
    request.dataBuffer = buffer.data();
    request.timeOutValue = 7;
    request.cdb[0] = opcode;
    request.cdb[8] = 8;
  }
};

const std::string kDrive = "\\\\.\\PhysicalDrive1";

TEST(OverlappedQueue, APendingTransferIsCollectedOnceItCompletes) {
  FakeDevice device;
  OverlappedQueue queue(device);
  Transfer t;
  ASSERT_TRUE(queue.submit(kDrive, 3, t.request).ok());
  ASSERT_EQ(device.issued.size(), 1u);
  // The queue's own handle: shared as every command's, overlapped.
  ASSERT_EQ(device.opens.size(), 1u);
  EXPECT_EQ(device.opens[0].path, kDrive);
  EXPECT_EQ(device.opens[0].share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_EQ(device.opens[0].flags, static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
  // The header goes in; header and sense area come back.
  EXPECT_EQ(device.requests[0].inSize, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(device.requests[0].outSize, sizeof(ScsiPassThroughRecord));
  const FakeDevice::Issued& issued = device.issued[0];
  // What the driver was given: this slot's own record and event.
  EXPECT_EQ(issued.record->header.Cdb[0], 0x28);
  EXPECT_EQ(issued.record->header.DataIn, kScsiDataIn);
  EXPECT_EQ(issued.record->header.DataBuffer, t.buffer.data());
  EXPECT_EQ(issued.record->header.SenseInfoOffset, offsetof(ScsiPassThroughRecord, sense));
  ASSERT_NE(issued.overlapped->hEvent, nullptr);
  EXPECT_EQ(WaitForSingleObject(issued.overlapped->hEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  EXPECT_EQ(queue.poll(3), SlotState::InFlight);
  EXPECT_EQ(queue.poll(3), SlotState::InFlight);
  device.complete(0, kStatusSuccess, 0, 4096);
  EXPECT_EQ(queue.poll(3), SlotState::Complete);
  EXPECT_EQ(t.request.scsiStatus, 0);
  EXPECT_EQ(t.request.bytesTransferred, 4096u);
  EXPECT_EQ(queue.poll(3), SlotState::Idle);
  // The handle stays open for the next transfers until the queue ends.
  EXPECT_EQ(device.openHandles, 1);
  queue.drain();
  EXPECT_EQ(device.openHandles, 0);
}

TEST(OverlappedQueue, TheDrivesVerdictAndAFailureBelowItReachTheRequest) {
  FakeDevice device;
  OverlappedQueue queue(device);
  Transfer checked, timedOut;
  ASSERT_TRUE(queue.submit(kDrive, 0, checked.request).ok());
  ASSERT_TRUE(queue.submit(kDrive, 1, timedOut.request).ok());
  device.complete(0, kStatusSuccess, 0x02, 2048);
  device.complete(1, kStatusIoTimeout, 0, 0);
  EXPECT_EQ(queue.poll(0), SlotState::Complete);
  EXPECT_EQ(checked.request.scsiStatus, 0x02);
  EXPECT_EQ(checked.request.sense[2], 0x03);
  EXPECT_EQ(checked.request.sense[12], 0x11);
  EXPECT_EQ(checked.request.bytesTransferred, 2048u);
  // A transfer the system failed must not read as GOOD.
  EXPECT_EQ(queue.poll(1), SlotState::Complete);
  EXPECT_EQ(timedOut.request.scsiStatus, 0x40);
  EXPECT_EQ(timedOut.request.sense[2], 0x0B);
  EXPECT_EQ(timedOut.request.sense[12], 0x3E);
  EXPECT_EQ(timedOut.request.sense[13], 0x02);
  EXPECT_EQ(timedOut.request.bytesTransferred, 0u);
}

TEST(OverlappedQueue, ATransferDoneAtOnceIsCompleteOnTheNextPoll) {
  FakeDevice device;
  device.script.push_back({FakeDevice::Answer::AtOnce, 0});
  OverlappedQueue queue(device);
  Transfer t(0x2A);
  ASSERT_TRUE(queue.submit(kDrive, 15, t.request).ok());
  EXPECT_EQ(t.request.bytesTransferred, 4096u);
  EXPECT_EQ(queue.poll(15), SlotState::Complete);
  EXPECT_EQ(queue.poll(15), SlotState::Idle);
  // The slot can carry the next transfer.
  ASSERT_TRUE(queue.submit(kDrive, 15, t.request).ok());
  EXPECT_EQ(queue.poll(15), SlotState::InFlight);
  device.complete(1, kStatusSuccess, 0, 4096);
  queue.drain();
}

TEST(OverlappedQueue, AFailedSubmissionLeavesTheSlotFree) {
  struct Case {
    DWORD error;
    IoError expected;
  };
  for (const Case c : {Case{ERROR_ACCESS_DENIED, IoError::PermissionDenied},
                       Case{ERROR_INVALID_FUNCTION, IoError::NotSupported}, Case{ERROR_IO_DEVICE, IoError::OsFailure},
                       Case{ERROR_FILE_NOT_FOUND, IoError::NoDevice}}) {
    FakeDevice device;
    device.script.push_back({FakeDevice::Answer::Fail, c.error});
    OverlappedQueue queue(device);
    Transfer t;
    IoOutcome o = queue.submit(kDrive, 7, t.request);
    EXPECT_EQ(o.error, c.expected) << c.error;
    EXPECT_NE(o.detail.find("SCSI pass-through on " + kDrive), std::string::npos) << o.detail;
    EXPECT_EQ(queue.poll(7), SlotState::Idle);
    ASSERT_TRUE(queue.submit(kDrive, 7, t.request).ok());
    EXPECT_EQ(queue.poll(7), SlotState::InFlight);
    queue.abandon();
  }
}

TEST(OverlappedQueue, RefusesWhatItCannotTake) {
  FakeDevice device;
  OverlappedQueue queue(device);
  Transfer t, second;
  EXPECT_EQ(queue.submit(kDrive, -1, t.request).error, IoError::NotSupported);
  EXPECT_EQ(queue.submit(kDrive, 16, t.request).error, IoError::NotSupported);
  EXPECT_EQ(queue.submit("", 0, t.request).error, IoError::NoDevice);
  Transfer noBuffer;
  noBuffer.request.dataBuffer = nullptr;
  EXPECT_EQ(queue.submit(kDrive, 0, noBuffer.request).error, IoError::NotSupported);
  ASSERT_TRUE(queue.submit(kDrive, 0, t.request).ok());
  // A slot whose transfer has not been collected keeps it.
  EXPECT_EQ(queue.submit(kDrive, 0, second.request).error, IoError::Busy);
  EXPECT_EQ(device.issued.size(), 1u);
  device.openError = ERROR_FILE_NOT_FOUND;
  IoOutcome gone = queue.submit("\\\\.\\PhysicalDrive5", 1, second.request);
  EXPECT_EQ(gone.error, IoError::NoDevice);
  EXPECT_NE(gone.detail.find("open \\\\.\\PhysicalDrive5"), std::string::npos) << gone.detail;
  device.complete(0, kStatusSuccess, 0, 4096);
  queue.drain();
}

TEST(OverlappedQueue, WaitReturnsOnACompletionOrAfterItsTimeOut) {
  FakeDevice device;
  OverlappedQueue queue(device);
  queue.wait(std::chrono::hours(1));  // nothing in flight: returns at once
  std::vector<Transfer> transfers(OverlappedQueue::kSlots);
  for (int i = 0; i < OverlappedQueue::kSlots; ++i)
    ASSERT_TRUE(queue.submit(kDrive, i, transfers[static_cast<size_t>(i)].request).ok());
  queue.wait(std::chrono::milliseconds(1));
  for (int i = 0; i < OverlappedQueue::kSlots; ++i) EXPECT_EQ(queue.poll(i), SlotState::InFlight);
  std::thread driver([&] { device.complete(9, kStatusSuccess, 0, 4096); });
  queue.wait(std::chrono::hours(1));  // returns when slot 9 completes
  driver.join();
  EXPECT_EQ(queue.poll(9), SlotState::Complete);
  // A completion not yet collected ends a wait at once.
  device.complete(4, kStatusSuccess, 0, 4096);
  queue.wait(std::chrono::hours(1));
  EXPECT_EQ(queue.poll(4), SlotState::Complete);
  for (size_t i = 0; i < device.issued.size(); ++i)
    if (!device.issued[i].completed) device.complete(i, kStatusSuccess, 0, 4096);
  queue.drain();
}

TEST(OverlappedQueue, DrainWaitsForEveryTransferAndClosesTheHandles) {
  FakeDevice device;
  OverlappedQueue queue(device);
  std::vector<Transfer> transfers(3);
  ASSERT_TRUE(queue.submit(kDrive, 0, transfers[0].request).ok());
  ASSERT_TRUE(queue.submit(kDrive, 1, transfers[1].request).ok());
  ASSERT_TRUE(queue.submit("\\\\.\\PhysicalDrive2", 2, transfers[2].request).ok());
  EXPECT_EQ(device.openHandles, 2);
  device.complete(0, kStatusSuccess, 0, 4096);
  std::thread driver([&] {
    device.complete(1, kStatusSuccess, 0x02, 0);
    device.complete(2, kStatusSuccess, 0, 1024);
  });
  queue.drain();
  driver.join();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(queue.poll(i), SlotState::Idle) << i;
  EXPECT_EQ(transfers[1].request.scsiStatus, 0x02);
  EXPECT_EQ(transfers[2].request.bytesTransferred, 1024u);
  EXPECT_TRUE(device.cancelled.empty());
  EXPECT_EQ(device.openHandles, 0);
}

TEST(OverlappedQueue, AbandonCancelsAndLetsGoOnlyWhenTheDriverHas) {
  FakeDevice device;
  device.cancelCompletes = FakeDevice::CancelCompletes::Later;
  OverlappedQueue queue(device);
  std::vector<Transfer> transfers(3);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(queue.submit(kDrive, i, transfers[static_cast<size_t>(i)].request).ok());
  device.complete(1, kStatusSuccess, 0, 4096);
  // The driver ends the cancelled transfers on its own thread, some time
  // after the cancel.
  std::thread driver([&] {
    while (device.cancelledCount() < 2) Sleep(1);
    device.complete(0, kStatusCancelled, 0, 0);
    device.complete(2, kStatusSuccess, 0, 4096);  // too late to stop
  });
  queue.abandon();
  driver.join();
  // abandon() returned only after the driver had let go of every record.
  for (const FakeDevice::Issued& i : device.issued) EXPECT_TRUE(i.completed);
  EXPECT_EQ(device.cancelled.size(), 2u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(queue.poll(i), SlotState::Idle) << i;
  // Given up transfers never read as done.
  EXPECT_EQ(transfers[0].request.scsiStatus, 0x40);
  EXPECT_EQ(transfers[2].request.scsiStatus, 0x40);
  EXPECT_EQ(device.openHandles, 0);
}

TEST(OverlappedQueue, EndingTheQueueWithTransfersOutCancelsThem) {
  FakeDevice device;
  Transfer t;
  {
    OverlappedQueue queue(device);
    ASSERT_TRUE(queue.submit(kDrive, 5, t.request).ok());
  }
  EXPECT_EQ(device.cancelled.size(), 1u);
  EXPECT_TRUE(device.issued[0].completed);
  EXPECT_EQ(t.request.scsiStatus, 0x40);
  EXPECT_EQ(device.openHandles, 0);
}

}  // namespace
}  // namespace zorv::platform
