#include "platform/linux/sat_pass_through.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/linux/sg_io.h"
#include "support/test_support.h"
#include "transport/ata_command.h"

namespace zorv::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using Registers = std::array<uint8_t, 8>;

// A reply as the kernel fills in the sg_io_hdr: SCSI status, bytes asked
// for, residue, sense bytes written, DRIVER_SENSE when there is sense.
struct KernelReply {
  uint8_t status;
  unsigned length;
  int resid;
  Bytes sense;
};

IoOutcome finish(const KernelReply& k, AtaPassThroughRequest& request) {
  sg_io_hdr hdr;
  std::memset(&hdr, 0, sizeof hdr);
  hdr.status = k.status;
  hdr.dxfer_len = k.length;
  hdr.resid = k.resid;
  hdr.sb_len_wr = static_cast<unsigned char>(k.sense.size());
  hdr.driver_status = k.sense.empty() ? 0 : 0x08;
  SgSenseBuffer sense{};
  std::copy(k.sense.begin(), k.sense.end(), sense.begin());
  return finishAtaRequest(hdr, sense, request);
}

AtaTaskFile taskFile(uint8_t opcode, uint8_t count, uint8_t device) {
  AtaTaskFile tf;
  tf.ucCommand = opcode;
  tf.ucCount = count;
  tf.ucDevice = device;
  return tf;
}

// Linux 6.1, libata on AHCI, a family drive: IDENTIFY DEVICE sent with
// CK_COND (85 08 2E ...) moved all 512 bytes and came back CHECK CONDITION,
// ABORTED COMMAND 00h/00h, with an ATA Status Return descriptor whose status
// is 58h (DRDY, DSC, DRQ; ERR and DF clear).
const Bytes kIdentifyAborted58 = {0x72, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0E, 0x09, 0x0C, 0x00,
                                  0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x58};

TEST(KernelReply, IdentifyGoesWithoutCkCondAndItsAbortedDrqReplyIsAGoodCompletion) {
  uint8_t data[512];
  AtaPassThroughRequest request = buildAtaPassThrough(taskFile(0xEC, 1, 0x40), false, false, 512);
  request.dataBuffer = data;
  request.timeOutValue = 30;
  SatCommand command;
  std::string error;
  ASSERT_TRUE(buildSatPassThrough16(request, command, error)) << error;
  const SatCdb cdb = {0x85, 0x08, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0xEC, 0x00};
  EXPECT_EQ(command.cdb, cdb);
  EXPECT_EQ(command.direction, SatDirection::FromDevice);
  EXPECT_EQ(command.length, 512u);

  IoOutcome o = finish({0x02, 512, 0, kIdentifyAborted58}, request);
  EXPECT_TRUE(o.ok()) << o.detail;
  EXPECT_EQ(request.bytesTransferred, 512u);
  EXPECT_EQ(request.currentTaskFile, (Registers{0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x58, 0x00}));

  // Without CK_COND the same kernel answers GOOD with nothing more.
  request = buildAtaPassThrough(taskFile(0xEC, 1, 0x40), false, false, 512);
  request.dataBuffer = data;
  o = finish({0x00, 512, 0, {}}, request);
  EXPECT_TRUE(o.ok()) << o.detail;
  EXPECT_EQ(request.currentTaskFile, (Registers{0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x50, 0x00}));
}

TEST(KernelReply, TheSameReplyFailsWhenTheDriveOrTheTransferDid) {
  struct Case {
    const char* what;
    KernelReply reply;
  };
  Bytes err = kIdentifyAborted58;
  err[21] = 0x51;
  err[11] = 0x04;
  Bytes deviceFault = kIdentifyAborted58;
  deviceFault[21] = 0x70;
  Bytes busy = kIdentifyAborted58;
  busy[21] = 0xD0;
  Bytes crc = kIdentifyAborted58;
  crc[2] = 0x47;  // ABORTED COMMAND with a code of its own: a bus CRC error
  crc[3] = 0x03;
  Bytes medium = kIdentifyAborted58;
  medium[1] = 0x03;
  const Case cases[] = {
      {"half the data", {0x02, 512, 256, kIdentifyAborted58}},
      {"BSY", {0x02, 512, 0, busy}},
      {"ABORTED COMMAND 47h/03h", {0x02, 512, 0, crc}},
      {"MEDIUM ERROR without ERR", {0x02, 512, 0, medium}},
      {"ABORTED COMMAND without registers",
       {0x02, 512, 0, Bytes(kIdentifyAborted58.begin(), kIdentifyAborted58.begin() + 8)}},
  };
  uint8_t data[512];
  for (const Case& c : cases) {
    AtaPassThroughRequest request = buildAtaPassThrough(taskFile(0xEC, 1, 0x40), false, false, 512);
    request.dataBuffer = data;
    IoOutcome o = finish(c.reply, request);
    EXPECT_EQ(o.error, IoError::OsFailure) << c.what;
    EXPECT_FALSE(o.detail.empty()) << c.what;
  }
  // ERR or DF: the drive answered; the transport fails the command on the
  // status it reads.
  for (const Bytes& sense : {err, deviceFault}) {
    AtaPassThroughRequest request = buildAtaPassThrough(taskFile(0xEC, 1, 0x40), false, false, 512);
    request.dataBuffer = data;
    IoOutcome o = finish({0x02, 512, 0, sense}, request);
    EXPECT_TRUE(o.ok()) << o.detail;
    EXPECT_EQ(request.currentTaskFile[6], sense[21]);
  }
}

// CHECK POWER MODE on the same kernel: non-data, CK_COND, answered with
// RECOVERED ERROR / ATA PASS-THROUGH INFORMATION AVAILABLE (00h/1Dh), status
// 50h and the power mode in the count register (FFh: active or idle).
const Bytes kCheckPowerModeActive = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x0E, 0x09, 0x0C, 0x00,
                                     0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x50};

TEST(KernelReply, CheckPowerModeAsksForTheRegistersAndReturnsItsCount) {
  AtaPassThroughRequest request = buildAtaPassThrough(taskFile(0xE5, 0, 0x40), false, false, 0);
  request.timeOutValue = 30;
  SatCommand command;
  std::string error;
  ASSERT_TRUE(buildSatPassThrough16(request, command, error)) << error;
  const SatCdb cdb = {0x85, 0x06, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0xE5, 0x00};
  EXPECT_EQ(command.cdb, cdb);
  EXPECT_EQ(command.direction, SatDirection::None);

  IoOutcome o = finish({0x02, 0, 0, kCheckPowerModeActive}, request);
  EXPECT_TRUE(o.ok()) << o.detail;
  EXPECT_EQ(request.currentTaskFile, (Registers{0x00, 0xFF, 0x00, 0x00, 0x00, 0x40, 0x50, 0x00}));

  // Its registers are its result: a GOOD without them is no answer.
  request = buildAtaPassThrough(taskFile(0xE5, 0, 0x40), false, false, 0);
  EXPECT_EQ(finish({0x00, 0, 0, {}}, request).error, IoError::NotSupported);
}

// Both replies through SendAtaCommand, as the ATA/SATA path of the transport
// sees them: the command succeeds, IDENTIFY's data is in SectorBuffer, the
// returned LBA bytes are written back.
TEST(KernelReply, TheTransportTakesBothReplies) {
  test::RecordingPort port;
  port.ata = [](AtaPassThroughRequest& r) {
    SatCommand command;
    std::string error;
    if (!buildSatPassThrough16(r, command, error)) return IoOutcome::failure(IoError::NotSupported, 0, error);
    if (command.direction == SatDirection::FromDevice) std::memset(r.dataBuffer, 0x5A, command.length);
    const Bytes& sense = r.currentTaskFile[6] == 0xEC ? kIdentifyAborted58 : kCheckPowerModeActive;
    return finish({0x02, command.length, 0, sense}, r);
  };
  test::TestContext t(port, kBusSata);
  AtaTaskFile identify = taskFile(0xEC, 1, 0x40);
  EXPECT_TRUE(SendAtaCommand(t.ctx, false, identify, false, 512));
  EXPECT_TRUE(std::all_of(t.ctx.SectorBuffer.data(), t.ctx.SectorBuffer.data() + 512,
                          [](uint8_t b) { return b == 0x5A; }));
  AtaTaskFile power = taskFile(0xE5, 0, 0x40);
  power.ucLbaLow = 0x33;
  EXPECT_TRUE(SendAtaCommand(t.ctx, false, power, false, 0));
  EXPECT_EQ(power.ucLbaLow, 0x00);
  EXPECT_EQ(t.pane.text(), "");
}

}  // namespace
}  // namespace zorv::platform
