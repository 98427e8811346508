#include "platform/windows/ata_pass_through.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "transport/ata_command.h"

namespace zorv::platform {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const ATA_PASS_THROUGH_DIRECT& header) {
  Bytes b(sizeof header);
  std::memcpy(b.data(), &header, sizeof header);
  return b;
}

uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
uint32_t le32(const Bytes& b, size_t at) { return le16(b, at) | uint32_t{le16(b, at + 2)} << 16; }

TEST(AtaPassThroughDirect, TheRequestCodeAndTheLayoutAreTheSystemOnes) {
  EXPECT_EQ(IOCTL_ATA_PASS_THROUGH_DIRECT, 0x0004D030u);
  // 40 bytes in the 32-bit layout; the pointer makes it 48 in the 64-bit one.
  EXPECT_EQ(sizeof(ATA_PASS_THROUGH_DIRECT), sizeof(void*) == 8 ? 48u : 40u);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_DIRECT, AtaFlags), 2u);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_DIRECT, DataTransferLength), 8u);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_DIRECT, TimeOutValue), 12u);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_DIRECT, PreviousTaskFile), sizeof(void*) == 8 ? 32u : 24u);
  EXPECT_EQ(offsetof(ATA_PASS_THROUGH_DIRECT, CurrentTaskFile), sizeof(void*) == 8 ? 40u : 32u);
  EXPECT_EQ(ATA_FLAGS_DRDY_REQUIRED, kAtaFlagsDrdyRequired);
  EXPECT_EQ(ATA_FLAGS_DATA_IN, kAtaFlagsDataIn);
  EXPECT_EQ(ATA_FLAGS_DATA_OUT, kAtaFlagsDataOut);
  EXPECT_EQ(ATA_FLAGS_48BIT_COMMAND, kAtaFlags48Bit);
  EXPECT_EQ(ATA_FLAGS_USE_DMA, kAtaFlagsUseDma);
}

TEST(AtaPassThroughDirect, FlagsForEachKindOfCommand) {
  struct Case {
    const char* what;
    uint8_t opcode;
    bool dataOut;
    bool dma;
    uint32_t bytes;
    uint16_t flags;
  };
  const Case cases[] = {
      {"IDENTIFY DEVICE: 28-bit, PIO, in", 0xEC, false, false, 512, 0x03},
      {"WRITE SECTORS: 28-bit, PIO, out", 0x30, true, false, 512, 0x05},
      {"READ DMA: 28-bit, DMA, in", 0xC8, false, true, 4096, 0x13},
      {"WRITE DMA: 28-bit, DMA, out", 0xCA, true, true, 4096, 0x15},
      {"READ DMA EXT asked as PIO: 48-bit", 0x25, false, false, 4096, 0x0B},
      {"READ DMA EXT: 48-bit, DMA, in", 0x25, false, true, 4096, 0x1B},
      {"WRITE DMA EXT: 48-bit, DMA, out", 0x35, true, true, 4096, 0x1D},
      {"FLUSH CACHE: no data reads as in", 0xE7, false, false, 0, 0x03},
      {"READ NATIVE MAX ADDRESS EXT: 48-bit, no data", 0x27, false, false, 0, 0x03},
      {"SET MAX ADDRESS EXT: 48-bit, no data", 0x37, false, false, 0, 0x03},
      {"READ VERIFY SECTORS EXT: 48-bit", 0x42, false, false, 0, 0x0B},
  };
  uint8_t buffer[4096];
  for (const Case& c : cases) {
    AtaTaskFile tf;
    tf.ucCommand = c.opcode;
    AtaPassThroughRequest r = buildAtaPassThrough(tf, c.dataOut, c.dma, c.bytes);
    r.dataBuffer = buffer;
    r.timeOutValue = 30;
    ATA_PASS_THROUGH_DIRECT header;
    buildAtaPassThroughDirect(r, header);
    const Bytes b = bytesOf(header);
    EXPECT_EQ(le16(b, 0), sizeof header) << c.what;
    EXPECT_EQ(le16(b, 2), c.flags) << c.what;
    EXPECT_EQ(le32(b, 8), c.bytes) << c.what;
    EXPECT_EQ(le32(b, 12), 30u) << c.what;
    EXPECT_EQ(header.DataBuffer, c.bytes ? static_cast<void*>(buffer) : nullptr) << c.what;
    // Path, target, LUN and the reserved members stay zero.
    for (size_t i = 4; i < 8; ++i) EXPECT_EQ(b[i], 0) << c.what << " byte " << i;
    EXPECT_EQ(le32(b, 16), 0u) << c.what;
  }
}

TEST(AtaPassThroughDirect, RegisterImagesGoInAsTheTaskFileHoldsThem) {
  AtaTaskFile tf;
  tf.ucFeature = 0x11;
  tf.ucCount = 0x22;
  tf.ucLbaLow = 0x33;
  tf.ucLbaMid = 0x44;
  tf.ucLbaHigh = 0x55;
  tf.ucDevice = 0xE0;
  tf.ucCommand = 0x25;
  tf.ucDataByte = 0x77;
  tf.ucCountExt = 0x88;
  tf.ucLbaLowExt = 0x99;
  tf.ucLbaMidExt = 0xAA;
  tf.ucLbaHighExt = 0xBB;
  AtaPassThroughRequest r = buildAtaPassThrough(tf, false, true, 0);
  ATA_PASS_THROUGH_DIRECT header;
  buildAtaPassThroughDirect(r, header);
  const Bytes b = bytesOf(header);
  const size_t current = offsetof(ATA_PASS_THROUGH_DIRECT, CurrentTaskFile);
  const size_t previous = offsetof(ATA_PASS_THROUGH_DIRECT, PreviousTaskFile);
  EXPECT_EQ(Bytes(b.begin() + current, b.begin() + current + 8),
            (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0xE0, 0x25, 0x77}));
  EXPECT_EQ(Bytes(b.begin() + previous, b.begin() + previous + 8), (Bytes{0, 0x88, 0x99, 0xAA, 0xBB, 0, 0, 0}));
}

TEST(AtaPassThroughDirect, ReturnedRegistersAreWrittenBack) {
  AtaTaskFile tf;
  tf.ucCommand = 0x27;  // READ NATIVE MAX ADDRESS EXT answers in the LBA registers
  AtaPassThroughRequest r = buildAtaPassThrough(tf, false, false, 0);
  ATA_PASS_THROUGH_DIRECT header;
  buildAtaPassThroughDirect(r, header);
  const uint8_t current[8] = {0x00, 0x00, 0xAF, 0x6D, 0x1B, 0x40, 0x50, 0x00};
  const uint8_t previous[8] = {0x00, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x00, 0x00};
  std::memcpy(header.CurrentTaskFile, current, 8);
  std::memcpy(header.PreviousTaskFile, previous, 8);
  readAtaPassThroughDirect(header, r);
  EXPECT_EQ(r.currentTaskFile[6], 0x50);  // status
  EXPECT_EQ(r.currentTaskFile[0], 0x00);  // error
  EXPECT_EQ(r.currentTaskFile[2], 0xAF);
  EXPECT_EQ(r.currentTaskFile[3], 0x6D);
  EXPECT_EQ(r.currentTaskFile[4], 0x1B);
  EXPECT_EQ(r.previousTaskFile[2], 0x0E);
  EXPECT_EQ(r.bytesTransferred, 0u);
}

TEST(AtaPassThroughDirect, BytesMovedNeverExceedWhatWasAsked) {
  uint8_t buffer[512];
  AtaTaskFile tf;
  tf.ucCommand = 0xEC;
  AtaPassThroughRequest r = buildAtaPassThrough(tf, false, false, 512);
  r.dataBuffer = buffer;
  ATA_PASS_THROUGH_DIRECT header;
  buildAtaPassThroughDirect(r, header);
  header.DataTransferLength = 256;
  readAtaPassThroughDirect(header, r);
  EXPECT_EQ(r.bytesTransferred, 256u);
  header.DataTransferLength = 0xFFFFFFFF;
  readAtaPassThroughDirect(header, r);
  EXPECT_EQ(r.bytesTransferred, 512u);
}

}  // namespace
}  // namespace zorv::platform
