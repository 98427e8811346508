#include "identify/identify_text.h"

#include <algorithm>
#include <cstdio>

#include "transport/context.h"

namespace zorv {

int highestSetBit(uint8_t value) {
  for (int bit = 8; bit >= 0; --bit) {
    if ((unsigned{value} >> bit) & 1u) return bit;
  }
  return -1;
}

namespace {

// ATA strings keep two characters per word, the high byte first. The text
// is cut at the first NUL, as a C string would be.
std::string ataString(const uint8_t* data, int firstWord, int words) {
  std::string s;
  for (int w = firstWord; w < firstWord + words; ++w) {
    s.push_back(static_cast<char>(data[2 * w + 1]));
    s.push_back(static_cast<char>(data[2 * w]));
  }
  return s.substr(0, s.find('\0'));
}

bool bitSet(uint8_t byte, int bit) { return (byte >> bit) & 1; }

}  // namespace

std::vector<std::string> decodeIdentifyLines(const uint8_t* d) {
  std::vector<std::string> lines;
  lines.emplace_back();

  switch ((d[0] >> 5) & 0x03) {
    case 1: lines.emplace_back(" Interrput DRQ"); break;
    case 2: lines.emplace_back(" Accelerated DRQ"); break;
    default: lines.emplace_back(" Microprocessor DRQ"); break;
  }

  lines.push_back(" Serial Number = " + ataString(d, 10, 10));
  lines.push_back(" Firmware Rev. = " + ataString(d, 23, 4));
  lines.push_back(" Model Number  = " + ataString(d, 27, 20));

  std::string caps;
  if (bitSet(d[99], 0)) caps += "DMA, ";
  if (bitSet(d[99], 1)) caps += "LBA, ";
  if (bitSet(d[99], 2)) caps += "IORDY can disable, ";
  if (bitSet(d[99], 3)) caps += "IORDY, ";
  if (bitSet(d[99], 5)) caps += "OVERLAP";
  lines.push_back(" Supporting Capibilities = " + caps);

  // Word 53 bit 1: words 64-70 are valid; bit 2: word 88 is valid.
  bool word64Valid = bitSet(d[106], 1);
  bool word88Valid = bitSet(d[106], 2);
  if (word64Valid && d[128] != 0) {
    lines.push_back(formatText(" PIO = MODE %d", highestSetBit(d[128]) + 3));
  } else {
    lines.push_back(formatText(" MODE %u", unsigned{d[103]}));
  }

  if (d[124] != 0) lines.push_back(formatText(" Single Word DMA = MODE %d", highestSetBit(d[124])));

  const char* multiword = " Multi Word DMA Mode ";
  if (d[126] != 0) lines.push_back(formatText("%s%d supported.", multiword, highestSetBit(d[126])));
  if (d[127] != 0) lines.push_back(formatText("%s%d is selected", multiword, highestSetBit(d[127])));

  if (word88Valid) {
    int udma = highestSetBit(d[176]);
    if (udma >= 0 && udma <= 7) lines.push_back(formatText(" Ultra DMA mode %d supported.", udma));
  }

  if (d[127] != 0 || d[177] != 0) {
    bool isMultiword = (d[127] & 0x07) != 0;
    int mode = highestSetBit(isMultiword ? d[127] : d[177]);
    if (mode < 0) mode = 10;
    lines.push_back(formatText(" Current mode = %s DMA Mode %d", isMultiword ? "Multiword" : "Ultra", mode));
  }

  struct SataLine {
    int byte;
    int bit;
    const char* text;
  };
  static constexpr SataLine kSata[] = {
      {152, 1, " Support SATA Genation 1"},
      {152, 2, " Support SATA Genation 2"},
      {153, 1, " Support HIPM(Host Initiating Power Management)"},
      {153, 2, " Support Phy Event Counters"},
      {154, 4, " Support Zero Power"},
      {156, 3, " Support DIPM(Device Initiating Power Management)"},
      {156, 5, " Support AN(Asynchronous Notification)"},
      {156, 6, " Support SSP(Software Settings Preservation)"},
      {158, 3, " Enabled DIPM(Device Initiating Power Management)"},
      {158, 5, " Enabled AN(Asynchronous Notification)"},
      {158, 6, " Enabled SSP(Software Settings Preservation)"},
  };
  for (const SataLine& s : kSata) {
    if (bitSet(d[s.byte], s.bit)) lines.emplace_back(s.text);
  }
  return lines;
}

void DecodeIdentifyText(Context& ctx) {
  for (const std::string& line : decodeIdentifyLines(ctx.SectorBuffer.data())) {
    PrintMessage(ctx, "%s", line.c_str());
  }
}

std::string hexDumpText(const uint8_t* data, size_t size, size_t start, size_t count) {
  if (start >= size) return {};
  count = std::min(count, size - start);
  std::string out;
  out.reserve(count / 16 * 76);
  std::string ascii;
  for (size_t i = start; i < start + count; ++i) {
    uint8_t b = data[i];
    // 7Fh (DEL) is a control byte like those below 20h: a text box shows no
    // glyph for it.
    ascii.push_back(b <= 0x20 || b >= 0x7F ? '.' : static_cast<char>(b));
    if (i % 16 == 7) ascii.push_back(' ');
    // A line is written when its last byte (i mod 16 = 15) is in the window;
    // its address is i - 15 even when the window does not start on a line.
    if (i % 16 == 15) {
      const uint8_t* p = data + (i - 15);
      char line[128];
      std::snprintf(line, sizeof line,
                    "%04X:%02X %02X %02X %02X %02X %02X %02X %02X  %02X %02X %02X %02X %02X %02X %02X %02X |",
                    static_cast<unsigned>(i - 15), p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7], p[8], p[9],
                    p[10], p[11], p[12], p[13], p[14], p[15]);
      out += line;
      out += ascii;
      out += '\n';
      ascii.clear();
    }
  }
  return out;
}

void HexDump(Context& ctx, MessageSink& pane, uint32_t start, uint32_t count) {
  pane.clear();
  std::string text = hexDumpText(ctx.SectorBuffer.data(), ctx.SectorBuffer.size(), start, count);
  if (!text.empty()) pane.append(text);
}

void refreshDump(Context& ctx, DumpPane* pane) {
  if (pane && pane->sink) HexDump(ctx, *pane->sink, pane->ulBufStart, pane->ulBufLength);
}

}  // namespace zorv
