#include "platform/linux/sg_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zorv::platform {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ErrnoMapping, OpenAndIoctlFailuresBecomeOutcomes) {
  struct Case {
    int err;
    IoError expected;
  };
  const Case cases[] = {
      {ENOENT, IoError::NoDevice},     {ENXIO, IoError::NoDevice},         {ENODEV, IoError::NoDevice},
      {ENOMEDIUM, IoError::NoDevice},  {EACCES, IoError::PermissionDenied}, {EPERM, IoError::PermissionDenied},
      {EBUSY, IoError::Busy},          {ETIMEDOUT, IoError::Timeout},      {ENOTTY, IoError::NotSupported},
      {EIO, IoError::OsFailure},       {EINVAL, IoError::OsFailure},       {ENOMEM, IoError::OsFailure},
      {EINTR, IoError::OsFailure},
  };
  for (const Case& c : cases) {
    IoOutcome o = outcomeFromErrno(c.err, "open /dev/sdb");
    EXPECT_EQ(o.error, c.expected) << c.err;
    EXPECT_EQ(o.osErrno, c.err);
    EXPECT_EQ(o.detail.rfind("open /dev/sdb: ", 0), 0u) << o.detail;
  }
}

TEST(ErrnoMapping, PermissionFailuresSayWhatIsNeeded) {
  for (int err : {EACCES, EPERM}) {
    IoOutcome o = outcomeFromErrno(err, "SG_IO /dev/sda");
    EXPECT_NE(o.detail.find("needs root or CAP_SYS_RAWIO"), std::string::npos) << o.detail;
  }
  EXPECT_EQ(outcomeFromErrno(EBUSY, "x").detail.find("CAP_SYS_RAWIO"), std::string::npos);
}

TEST(SgStatusMapping, HostAndDriverStatus) {
  struct Case {
    unsigned host;
    unsigned driver;
    IoError expected;
  };
  const Case cases[] = {
      {0x00, 0x00, IoError::None},      {0x00, 0x08, IoError::None},     {0x00, 0x28, IoError::None},
      {0x03, 0x00, IoError::Timeout},   {0x00, 0x06, IoError::Timeout},  {0x03, 0x08, IoError::Timeout},
      {0x01, 0x00, IoError::NoDevice},  {0x04, 0x00, IoError::NoDevice}, {0x02, 0x00, IoError::Busy},
      {0x00, 0x01, IoError::Busy},      {0x07, 0x00, IoError::OsFailure}, {0x08, 0x00, IoError::OsFailure},
      {0x05, 0x00, IoError::OsFailure}, {0x00, 0x04, IoError::OsFailure}, {0x0E, 0x08, IoError::OsFailure},
  };
  for (const Case& c : cases) {
    IoOutcome o = outcomeFromSgStatus(c.host, c.driver);
    EXPECT_EQ(o.error, c.expected) << std::hex << c.host << "/" << c.driver;
    if (!o.ok()) {
      EXPECT_FALSE(o.detail.empty());
    }
  }
}

ScsiRequest read10(uint32_t length) {
  static uint8_t buffer[8192];
  ScsiRequest r;
  r.cdbLength = 12;
  r.dataIn = kScsiDataIn;
  r.dataTransferLength = length;
  r.timeOutValue = 7;
  r.dataBuffer = buffer;
  r.cdb = {0x28, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00};
  return r;
}

TEST(ScsiHeader, DirectionLengthTimeOutAndBuffers) {
  SgSenseBuffer sense{};
  sg_io_hdr hdr;
  std::string error;

  ScsiRequest in = read10(4096);
  ASSERT_TRUE(buildScsiHeader(in, sense, hdr, error)) << error;
  EXPECT_EQ(hdr.interface_id, 'S');
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(hdr.cmd_len, 12);
  EXPECT_EQ(hdr.cmdp, in.cdb.data());
  EXPECT_EQ(hdr.dxfer_len, 4096u);
  EXPECT_EQ(hdr.dxferp, in.dataBuffer);
  EXPECT_EQ(hdr.timeout, 7000u);
  EXPECT_EQ(hdr.sbp, sense.data());
  EXPECT_EQ(hdr.mx_sb_len, kSgSenseBufferSize);

  ScsiRequest out = read10(512);
  out.dataIn = kScsiDataOut;
  out.cdb[0] = 0x2A;
  ASSERT_TRUE(buildScsiHeader(out, sense, hdr, error));
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_TO_DEV);

  // TEST UNIT READY: "data-out" of length 0 moves nothing.
  ScsiRequest tur;
  tur.cdbLength = 12;
  tur.dataIn = kScsiDataOut;
  tur.timeOutValue = 255;
  ASSERT_TRUE(buildScsiHeader(tur, sense, hdr, error));
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(hdr.dxferp, nullptr);
  EXPECT_EQ(hdr.timeout, 255000u);

  ScsiRequest sixteen = read10(512);
  sixteen.cdbLength = 16;
  ASSERT_TRUE(buildScsiHeader(sixteen, sense, hdr, error));
  EXPECT_EQ(hdr.cmd_len, 16);
}

TEST(ScsiHeader, RequestsThatCannotBeCarriedAreRefused) {
  SgSenseBuffer sense{};
  std::string error;
  ScsiRequest noCdb = read10(512);
  noCdb.cdbLength = 0;
  ScsiRequest longCdb = read10(512);
  longCdb.cdbLength = 17;
  ScsiRequest noBuffer = read10(512);
  noBuffer.dataBuffer = nullptr;
  for (ScsiRequest* r : {&noCdb, &longCdb, &noBuffer}) {
    sg_io_hdr hdr;
    std::memset(&hdr, 0xEE, sizeof hdr);
    error.clear();
    EXPECT_FALSE(buildScsiHeader(*r, sense, hdr, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(hdr.interface_id, static_cast<int>(0xEEEEEEEE));  // untouched
  }
}

sg_io_hdr completed(uint8_t status, unsigned len, int resid, unsigned sbLen, unsigned host = 0, unsigned driver = 0) {
  sg_io_hdr h;
  std::memset(&h, 0, sizeof h);
  h.status = status;
  h.dxfer_len = len;
  h.resid = resid;
  h.sb_len_wr = static_cast<unsigned char>(sbLen);
  h.host_status = static_cast<unsigned short>(host);
  h.driver_status = static_cast<unsigned short>(driver);
  return h;
}

SgSenseBuffer senseOf(const Bytes& b) {
  SgSenseBuffer s{};
  std::copy(b.begin(), b.end(), s.begin());
  return s;
}

TEST(ScsiCompletion, StatusSenseAndResidue) {
  const Bytes notReady = {0x72, 0x02, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00};
  SgSenseBuffer sense = senseOf(notReady);
  ScsiRequest r = read10(4096);
  IoOutcome o = finishScsiRequest(completed(0x02, 4096, 512, 8, 0, 0x08), sense, r);
  EXPECT_TRUE(o.ok());
  EXPECT_EQ(r.scsiStatus, 0x02);
  EXPECT_EQ(r.bytesTransferred, 3584u);
  EXPECT_EQ(r.sense[0], 0x70);
  EXPECT_EQ(r.sense[2], 0x02);
  EXPECT_EQ(r.sense[12], 0x04);
  EXPECT_EQ(r.sense[13], 0x01);

  ScsiRequest good = read10(4096);
  finishScsiRequest(completed(0x00, 4096, 0, 0), SgSenseBuffer{}, good);
  EXPECT_EQ(good.bytesTransferred, 4096u);
  EXPECT_EQ(good.sense, (std::array<uint8_t, kSenseLength>{}));

  // A residue the kernel cannot mean reads as nothing moved, never as more.
  ScsiRequest odd = read10(4096);
  finishScsiRequest(completed(0x00, 4096, 8192, 0), SgSenseBuffer{}, odd);
  EXPECT_EQ(odd.bytesTransferred, 0u);
  finishScsiRequest(completed(0x00, 4096, -5, 0), SgSenseBuffer{}, odd);
  EXPECT_EQ(odd.bytesTransferred, 4096u);
}

TEST(ScsiCompletion, TransportTimeOutIsAnOutcome) {
  ScsiRequest r = read10(4096);
  IoOutcome o = finishScsiRequest(completed(0x00, 4096, 4096, 0, 0x03), SgSenseBuffer{}, r);
  EXPECT_EQ(o.error, IoError::Timeout);
  EXPECT_EQ(r.bytesTransferred, 0u);
}

const Bytes kRecovered = {0x72, 0x01, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x0E, 0x09, 0x0C, 0x00,
                          0x00, 0x00, 0x01, 0x00, 0x10, 0x00, 0x20, 0x00, 0x30, 0x40, 0x50};

Bytes withStatus(Bytes sense, uint8_t key, uint8_t status, uint8_t error) {
  sense[1] = key;
  sense[3] = key == 0x01 ? 0x1D : 0x00;
  sense[sense.size() - 1] = status;
  sense[11] = error;
  return sense;
}

TEST(AtaCompletion, DecidesBetweenRegistersAndFailure) {
  struct Case {
    const char* what;
    uint8_t scsiStatus;
    Bytes sense;
    IoError expected;
    bool registersWritten;
  };
  const Bytes invalidField = {0x70, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,
                              0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0xC0, 0x00, 0x02};
  const Bytes legacyErr = {0x70, 0x00, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x04, 0x51,
                           0x40, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x20, 0x30};
  Bytes upperLostGood = {0x70, 0x00, 0x01, 0x00, 0x50, 0x40, 0x01, 0x0A, 0xA0,
                         0x10, 0x20, 0x30, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00};
  Bytes upperLostErr = upperLostGood;
  upperLostErr[2] = 0x0B;
  upperLostErr[3] = 0x04;
  upperLostErr[4] = 0x51;
  const Case cases[] = {
      {"good completion", 0x02, kRecovered, IoError::None, true},
      {"NO SENSE also reads as good", 0x02, withStatus(kRecovered, 0x00, 0x50, 0x00), IoError::None, true},
      {"drive error: registers returned, caller sees ERR", 0x02, withStatus(kRecovered, 0x0B, 0x51, 0x04),
       IoError::None, true},
      {"drive still busy", 0x02, withStatus(kRecovered, 0x0B, 0xD0, 0x00), IoError::OsFailure, true},
      {"ABORTED COMMAND carrying only the registers, ERR and DF clear", 0x02,
       withStatus(kRecovered, 0x0B, 0x50, 0x00), IoError::None, true},
      {"device fault without ERR: registers returned, caller sees DF", 0x02,
       withStatus(kRecovered, 0x0B, 0x70, 0x00), IoError::None, true},
      {"another key without ERR in the status", 0x02, withStatus(kRecovered, 0x04, 0x50, 0x00),
       IoError::OsFailure, true},
      {"refused by the translation layer", 0x02, invalidField, IoError::OsFailure, false},
      {"CK_COND ignored: GOOD without registers", 0x00, {}, IoError::NotSupported, false},
      {"pre-6.11 fixed layout with ERR", 0x02, legacyErr, IoError::None, true},
      {"fixed format lost high-order registers a 28-bit command does not have", 0x02, upperLostGood, IoError::None,
       true},
      {"fixed format, high-order registers lost but ERR set", 0x02, upperLostErr, IoError::None, true},
      {"SCSI BUSY", 0x08, {}, IoError::Busy, false},
      {"RESERVATION CONFLICT", 0x18, {}, IoError::Busy, false},
      {"TASK ABORTED", 0x40, kRecovered, IoError::OsFailure, false},
  };
  for (const Case& c : cases) {
    AtaPassThroughRequest req;
    req.currentTaskFile.fill(0xEE);
    req.previousTaskFile.fill(0xEE);
    IoOutcome o = interpretAtaCompletion(c.scsiStatus, c.sense.data(), c.sense.size(), req);
    EXPECT_EQ(o.error, c.expected) << c.what << ": " << o.detail;
    if (!o.ok()) {
      EXPECT_FALSE(o.detail.empty()) << c.what;
    }
    EXPECT_EQ(req.currentTaskFile[0] != 0xEE, c.registersWritten) << c.what;
  }
}

// Fixed-format sense holds only "non-zero" flags for the high-order
// registers: a good completion fails for want of them when it is a 48-bit
// command whose result may be its registers: a non-data command, or one
// that moves data but no media sectors (ACCESSIBLE MAX ADDRESS
// CONFIGURATION as the diagnostics send it, with a data-out phase). A media
// write's registers are no result.
TEST(AtaCompletion, HighOrderRegistersAreNeededWhereTheyMayBeTheResult) {
  const Bytes upperLost = {0x70, 0x00, 0x01, 0x00, 0x50, 0x40, 0x01, 0x0A, 0xA0,
                           0x10, 0x20, 0x30, 0x00, 0x1D, 0x00, 0x00, 0x00, 0x00};
  struct Case {
    const char* what;
    uint8_t opcode;
    uint16_t flags;
    uint32_t length;
    IoError expected;
  } cases[] = {
      {"48-bit non-data (READ NATIVE MAX ADDRESS EXT)", 0x27, 0x0B, 0, IoError::OsFailure},
      {"28-bit non-data", 0xE5, 0x03, 0, IoError::None},
      {"48-bit data-out (WRITE DMA EXT)", 0x35, 0x1D, 512, IoError::None},
      {"48-bit data-out (ACCESSIBLE MAX ADDRESS CONFIGURATION)", 0x78, 0x0D, 512, IoError::OsFailure},
  };
  for (const Case& c : cases) {
    AtaPassThroughRequest req;
    req.ataFlags = c.flags;
    req.dataTransferLength = c.length;
    req.bytesTransferred = c.length;
    req.currentTaskFile = {0, 1, 0x10, 0x20, 0x30, 0x40, c.opcode, 0};
    req.previousTaskFile = {0, 0, 0x44, 0x55, 0x66, 0, 0, 0};
    IoOutcome o = interpretAtaCompletion(0x02, upperLost.data(), upperLost.size(), req);
    EXPECT_EQ(o.error, c.expected) << c.what << ": " << o.detail;
    // What the sense data could not carry keeps what was sent.
    EXPECT_EQ(req.previousTaskFile, (std::array<uint8_t, 8>{0, 0, 0x44, 0x55, 0x66, 0, 0, 0})) << c.what;
    EXPECT_EQ(req.currentTaskFile[6], 0x50) << c.what;
  }
}

TEST(AtaCompletion, ShortTransferOfAGoodLookingCompletionFails) {
  AtaPassThroughRequest req;
  req.ataFlags = 0x05;
  req.dataTransferLength = 1024;
  req.bytesTransferred = 512;
  IoOutcome o = interpretAtaCompletion(0x02, kRecovered.data(), kRecovered.size(), req);
  EXPECT_EQ(o.error, IoError::OsFailure);
  EXPECT_NE(o.detail.find("512 of 1024"), std::string::npos) << o.detail;
}

TEST(AtaCompletion, RegistersOfAGoodCompletionReachTheTaskFiles) {
  AtaPassThroughRequest req;
  ASSERT_TRUE(interpretAtaCompletion(0x02, kRecovered.data(), kRecovered.size(), req).ok());
  const std::array<uint8_t, 8> current = {0x00, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x00};
  EXPECT_EQ(req.currentTaskFile, current);
}

TEST(AtaCompletion, RefusalNamesTheSenseKeyAndWhatToDo) {
  const Bytes invalidOpcode = {0x72, 0x05, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};
  AtaPassThroughRequest req;
  IoOutcome o = interpretAtaCompletion(0x02, invalidOpcode.data(), invalidOpcode.size(), req);
  EXPECT_NE(o.detail.find("sense key 5h"), std::string::npos) << o.detail;
  EXPECT_NE(o.detail.find("20h/00h"), std::string::npos) << o.detail;
  EXPECT_NE(o.detail.find("attach the drive by SATA or through a bridge that passes ATA commands"), std::string::npos)
      << o.detail;
  // Another refusal (NOT READY) is no statement about the bridge.
  const Bytes notReady = {0x72, 0x02, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00};
  o = interpretAtaCompletion(0x02, notReady.data(), notReady.size(), req);
  EXPECT_NE(o.detail.find("sense key 2h"), std::string::npos) << o.detail;
  EXPECT_EQ(o.detail.find("bridge"), std::string::npos) << o.detail;
}

TEST(AtaCompletion, HeaderPathChecksTheTransportFirst) {
  SgSenseBuffer sense = senseOf(kRecovered);
  AtaPassThroughRequest req;
  IoOutcome o = finishAtaRequest(completed(0x02, 512, 0, kRecovered.size(), 0x03), sense, req);
  EXPECT_EQ(o.error, IoError::Timeout);
  o = finishAtaRequest(completed(0x02, 512, 0, kRecovered.size(), 0x00, 0x08), sense, req);
  EXPECT_TRUE(o.ok()) << o.detail;
  EXPECT_EQ(req.bytesTransferred, 512u);
  EXPECT_EQ(req.currentTaskFile[6], 0x50);
  // Only the bytes the kernel says it wrote are read.
  AtaPassThroughRequest cut;
  o = finishAtaRequest(completed(0x02, 512, 0, 12), sense, cut);
  EXPECT_EQ(o.error, IoError::OsFailure);
}

TEST(SatHeader, CarriesTheCdbBothWays) {
  SatCommand cmd;
  cmd.cdb = {0x85, 0x08, 0x2E};
  cmd.direction = SatDirection::FromDevice;
  cmd.length = 512;
  cmd.timeoutMs = 30000;
  uint8_t data[512];
  SgSenseBuffer sense{};
  sg_io_hdr hdr;
  buildSatHeader(cmd, data, sense, hdr);
  EXPECT_EQ(hdr.cmd_len, 16);
  EXPECT_EQ(hdr.cmdp, cmd.cdb.data());
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(hdr.dxferp, data);
  EXPECT_EQ(hdr.timeout, 30000u);
  cmd.direction = SatDirection::ToDevice;
  buildSatHeader(cmd, data, sense, hdr);
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_TO_DEV);
  cmd.direction = SatDirection::None;
  cmd.length = 0;
  buildSatHeader(cmd, data, sense, hdr);
  EXPECT_EQ(hdr.dxfer_direction, SG_DXFER_NONE);
  EXPECT_EQ(hdr.dxferp, nullptr);
}

TEST(DescriptorSenseSwitch, ModeSenseAndSelectBytes) {
  const std::array<uint8_t, 10> sense = {0x5A, 0x08, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00};
  EXPECT_EQ(buildModeSenseControlCdb(64), sense);

  // MODE SENSE(10) data as libata returns it: header, control page.
  const Bytes data = {0x00, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x0A,
                      0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x1E};
  std::array<uint8_t, 12> page{};
  ASSERT_TRUE(extractControlPage(data.data(), data.size(), page));
  EXPECT_EQ(page[0], 0x0A);
  EXPECT_EQ(page[2] & 0x04, 0);  // fixed format now

  std::array<uint8_t, 10> cdb{};
  std::array<uint8_t, 20> params{};
  page[0] |= 0x80;  // PS as a drive may report it
  buildModeSelectDescriptorSense(page, cdb, params);
  const std::array<uint8_t, 10> select = {0x55, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00};
  EXPECT_EQ(cdb, select);
  const std::array<uint8_t, 20> expected = {0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x0A,
                                            0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x1E};
  EXPECT_EQ(params, expected);
}

TEST(DescriptorSenseSwitch, ControlPageAfterBlockDescriptorsOrMissing) {
  Bytes data = {0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8,
                0x0A, 0x0A, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x1E};
  std::array<uint8_t, 12> page{};
  ASSERT_TRUE(extractControlPage(data.data(), data.size(), page));
  EXPECT_EQ(page[2] & 0x04, 0x04);

  Bytes truncated(data.begin(), data.end() - 1);
  EXPECT_FALSE(extractControlPage(truncated.data(), truncated.size(), page));
  Bytes shortLength = data;
  shortLength[1] = 0x10;  // MODE DATA LENGTH ends inside the page
  EXPECT_FALSE(extractControlPage(shortLength.data(), shortLength.size(), page));
  Bytes otherPage = data;
  otherPage[16] = 0x08;
  EXPECT_FALSE(extractControlPage(otherPage.data(), otherPage.size(), page));
  Bytes hugeDescriptors = data;
  hugeDescriptors[6] = 0xFF;
  EXPECT_FALSE(extractControlPage(hugeDescriptors.data(), hugeDescriptors.size(), page));
  EXPECT_FALSE(extractControlPage(nullptr, 0, page));
}

}  // namespace
}  // namespace zorv::platform
