#include "identify/buffer_editor.h"

#include <algorithm>
#include <cstring>

#include "identify/ata_console.h"
#include "identify/identify_text.h"
#include "transport/context.h"

namespace zorv {

namespace {

constexpr uint32_t kGridBytes = BufferEditor::kRows * BufferEditor::kColumns;

// The grid never reaches past SectorBuffer: addresses are at most 4 hex
// digits, so the last row ends below 0x10200; the bound is kept anyway.
uint32_t clampToBuffer(const Context& ctx, uint32_t address) {
  const uint32_t last = static_cast<uint32_t>(ctx.SectorBuffer.size()) - kGridBytes;
  return std::min(address, last);
}

}  // namespace

void BufferEditor::open(Context& ctx) {
  for (auto& row : cells) row.fill(std::string());
  showRows(ctx, 0);
  startText = "0000";
  endText = "0200";
  valueText = "00";
}

void BufferEditor::showRows(Context& ctx, uint32_t address) {
  shown_ = clampToBuffer(ctx, address);
  for (int i = 0; i < kRows; ++i) {
    const uint32_t rowAddress = shown_ + 16u * static_cast<uint32_t>(i);
    addresses[static_cast<size_t>(i)] = formatText("%04X", rowAddress);
    for (int j = 0; j < kColumns; ++j) {
      cells[static_cast<size_t>(i)][static_cast<size_t>(j)] =
          formatText("%02X", ctx.SectorBuffer[rowAddress + static_cast<uint32_t>(j)]);
    }
  }
}

std::string BufferEditor::startAddressChanged(Context& ctx, std::string text) {
  if (text.size() == 4 && text[3] != '0') text[3] = '0';
  startText = text;
  showRows(ctx, parseHexField(text));
  return text;
}

void BufferEditor::enter(Context& ctx, DumpPane* dump) {
  for (int i = 0; i < kRows; ++i) {
    for (int j = 0; j < kColumns; ++j) {
      const uint32_t at = shown_ + 16u * static_cast<uint32_t>(i) + static_cast<uint32_t>(j);
      ctx.SectorBuffer[at] =
          static_cast<uint8_t>(parseHexField(cells[static_cast<size_t>(i)][static_cast<size_t>(j)], 2));
    }
  }
  refreshDump(ctx, dump);
}

void BufferEditor::save(Context& ctx, DumpPane* dump) {
  const uint32_t a = parseHexField(startText);
  const uint32_t b = parseHexField(endText);
  const uint8_t v = static_cast<uint8_t>(parseHexField(valueText, 2));
  if (a == b) return;
  if (a < b) {
    std::memset(ctx.SectorBuffer.data() + a, v, b - a);
    // The grid shows the rows from the start again, so its first b - a cells
    // read the value and the others what the buffer really holds there.
    showRows(ctx, a);
  }
  refreshDump(ctx, dump);
}

}  // namespace zorv
