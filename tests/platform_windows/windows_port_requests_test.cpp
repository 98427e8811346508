// The backend between the transport and a driver played by the test: what
// reaches DeviceIoControl for each command, and what comes back to the
// transport.

#include <gtest/gtest.h>

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <cstring>
#include <memory>
#include <thread>

#include "fake_device_io.h"
#include "platform/windows/scsi_pass_through.h"
#include "platform/windows/windows_port.h"
#include "support/test_support.h"
#include "transport/ata_command.h"
#include "transport/context.h"
#include "transport/ncq_queue.h"
#include "transport/scsi_command.h"

namespace zorv::platform {
namespace {

using test::FakeDeviceIo;

constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct Rig {
  std::shared_ptr<FakeDeviceIo> io = std::make_shared<FakeDeviceIo>();
  std::unique_ptr<DevicePort> port = makeWindowsPort(io);
  explicit Rig(uint8_t bus = kBusSata) : context(*port, bus) {}
  zorv::test::TestContext context;
  Context& ctx() { return context.ctx; }
};

TEST(WindowsPortRequests, IdentifyOnTheAtaPath) {
  Rig rig;
  rig.io->sync = [](DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    EXPECT_EQ(code, static_cast<DWORD>(IOCTL_ATA_PASS_THROUGH_DIRECT));
    EXPECT_EQ(in, out);
    EXPECT_EQ(inSize, sizeof(ATA_PASS_THROUGH_DIRECT));
    EXPECT_EQ(outSize, sizeof(ATA_PASS_THROUGH_DIRECT));
    auto& h = *static_cast<ATA_PASS_THROUGH_DIRECT*>(in);
    EXPECT_EQ(h.Length, sizeof h);
    EXPECT_EQ(h.AtaFlags, 0x03);
    EXPECT_EQ(h.DataTransferLength, 512u);
    EXPECT_EQ(h.TimeOutValue, 30u);
    const uint8_t sent[8] = {0, 1, 0, 0, 0, 0x40, 0xEC, 0};
    EXPECT_EQ(std::memcmp(h.CurrentTaskFile, sent, 8), 0);
    // The drive: 512 bytes of data, then status DRDY|DSC.
    std::memset(h.DataBuffer, 0x5A, 512);
    h.CurrentTaskFile[6] = 0x50;
    *returned = sizeof h;
    return TRUE;
  };
  AtaTaskFile tf = zorv::test::identifyTaskFile();
  ASSERT_TRUE(SendAtaCommand(rig.ctx(), false, tf, false, 512)) << rig.ctx().lastOutcome.io.detail;
  EXPECT_EQ(rig.ctx().SectorBuffer[0], 0x5A);
  EXPECT_EQ(rig.ctx().SectorBuffer[511], 0x5A);
  // Opened shared and without flags for this one command, flushed, closed.
  ASSERT_EQ(rig.io->opens.size(), 1u);
  EXPECT_EQ(rig.io->opens[0].path, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(rig.io->opens[0].share, kShared);
  EXPECT_EQ(rig.io->opens[0].flags, 0u);
  EXPECT_EQ(rig.io->flushes, 1);
  EXPECT_EQ(rig.io->openHandles, 0);
}

TEST(WindowsPortRequests, ReturnedRegistersReachTheTaskFile) {
  Rig rig;
  rig.io->sync = [](DWORD, void* in, DWORD, void*, DWORD, DWORD* returned) {
    auto& h = *static_cast<ATA_PASS_THROUGH_DIRECT*>(in);
    EXPECT_EQ(h.AtaFlags, 0x0B);  // READ VERIFY SECTORS EXT: 48-bit, no data
    const uint8_t current[8] = {0, 0, 0xAF, 0x6D, 0x1B, 0x40, 0x50, 0};
    const uint8_t previous[8] = {0, 0, 0x0E, 0x01, 0x02, 0, 0, 0};
    std::memcpy(h.CurrentTaskFile, current, 8);
    std::memcpy(h.PreviousTaskFile, previous, 8);
    *returned = sizeof h;
    return TRUE;
  };
  AtaTaskFile tf;
  tf.ucCommand = 0x42;
  tf.ucDevice = 0x40;
  ASSERT_TRUE(SendAtaCommand(rig.ctx(), false, tf, false, 0));
  EXPECT_EQ(tf.ucLbaLow, 0xAF);
  EXPECT_EQ(tf.ucLbaMid, 0x6D);
  EXPECT_EQ(tf.ucLbaHigh, 0x1B);
  EXPECT_EQ(tf.ucLbaLowExt, 0x0E);
  EXPECT_EQ(tf.ucLbaMidExt, 0x01);
  EXPECT_EQ(tf.ucLbaHighExt, 0x02);
}

TEST(WindowsPortRequests, TheDrivesErrorAndAFailedRequestAreToldApart) {
  Rig rig;
  rig.io->sync = [](DWORD, void* in, DWORD, void*, DWORD, DWORD* returned) {
    auto& h = *static_cast<ATA_PASS_THROUGH_DIRECT*>(in);
    h.CurrentTaskFile[6] = 0x51;  // ERR
    h.CurrentTaskFile[0] = 0x04;  // ABRT
    *returned = sizeof h;
    return TRUE;
  };
  AtaTaskFile tf = zorv::test::identifyTaskFile();
  EXPECT_FALSE(SendAtaCommand(rig.ctx(), false, tf, false, 512));
  EXPECT_EQ(rig.ctx().lastOutcome.failure, CommandFailure::AtaError);
  EXPECT_NE(rig.context.pane.text().find("ATA Command Error, Status = 0x51"), std::string::npos);

  rig.io->sync = [](DWORD, void*, DWORD, void*, DWORD, DWORD*) {
    SetLastError(ERROR_IO_DEVICE);
    return FALSE;
  };
  EXPECT_FALSE(SendAtaCommand(rig.ctx(), false, tf, false, 512));
  const CommandOutcome& o = rig.ctx().lastOutcome;
  EXPECT_EQ(o.failure, CommandFailure::Io);
  EXPECT_EQ(o.io.error, IoError::OsFailure);
  EXPECT_EQ(o.io.osErrno, static_cast<int>(ERROR_IO_DEVICE));
  EXPECT_EQ(o.io.detail.rfind("ATA pass-through on \\\\.\\PhysicalDrive0: ", 0), 0u) << o.io.detail;
  // No flush after a failed request; the handle is closed either way.
  EXPECT_EQ(rig.io->flushes, 1);
  EXPECT_EQ(rig.io->openHandles, 0);

  rig.io->openError = ERROR_ACCESS_DENIED;
  EXPECT_FALSE(SendAtaCommand(rig.ctx(), false, tf, false, 512));
  EXPECT_EQ(rig.ctx().lastOutcome.io.error, IoError::PermissionDenied);
  EXPECT_NE(rig.ctx().lastOutcome.io.detail.find("run as administrator"), std::string::npos);
}

TEST(WindowsPortRequests, ScsiReadAndItsSense) {
  Rig rig;
  rig.io->sync = [](DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    EXPECT_EQ(code, static_cast<DWORD>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(in, out);
    EXPECT_EQ(inSize, sizeof(SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(outSize, sizeof(ScsiPassThroughRecord));
    auto& r = *static_cast<ScsiPassThroughRecord*>(in);
    const uint8_t cdb[12] = {0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 0x08, 0, 0, 0};
    EXPECT_EQ(std::memcmp(r.header.Cdb, cdb, sizeof cdb), 0);
    EXPECT_EQ(r.header.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(r.header.DataTransferLength, 4096u);
    EXPECT_EQ(r.header.SenseInfoOffset, offsetof(ScsiPassThroughRecord, sense));
    // Half the data, then CHECK CONDITION: MEDIUM ERROR, UNRECOVERED READ ERROR.
    std::memset(r.header.DataBuffer, 0x00, 2048);
    r.header.DataTransferLength = 2048;
    r.header.ScsiStatus = 0x02;
    const uint8_t sense[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0};
    std::memcpy(r.sense, sense, sizeof sense);
    r.header.SenseInfoLength = 18;
    *returned = sizeof r;
    return TRUE;
  };
  EXPECT_FALSE(ReadBlocks(rig.ctx(), 0x12345678, 8, false));
  EXPECT_EQ(rig.ctx().lastOutcome.failure, CommandFailure::ScsiStatus);
  EXPECT_EQ(rig.ctx().LastSense[2], 0x03);
  EXPECT_EQ(rig.ctx().LastSense[12], 0x11);
  EXPECT_EQ(rig.ctx().SectorBuffer[2047], 0x00);
  EXPECT_EQ(rig.ctx().SectorBuffer[2048], 0xFF);  // the part not returned keeps its fill
  EXPECT_EQ(rig.io->flushes, 0);
  EXPECT_EQ(rig.io->openHandles, 0);
}

TEST(WindowsPortRequests, BusTypeFromTheStandardDeviceProperty) {
  struct Case {
    BYTE systemBus;
    DWORD returned;
    BOOL answered;
    uint8_t expected;
  };
  const Case cases[] = {
      {0x0B, 40, TRUE, kBusSata}, {0x07, 40, TRUE, kBusUsb}, {0x03, 40, TRUE, kBusAta},
      {0x11, 40, TRUE, 0},        {0x0B, 16, TRUE, 0},       {0x0B, 40, FALSE, 0},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.io->sync = [&c](DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
      EXPECT_EQ(code, static_cast<DWORD>(IOCTL_STORAGE_QUERY_PROPERTY));
      EXPECT_EQ(inSize, sizeof(STORAGE_PROPERTY_QUERY));
      const auto& q = *static_cast<STORAGE_PROPERTY_QUERY*>(in);
      EXPECT_EQ(q.PropertyId, StorageDeviceProperty);
      EXPECT_EQ(q.QueryType, PropertyStandardQuery);
      EXPECT_GE(outSize, 40u);
      if (!c.answered) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
      }
      auto* reply = static_cast<uint8_t*>(out);
      reply[4] = 40;
      reply[28] = c.systemBus;
      *returned = c.returned;
      return TRUE;
    };
    uint8_t bus = 0xAA;
    EXPECT_TRUE(rig.port->queryBusType("\\\\.\\PhysicalDrive3", bus).ok());
    EXPECT_EQ(bus, c.expected) << int(c.systemBus) << " " << c.returned << " " << c.answered;
    EXPECT_EQ(rig.io->openHandles, 0);
  }
}

TEST(WindowsPortRequests, AnotherProgramHoldingTheDriveRefusesRawWrites) {
  Rig rig;
  rig.io->exclusiveOpenError = ERROR_SHARING_VIOLATION;
  IoOutcome o = rig.port->probeExclusive("\\\\.\\PhysicalDrive2");
  EXPECT_EQ(o.error, IoError::Busy);
  EXPECT_NE(o.detail.find("another program has the drive open"), std::string::npos) << o.detail;
  ASSERT_FALSE(rig.io->opens.empty());
  EXPECT_EQ(rig.io->opens.back().share, 0u);
  rig.io->exclusiveOpenError = 0;
  EXPECT_TRUE(rig.port->probeExclusive("\\\\.\\PhysicalDrive2").ok());
  EXPECT_EQ(rig.io->openHandles, 0);
}

TEST(WindowsPortRequests, QueuedReadsThroughTheTransport) {
  Rig rig;
  Context& ctx = rig.ctx();
  ASSERT_TRUE(InitQueue(ctx));
  // Sixteen reads go out; none completes yet.
  for (int i = 0; i < kQueueSlots; ++i) {
    const int slot = AcquireSlot(ctx);
    ASSERT_EQ(slot, i);
    ASSERT_TRUE(QueueRead(ctx, slot, 0x1000u + 8u * static_cast<uint32_t>(i), 8)) << ctx.lastOutcome.io.detail;
  }
  ASSERT_EQ(rig.io->issued.size(), static_cast<size_t>(kQueueSlots));
  EXPECT_EQ(rig.io->issued[3].record->header.DataBuffer, ctx.slots[3].buffer.data());
  EXPECT_EQ(rig.io->issued[3].record->header.Cdb[5], 0x18);
  // The next slot is the first one the driver finishes.
  std::thread driver([&] { rig.io->complete(6, test::kStatusSuccess, 0, 4096); });
  EXPECT_EQ(AcquireSlot(ctx), 6);
  driver.join();
  EXPECT_EQ(ctx.slots[6].bytesTransferred, 4096u);
  EXPECT_TRUE(ctx.slots[6].completedOk);
  rig.io->complete(9, test::kStatusSuccess, 0x02, 0);
  EXPECT_EQ(AcquireSlot(ctx), 9);
  EXPECT_FALSE(ctx.slots[9].completedOk);
  EXPECT_EQ(ctx.LastSense[2], 0x03);
  // Closing waits for what is still out, then lets go of the drive.
  std::thread rest([&] { rig.io->completeAll(); });
  CloseQueue(ctx);
  rest.join();
  EXPECT_EQ(rig.io->openHandles, 0);
  EXPECT_TRUE(rig.io->cancelled.empty());
}

}  // namespace
}  // namespace zorv::platform
