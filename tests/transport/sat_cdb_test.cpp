#include "transport/sat_cdb.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "transport/ata_command.h"

namespace zorv {
namespace {

using Bytes8 = std::array<uint8_t, 8>;

AtaPassThroughRequest request(uint16_t flags, uint32_t length, Bytes8 current, Bytes8 previous = {}) {
  static uint8_t buffer[4];
  AtaPassThroughRequest r;
  r.ataFlags = flags;
  r.dataTransferLength = length;
  r.dataBuffer = buffer;  // never dereferenced by the builder
  r.timeOutValue = 30;
  r.currentTaskFile = current;
  r.previousTaskFile = previous;
  return r;
}

struct CdbCase {
  const char* what;
  AtaPassThroughRequest request;
  SatCdb cdb;
  SatDirection direction;
};

TEST(SatRegisterImage, RegisterImagesBecomeCdbsByteForByte) {
  const CdbCase cases[] = {
      {"IDENTIFY DEVICE, PIO data-in, 512 bytes",
       request(0x03, 512, {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0xEC, 0x00}),
       {0x85, 0x08, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0xEC, 0x00},
       SatDirection::FromDevice},
      {"READ DMA EXT, 48-bit: high bytes before low bytes",
       request(0x1B, 8 * 512, {0x00, 0x08, 0x78, 0x56, 0x34, 0x40, 0x25, 0x00},
               {0x00, 0x00, 0x12, 0x9A, 0xBC, 0x00, 0x00, 0x00}),
       {0x85, 0x0D, 0x0E, 0x00, 0x00, 0x00, 0x08, 0x12, 0x78, 0x9A, 0x56, 0xBC, 0x34, 0x40, 0x25, 0x00},
       SatDirection::FromDevice},
      {"READ DMA EXT sent as PIO (flags 0x0B)",
       request(0x0B, 512, {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0x25, 0x00}),
       {0x85, 0x09, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x25, 0x00},
       SatDirection::FromDevice},
      {"WRITE DMA EXT, 48-bit data-out, count 0x0100",
       request(0x1D, 256 * 512, {0x00, 0x00, 0x01, 0x02, 0x03, 0x40, 0x35, 0x00},
               {0x00, 0x01, 0x04, 0x05, 0x06, 0x00, 0x00, 0x00}),
       {0x85, 0x0D, 0x26, 0x00, 0x00, 0x01, 0x00, 0x04, 0x01, 0x05, 0x02, 0x06, 0x03, 0x40, 0x35, 0x00},
       SatDirection::ToDevice},
      {"DOWNLOAD MICROCODE, PIO data-out 64 KiB",
       request(0x05, 65536, {0x07, 0x80, 0x00, 0x00, 0x00, 0xA0, 0x92, 0x00}),
       {0x85, 0x0A, 0x26, 0x00, 0x07, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x92, 0x00},
       SatDirection::ToDevice},
      {"DOWNLOAD MICROCODE DMA",
       request(0x15, 512, {0x03, 0x01, 0x00, 0x00, 0x00, 0xA0, 0x93, 0x00}),
       {0x85, 0x0C, 0x26, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xA0, 0x93, 0x00},
       SatDirection::ToDevice},
      {"SMART READ DATA, features and LBA signature",
       request(0x03, 512, {0xD0, 0x01, 0x00, 0x4F, 0xC2, 0xA0, 0xB0, 0x00}),
       {0x85, 0x08, 0x0E, 0x00, 0xD0, 0x00, 0x01, 0x00, 0x00, 0x00, 0x4F, 0x00, 0xC2, 0xA0, 0xB0, 0x00},
       SatDirection::FromDevice},
      {"non-data: no length, IN flag alone does not make it data-in",
       request(0x03, 0, {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEF, 0x00}),
       {0x85, 0x06, 0x20, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEF, 0x00},
       SatDirection::None},
      {"non-data 48-bit with the DMA flag stays non-data",
       request(0x1B, 0, {0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x78, 0x00}),
       {0x85, 0x07, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x78, 0x00},
       SatDirection::None},
      {"28-bit command: previous task file is not sent",
       request(0x03, 512, {0x00, 0x01, 0x11, 0x22, 0x33, 0xE0, 0xEC, 0x00},
               {0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22}),
       {0x85, 0x08, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x00, 0x11, 0x00, 0x22, 0x00, 0x33, 0xE0, 0xEC, 0x00},
       SatDirection::FromDevice},
      {"READ FPDMA QUEUED: protocol 12, block count in FEATURES",
       request(0x1B, 8 * 512, {0x08, 0x00, 0x00, 0x10, 0x00, 0x40, 0x60, 0x00},
               {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
       {0x85, 0x19, 0x0D, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x40, 0x60, 0x00},
       SatDirection::FromDevice},
  };
  for (const CdbCase& c : cases) {
    SatCommand out;
    std::string error;
    ASSERT_TRUE(buildSatPassThrough16(c.request, out, error)) << c.what << ": " << error;
    EXPECT_EQ(out.cdb, c.cdb) << c.what;
    EXPECT_EQ(out.direction, c.direction) << c.what;
    EXPECT_EQ(out.length, c.request.dataTransferLength) << c.what;
    EXPECT_EQ(out.timeoutMs, 30000u) << c.what;
  }
}

TEST(SatRegisterImage, ConsoleDataByteIsDropped) {
  AtaPassThroughRequest with = request(0x03, 512, {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0xEC, 0xAB});
  AtaPassThroughRequest without = request(0x03, 512, {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0xEC, 0x00});
  SatCommand a, b;
  std::string error;
  ASSERT_TRUE(buildSatPassThrough16(with, a, error));
  ASSERT_TRUE(buildSatPassThrough16(without, b, error));
  EXPECT_EQ(a.cdb, b.cdb);
}

TEST(SatRegisterImage, TimeOutInMillisecondsWithoutOverflow) {
  AtaPassThroughRequest r = request(0x03, 0, {0, 0, 0, 0, 0, 0, 0xE7, 0});
  SatCommand out;
  std::string error;
  r.timeOutValue = 255;
  ASSERT_TRUE(buildSatPassThrough16(r, out, error));
  EXPECT_EQ(out.timeoutMs, 255000u);
  r.timeOutValue = 0xFFFFFFFFu;
  ASSERT_TRUE(buildSatPassThrough16(r, out, error));
  EXPECT_GE(out.timeoutMs, 4294000000u);  // clamped, not wrapped to a tiny value
}

TEST(SatRegisterImage, RequestsThePathCannotCarryAreRefusedAndLeaveTheOutputAlone) {
  struct Refusal {
    const char* what;
    AtaPassThroughRequest request;
    const char* mentions;
  };
  AtaPassThroughRequest noBuffer = request(0x03, 512, {0, 1, 0, 0, 0, 0x40, 0xEC, 0});
  noBuffer.dataBuffer = nullptr;
  const Refusal refusals[] = {
      {"both directions", request(0x07, 512, {0, 1, 0, 0, 0, 0x40, 0xEC, 0}), "both"},
      {"length without direction", request(0x01, 512, {0, 1, 0, 0, 0, 0x40, 0xEC, 0}), "direction"},
      {"length without buffer", noBuffer, "buffer"},
      {"part of a sector", request(0x03, 100, {0, 1, 0, 0, 0, 0x40, 0xEC, 0}), "512-byte"},
      {"more than one command moves",
       request(0x0B, kMaxAtaTransferBytes + 512, {0, 0, 0, 0, 0, 0x40, 0x25, 0}), "65536"},
      {"FPDMA without the DMA flag", request(0x0B, 4096, {8, 0, 0, 0, 0, 0x40, 0x61, 0}), "FPDMA"},
  };
  for (const Refusal& r : refusals) {
    SatCommand out;
    out.cdb.fill(0xEE);
    out.length = 12345;
    std::string error;
    EXPECT_FALSE(buildSatPassThrough16(r.request, out, error)) << r.what;
    EXPECT_NE(error.find(r.mentions), std::string::npos) << r.what << ": " << error;
    EXPECT_EQ(out.cdb[0], 0xEE) << r.what;
    EXPECT_EQ(out.length, 12345u) << r.what;
  }
}

TEST(SatRegisterImage, LargestTransferIsAccepted) {
  AtaPassThroughRequest r = request(0x1B, kMaxAtaTransferBytes, {0, 0, 0, 0, 0, 0x40, 0x25, 0});
  SatCommand out;
  std::string error;
  EXPECT_TRUE(buildSatPassThrough16(r, out, error)) << error;
}

TEST(SatRegisterImage, OnlyDataInGoesWithoutTheRegisters) {
  EXPECT_FALSE(satRequestsRegisters(request(0x03, 512, {0, 1, 0, 0, 0, 0x40, 0xEC, 0})));
  EXPECT_FALSE(satRequestsRegisters(request(0x1B, 512, {0, 1, 0, 0, 0, 0x40, 0x25, 0})));
  EXPECT_TRUE(satRequestsRegisters(request(0x03, 0, {0, 0, 0, 0, 0, 0, 0xE5, 0})));
  EXPECT_TRUE(satRequestsRegisters(request(0x05, 512, {0, 0, 0, 0, 0, 0x40, 0x78, 0})));
  EXPECT_TRUE(satRequestsRegisters(request(0x15, 512, {0, 1, 0, 0, 0, 0x40, 0xCA, 0})));
}

TEST(UsbAtaCdb, IdentifyTravelsAsPioDataInWithByteCount) {
  UsbAtaCdb usb = buildUsbAtaCdb(test::identifyTaskFile(), false, 512);
  const SatCdb expected = {0x85, 0x08, 0x1E, 0x00, 0x00, 0x00, 0x01, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0xEC, 0x00};
  EXPECT_EQ(usb.cdb, expected);
  EXPECT_EQ(usb.transferLength, 512u);
}

struct ProtocolCase {
  uint8_t opcode;
  bool dataOut;
  uint8_t byte1;
  uint8_t byte2;
  uint32_t length;  // for count 3 and a byte count of 100
};

// Every opcode: the listed ones by the table, the rest as non-data (never
// protocol 0, which has the bridge reset the device).
TEST(UsbAtaCdb, ProtocolByteAndLengthByOpcode) {
  const ProtocolCase listed[] = {
      {0x06, true, 0x0C, 0x16, 1536}, {0x25, false, 0x15, 0x1E, 1536}, {0xC8, false, 0x15, 0x1E, 1536},
      {0x35, true, 0x17, 0x16, 1536}, {0x93, true, 0x17, 0x16, 1536},  {0xCA, true, 0x17, 0x16, 1536},
      {0x92, true, 0x0A, 0x16, 100},  {0xE8, true, 0x0A, 0x16, 100},   {0xB0, false, 0x08, 0x1E, 100},
      {0xE4, false, 0x08, 0x1E, 100}, {0xEC, false, 0x08, 0x1E, 100},  {0xF7, true, 0x0A, 0x16, 100},
      {0xF7, false, 0x08, 0x1E, 100},
  };
  for (int op = 0; op < 256; ++op) {
    for (bool dataOut : {false, true}) {
      ProtocolCase expected{static_cast<uint8_t>(op), dataOut, 0x06, 0x00, 0};
      if (isAta48BitOpcode(expected.opcode)) expected.byte1 = 0x07;
      for (const ProtocolCase& c : listed) {
        if (c.opcode == op && (op != 0xF7 || c.dataOut == dataOut)) {
          expected.byte1 = c.byte1;
          expected.byte2 = static_cast<uint8_t>(dataOut ? 0x16 : 0x1E);
          expected.length = c.length;
        }
      }
      AtaTaskFile tf;
      tf.ucCommand = expected.opcode;
      tf.ucCount = 3;
      UsbAtaCdb usb = buildUsbAtaCdb(tf, dataOut, 100);
      EXPECT_EQ(usb.cdb[1], expected.byte1) << std::hex << op << " out " << dataOut;
      EXPECT_EQ(usb.cdb[2], expected.byte2) << std::hex << op << " out " << dataOut;
      EXPECT_EQ(usb.transferLength, expected.length) << std::hex << op << " out " << dataOut;
    }
  }
}

TEST(UsbAtaCdb, RegisterMappingPutsExtBytesBeforeLowBytes) {
  AtaTaskFile tf;
  tf.ucFeature = 0x11;
  tf.ucCountExt = 0x22;
  tf.ucCount = 0x33;
  tf.ucLbaLowExt = 0x44;
  tf.ucLbaLow = 0x55;
  tf.ucLbaMidExt = 0x66;
  tf.ucLbaMid = 0x77;
  tf.ucLbaHighExt = 0x88;
  tf.ucLbaHigh = 0x99;
  tf.ucDevice = 0xAA;
  tf.ucCommand = 0x25;
  tf.ucDataByte = 0xCC;  // not carried on USB
  UsbAtaCdb usb = buildUsbAtaCdb(tf, false, 0);
  const SatCdb expected = {0x85, 0x15, 0x1E, 0x00, 0x11, 0x22, 0x33, 0x44,
                           0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0x25, 0x00};
  EXPECT_EQ(usb.cdb, expected);
}

}  // namespace
}  // namespace zorv
