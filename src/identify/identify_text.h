#pragma once
// Short text views of raw data: the transfer-mode and SATA capability lines
// of IDENTIFY DEVICE data, and the hex dump of a window of SectorBuffer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/message.h"

namespace zorv {

struct Context;

constexpr size_t kIdentifyDataSize = 512;

// Index of the highest set bit of a byte, scanning bits 8 down to 0; -1 when
// no bit is set.
int highestSetBit(uint8_t value);

// The lines DecodeIdentifyText prints, without their "\n", for 512 bytes of
// IDENTIFY data.
std::vector<std::string> decodeIdentifyLines(const uint8_t* data);

// Decodes the IDENTIFY data at the start of SectorBuffer into lines on the
// message pane.
void DecodeIdentifyText(Context& ctx);

// The dump text of data[start .. start+count): one line per complete
// 16-byte line of the window, a trailing partial line left out. The window
// is cut at size, so nothing past the data is read.
std::string hexDumpText(const uint8_t* data, size_t size, size_t start, size_t count);

// Where HexDump writes (the buffer viewer's rich-text box) and the window it
// shows, so that the any-ATA console and the buffer editor can refresh it
// after they change SectorBuffer.
struct DumpPane {
  MessageSink* sink = nullptr;
  uint32_t ulBufStart = 0;
  uint32_t ulBufLength = 0x200;
};

// Replaces the dump pane's contents with the dump of SectorBuffer[start ..
// start+count).
void HexDump(Context& ctx, MessageSink& pane, uint32_t start, uint32_t count);

// HexDump of the pane's current window; nothing when there is no pane.
void refreshDump(Context& ctx, DumpPane* pane);

}  // namespace zorv
