#include "platform/windows/scsi_pass_through.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace zorv::platform {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const ScsiPassThroughRecord& record) {
  Bytes b(sizeof record);
  std::memcpy(b.data(), &record, sizeof record);
  return b;
}

uint32_t le32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

ScsiRequest read10(uint8_t* buffer) {
  ScsiRequest r;
  r.cdbLength = 12;
  r.dataIn = kScsiDataIn;
  r.dataTransferLength = 4096;
  r.timeOutValue = 7;
  r.dataBuffer = buffer;
  const uint8_t cdb[12] = {0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 8, 0, 0, 0};
  std::memcpy(r.cdb.data(), cdb, sizeof cdb);
  return r;
}

TEST(ScsiPassThroughDirect, TheRequestCodeAndTheLayoutAreTheSystemOnes) {
  EXPECT_EQ(IOCTL_SCSI_PASS_THROUGH_DIRECT, 0x0004D014u);
  // 44 bytes in the 32-bit layout; the pointer makes it 56 in the 64-bit one.
  EXPECT_EQ(sizeof(SCSI_PASS_THROUGH_DIRECT), sizeof(void*) == 8 ? 56u : 44u);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus), 2u);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength), 6u);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength), 7u);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn), 8u);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength), 12u);
  EXPECT_EQ(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue), 16u);
  EXPECT_EQ(SCSI_IOCTL_DATA_IN, kScsiDataIn);
  EXPECT_EQ(SCSI_IOCTL_DATA_OUT, kScsiDataOut);
}

TEST(ScsiPassThroughDirect, ARead10WithItsSenseAreaAfterTheHeader) {
  uint8_t buffer[4096];
  ScsiRequest r = read10(buffer);
  ScsiPassThroughRecord record;
  std::memset(&record, 0xCC, sizeof record);  // everything not set must be cleared
  std::string error;
  ASSERT_TRUE(buildScsiPassThroughDirect(r, record, error)) << error;
  const Bytes b = bytesOf(record);
  const size_t senseAt = offsetof(ScsiPassThroughRecord, sense);
  EXPECT_EQ(senseAt, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(b[0] | b[1] << 8, static_cast<int>(sizeof(SCSI_PASS_THROUGH_DIRECT)));  // Length: the header only
  EXPECT_EQ(b[2], 0);                                                              // ScsiStatus
  EXPECT_EQ(b[3] | b[4] | b[5], 0);                                                // path, target, LUN
  EXPECT_EQ(b[6], 12);                                                             // CdbLength
  EXPECT_EQ(b[7], 18);                                                             // SenseInfoLength
  EXPECT_EQ(b[8], 1);                                                              // DataIn
  EXPECT_EQ(le32(b, 12), 4096u);
  EXPECT_EQ(le32(b, 16), 7u);
  EXPECT_EQ(record.header.DataBuffer, buffer);
  EXPECT_EQ(record.header.SenseInfoOffset, senseAt);
  const size_t cdbAt = offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb);
  EXPECT_EQ(Bytes(b.begin() + cdbAt, b.begin() + cdbAt + 16),
            (Bytes{0x28, 0, 0x12, 0x34, 0x56, 0x78, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(b.begin() + senseAt, b.end()), Bytes(kSenseAreaSize, 0));
}

TEST(ScsiPassThroughDirect, DirectionAndCdbLengthAsTheTransportSetsThem) {
  struct Case {
    const char* what;
    uint8_t cdbLength;
    uint8_t dataIn;
    uint32_t length;
  };
  const Case cases[] = {
      {"WRITE(10)", 12, kScsiDataOut, 4096},
      {"TEST UNIT READY: no data is data-out", 12, kScsiDataOut, 0},
      {"ATA PASS-THROUGH(16) data-in", 16, kScsiDataIn, 512},
      {"ATA PASS-THROUGH(16) data-out", 16, kScsiDataOut, 512},
  };
  uint8_t buffer[4096];
  for (const Case& c : cases) {
    ScsiRequest r;
    r.cdbLength = c.cdbLength;
    r.dataIn = c.dataIn;
    r.dataTransferLength = c.length;
    r.dataBuffer = buffer;
    ScsiPassThroughRecord record;
    std::string error;
    ASSERT_TRUE(buildScsiPassThroughDirect(r, record, error)) << c.what;
    EXPECT_EQ(record.header.CdbLength, c.cdbLength) << c.what;
    EXPECT_EQ(record.header.DataIn, c.dataIn) << c.what;
    EXPECT_EQ(record.header.DataTransferLength, c.length) << c.what;
    EXPECT_EQ(record.header.DataBuffer, c.length ? static_cast<void*>(buffer) : nullptr) << c.what;
  }
}

TEST(ScsiPassThroughDirect, RefusesWhatNoDriverCouldCarry) {
  uint8_t buffer[512];
  ScsiPassThroughRecord record;
  std::string error;
  for (uint8_t length : {0, 17, 255}) {
    ScsiRequest r = read10(buffer);
    r.cdbLength = length;
    EXPECT_FALSE(buildScsiPassThroughDirect(r, record, error)) << int(length);
    EXPECT_NE(error.find("outside 1..16"), std::string::npos) << error;
  }
  ScsiRequest r = read10(nullptr);
  EXPECT_FALSE(buildScsiPassThroughDirect(r, record, error));
  EXPECT_NE(error.find("without a buffer"), std::string::npos) << error;
}

TEST(ScsiPassThroughDirect, StatusSenseAndLengthComeBack) {
  uint8_t buffer[4096];
  ScsiRequest r = read10(buffer);
  ScsiPassThroughRecord record;
  std::string error;
  ASSERT_TRUE(buildScsiPassThroughDirect(r, record, error));
  // CHECK CONDITION, MEDIUM ERROR / UNRECOVERED READ ERROR, half the data.
  record.header.ScsiStatus = 0x02;
  record.header.DataTransferLength = 2048;
  const uint8_t sense[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0};
  std::memcpy(record.sense, sense, sizeof sense);
  record.header.SenseInfoLength = 18;
  readScsiPassThroughDirect(record, r);
  EXPECT_EQ(r.scsiStatus, 0x02);
  EXPECT_EQ(Bytes(r.sense.begin(), r.sense.end()), Bytes(sense, sense + 18));
  EXPECT_EQ(r.bytesTransferred, 2048u);
}

TEST(ScsiPassThroughDirect, OnlyTheSenseBytesTheDriverWroteAreKept) {
  uint8_t buffer[4096];
  ScsiRequest r = read10(buffer);
  ScsiPassThroughRecord record;
  std::string error;
  ASSERT_TRUE(buildScsiPassThroughDirect(r, record, error));
  std::memset(record.sense, 0xAB, sizeof record.sense);
  record.header.SenseInfoLength = 0;  // GOOD: nothing written
  readScsiPassThroughDirect(record, r);
  EXPECT_EQ(Bytes(r.sense.begin(), r.sense.end()), Bytes(18, 0));
  record.header.SenseInfoLength = 8;
  readScsiPassThroughDirect(record, r);
  EXPECT_EQ(Bytes(r.sense.begin(), r.sense.begin() + 8), Bytes(8, 0xAB));
  EXPECT_EQ(Bytes(r.sense.begin() + 8, r.sense.end()), Bytes(10, 0));
  record.header.SenseInfoLength = 0xFF;  // never past the area
  record.header.DataTransferLength = 0xFFFFFFFF;
  readScsiPassThroughDirect(record, r);
  EXPECT_EQ(Bytes(r.sense.begin(), r.sense.end()), Bytes(18, 0xAB));
  EXPECT_EQ(r.bytesTransferred, 4096u);
}

}  // namespace
}  // namespace zorv::platform
