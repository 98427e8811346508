#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "identify/identify_text.h"
#include "identify_image.h"
#include "support/test_support.h"

namespace zorv {
namespace {

using test::IdentifyImage;

// A SATA SSD reporting PIO 4, multiword DMA 2 supported, UDMA 6 supported
// and selected (word 88 = 407Fh, word 63 high byte 0).
IdentifyImage udmaDrive() {
  IdentifyImage id;
  id.word(0, 0x0040)
      .text(10, 10, "SN0123456789")
      .text(23, 4, "FW1.07")
      .text(27, 20, "ORBENNE PA256")
      .word(49, 0x0F00)
      .word(53, 0x0006)
      .word(63, 0x0007)
      .word(64, 0x0003)
      .word(88, 0x407F);
  return id;
}

std::string padded(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

TEST(DecodeIdentify, UltraDmaDriveLinesInOrder) {
  IdentifyImage id = udmaDrive();
  const std::vector<std::string> expected = {
      "",
      " Accelerated DRQ",
      " Serial Number = " + padded("SN0123456789", 20),
      " Firmware Rev. = " + padded("FW1.07", 8),
      " Model Number  = " + padded("ORBENNE PA256", 40),
      " Supporting Capibilities = DMA, LBA, IORDY can disable, IORDY, ",
      " PIO = MODE 4",
      " Multi Word DMA Mode 2 supported.",
      " Ultra DMA mode 6 supported.",
      " Current mode = Ultra DMA Mode 6",
  };
  EXPECT_EQ(decodeIdentifyLines(id.bytes.data()), expected);
}

TEST(DecodeIdentify, FullSataFeatureSetPrintsEveryLine) {
  IdentifyImage id = udmaDrive();
  id.word(76, 0x0606).word(77, 0x0010).word(78, 0x0068).word(79, 0x0068);
  std::vector<std::string> lines = decodeIdentifyLines(id.bytes.data());
  const std::vector<std::string> sata = {
      " Support SATA Genation 1",
      " Support SATA Genation 2",
      " Support HIPM(Host Initiating Power Management)",
      " Support Phy Event Counters",
      " Support Zero Power",
      " Support DIPM(Device Initiating Power Management)",
      " Support AN(Asynchronous Notification)",
      " Support SSP(Software Settings Preservation)",
      " Enabled DIPM(Device Initiating Power Management)",
      " Enabled AN(Asynchronous Notification)",
      " Enabled SSP(Software Settings Preservation)",
  };
  ASSERT_GE(lines.size(), sata.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(sata.size()), lines.end()), sata);

  // Each line follows its own bit: only Gen2 and enabled AN.
  id.word(76, 0x0004).word(77, 0).word(78, 0).word(79, 0x0020);
  lines = decodeIdentifyLines(id.bytes.data());
  EXPECT_EQ(lines[lines.size() - 2], " Support SATA Genation 2");
  EXPECT_EQ(lines.back(), " Enabled AN(Asynchronous Notification)");
}

TEST(DecodeIdentify, DrqTypeFromByteZeroBits6To5) {
  const std::pair<uint16_t, const char*> cases[] = {
      {0x0000, " Microprocessor DRQ"}, {0x0020, " Interrput DRQ"},
      {0x0040, " Accelerated DRQ"},    {0x0060, " Microprocessor DRQ"},
  };
  for (auto [word0, text] : cases) {
    IdentifyImage id;
    id.word(0, word0);
    EXPECT_EQ(decodeIdentifyLines(id.bytes.data())[1], text) << word0;
  }
}

TEST(DecodeIdentify, TransferModeVariants) {
  // Words 64-70 not valid: the old PIO mode number from word 51 bits 15-8.
  IdentifyImage oldPio;
  oldPio.word(51, 0x0200).word(64, 0x0003);
  std::vector<std::string> lines = decodeIdentifyLines(oldPio.bytes.data());
  EXPECT_EQ(lines[6], " MODE 2");
  EXPECT_EQ(lines.size(), 7u);  // no DMA lines, no current mode

  // Multiword DMA 2 selected wins the current mode over the Ultra DMA byte;
  // the Ultra DMA support line needs word 53 bit 2.
  IdentifyImage mw;
  mw.word(53, 0x0002).word(64, 0x0001).word(62, 0x0007).word(63, 0x0407).word(88, 0x0107);
  lines = decodeIdentifyLines(mw.bytes.data());
  const std::vector<std::string> tail = {
      " PIO = MODE 3",
      " Single Word DMA = MODE 2",
      " Multi Word DMA Mode 2 supported.",
      " Multi Word DMA Mode 2 is selected",
      " Current mode = Multiword DMA Mode 2",
  };
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 6, lines.end()), tail);

  // A selected-mode byte with only high bits: multiword is not chosen, the
  // Ultra DMA high byte is empty, so the mode reads 10.
  IdentifyImage none;
  none.word(63, 0x8000);
  lines = decodeIdentifyLines(none.bytes.data());
  EXPECT_EQ(lines.back(), " Current mode = Ultra DMA Mode 10");
}

TEST(DecodeIdentify, StringsStopAtNul) {
  IdentifyImage id;
  id.text(10, 10, "AB").word(11, 0x4300);  // "AB" "C\0" then spaces
  EXPECT_EQ(decodeIdentifyLines(id.bytes.data())[2], " Serial Number = ABC");
}

TEST(DecodeIdentify, PrintsToPaneFromSectorBuffer) {
  test::RecordingPort port;
  test::TestContext t(port);
  IdentifyImage id = udmaDrive();
  std::copy(id.bytes.begin(), id.bytes.end(), t.ctx.SectorBuffer.data());
  DecodeIdentifyText(t.ctx);
  std::string text = t.pane.text();
  EXPECT_EQ(text.substr(0, 18), "\n Accelerated DRQ\n");
  EXPECT_NE(text.find(" Current mode = Ultra DMA Mode 6\n"), std::string::npos);

  t.ctx.ucMsgMode = kMsgModeSilent;
  t.pane.clear();
  DecodeIdentifyText(t.ctx);
  EXPECT_EQ(t.pane.text(), "");
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return lines;
}

TEST(HexDump, FullSectorIsThirtyTwoLines) {
  test::RecordingPort port;
  test::TestContext t(port);
  for (int i = 0; i < 512; ++i) t.ctx.SectorBuffer[i] = static_cast<uint8_t>(i);
  StringSink dump;
  dump.append("old contents\n");
  HexDump(t.ctx, dump, 0, 512);
  std::vector<std::string> lines = splitLines(dump.text());
  ASSERT_EQ(lines.size(), 32u);
  EXPECT_EQ(lines[0],
            "0000:00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F |........ ........");
  EXPECT_EQ(lines[2], "0020:20 21 22 23 24 25 26 27  28 29 2A 2B 2C 2D 2E 2F |.!\"#$%&' ()*+,-./");
  EXPECT_EQ(lines[31].substr(0, 5), "01F0:");
}

TEST(HexDump, AsciiColumnRule) {
  uint8_t data[32] = {0x41};
  std::fill(data + 1, data + 16, 0x20);
  const uint8_t second[16] = {0x1F, 0x20, 0x21, 0x7E, 0x7F, 0x80, 0xFF, 0x30,
                              0x61, 0x00, 0x5A, 0x7F, 0x80, 0x41, 0x42, 0x43};
  std::copy(second, second + 16, data + 16);
  std::vector<std::string> lines = splitLines(hexDumpText(data, sizeof data, 0, 32));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "0000:41 20 20 20 20 20 20 20  20 20 20 20 20 20 20 20 |A....... ........");
  // Bytes up to 20h and from 7Fh (DEL, a control byte) become dots.
  EXPECT_EQ(lines[1], "0010:1F 20 21 7E 7F 80 FF 30  61 00 5A 7F 80 41 42 43 |..!~...0 a.Z..ABC");
}

TEST(HexDump, PartialLastLineIsDropped) {
  uint8_t data[64] = {};
  EXPECT_EQ(splitLines(hexDumpText(data, sizeof data, 0, 20)).size(), 1u);
  EXPECT_EQ(hexDumpText(data, sizeof data, 0, 15), "");
  std::vector<std::string> lines = splitLines(hexDumpText(data, sizeof data, 16, 40));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 5), "0010:");
  EXPECT_EQ(lines[1].substr(0, 5), "0020:");
}

TEST(HexDump, WindowIsCutAtTheEndOfTheData) {
  std::vector<uint8_t> data(48, 0x41);  // exact size, so a read past it shows under ASan
  EXPECT_EQ(splitLines(hexDumpText(data.data(), data.size(), 32, 0x10000)).size(), 1u);
  EXPECT_EQ(hexDumpText(data.data(), data.size(), 48, 16), "");
  EXPECT_EQ(hexDumpText(data.data(), data.size(), 1000, 16), "");

  test::RecordingPort port;
  test::TestContext t(port);
  StringSink dump;
  HexDump(t.ctx, dump, static_cast<uint32_t>(kSectorBufferSize - 32), 0x10000);
  EXPECT_EQ(splitLines(dump.text()).size(), 2u);
}

}  // namespace
}  // namespace zorv
