#pragma once
// Pure decoders of the FTL, block, flash and bad-block replies and the texts
// built from them. Each reads only the bytes it is given: counts and widths
// the drive returns are clamped to what the reply can hold.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "diagnostics/diag_run.h"

namespace zorv {

// ---- PPN layout ("3103") --------------------------------------------------------

// Fields of a physical page number, in layout order.
enum PpnField : size_t { kPpnChan, kPpnChip, kPpnDie, kPpnPlan, kPpnBlck, kPpnPage, kPpnAu4k, kPpnResv, kPpnTrim };
constexpr size_t kPpnFieldCount = 9;

struct PpnLayout {
  std::array<uint32_t, kPpnFieldCount> width{};
  std::array<uint32_t, kPpnFieldCount> shift{};
  std::array<uint32_t, kPpnFieldCount> mask{};
  // (ppn AND mask) shifted right by shift; 0 when the shift leaves the word.
  uint32_t field(size_t k, uint32_t ppn) const;
};

// Widths from bytes 1, 3, ..., 17; the first eight fields packed upward from
// bit 0, trim in the top bits (its shift the sum of the other eight).
PpnLayout ppnLayoutFromWidths(const std::array<uint8_t, kPpnFieldCount>& widths);
PpnLayout ppnLayoutFromReply(std::span<const uint8_t> reply);
std::string ppnLayoutText(const PpnLayout& layout);

// "3101": the eight words of the reply for the Start PPN that was sent.
std::string onePpnText(uint32_t startPpn, std::span<const uint8_t> reply);
// One "3102" line for entry n.
std::string ppnListLine(uint32_t n, uint32_t ppn, const PpnLayout& layout);

// PPNs one "3102" sector can hold before its count byte (507).
constexpr size_t kPpnsPerListSector = 126;
// Continuation sectors a "3102" list may take: as many as SectorBuffer holds.
constexpr size_t kMaxPpnListSectors = 2048;

// "3201": the six labelled words.
std::string blockInfoText(std::span<const uint8_t> reply);

// ---- Block dump ("3202") ----------------------------------------------------------

enum class RecordField : uint8_t { UserData, TableFlag, WearLevel, EraseCount, InvalidPage, BlockType };

struct BlockDumpHeader {
  // Class 0: channel, chip, die, plane; class 1: 0, SLC start, reserved start, RAID group.
  std::array<uint8_t, 4> address{};
  uint16_t validBytes = 0;
  uint16_t dataStart = 0;  // "DataBlkS" / "NonSlcStr": first block of the MLC erase base
  uint16_t countdown = 0;
  uint16_t slcEraseBase = 0;
  uint16_t mlcEraseBase = 0;
  // Header byte 1 or 3 is FFh: nothing more follows.
  bool endMark = false;
  // Record field widths in the class's order.
  std::array<uint8_t, 6> widths{};
};
BlockDumpHeader parseBlockDumpHeader(std::span<const uint8_t> sector, uint16_t modelClass);

struct BlockRecordLayout {
  size_t count = 0;
  std::array<RecordField, 6> fields{};
  std::array<uint32_t, 6> width{};
  std::array<uint32_t, 6> shift{};
  std::array<uint64_t, 6> mask{};
  // The field's value in a record; 0 for a field the class does not have.
  uint64_t value(RecordField f, uint64_t record) const;
  // 2^(erase count width - 1); 0 for width 0 or beyond 64 bits.
  uint64_t eraseFactor() const;
};
BlockRecordLayout blockRecordLayout(const BlockDumpHeader& header, uint16_t modelClass);

// The bit-definition text that opens a dump (and is what the run log gets).
std::string bitDefinitionText(const BlockRecordLayout& layout, const BlockDumpHeader& header);
// The group header line with its "\r\n".
std::string groupHeaderLine(const BlockDumpHeader& header, uint16_t modelClass);
// One record line; eraseBase is added to the erase count.
std::string blockRecordLine(uint32_t index, uint64_t record, const BlockRecordLayout& layout, uint64_t eraseBase);
std::string planeSummaryText(uint32_t early, uint32_t later, uint32_t totalEarly, uint32_t totalLater);

// Record sectors one group can have (valid bytes are a 16-bit count).
constexpr size_t kMaxRecordsPerSector = 64;

// ---- Later-bad report ---------------------------------------------------------------

// "LtrBadRptSNum__%s__%02d%02d.csv"
std::string laterBadReportName(std::string_view serial, const DiagClockValue& clock);
// The four header rows, from the class-0 group header lines of a dump text.
std::string laterBadReportHeader(std::string_view dumpText);
// "Later Bad," then each plane summary's later-bad count, then the time.
std::string laterBadReportRow(std::string_view dumpText, const DiagClockValue& clock);

// ---- Flash information ("33", "38", "39", "F740") -------------------------------

std::string planeInfoText(std::span<const uint8_t> reply, uint16_t modelClass);
std::string flashIdText(std::span<const uint8_t> reply);
std::string flashCheckText(std::span<const uint8_t> reply);

constexpr size_t kSpiImageSize = 65536;
// Counts the 64 KiB "F740" reply can hold after its four words.
constexpr size_t kMaxBadBlockListEntries = (kSpiImageSize - 8) / 2;
std::string badBlockListText(std::span<const uint8_t> reply);

// ---- Dumps -------------------------------------------------------------------------

// A file name part made safe: path separators and control characters become '_'.
std::string fileNamePart(std::string_view text);

// "MemDmp_Adr<START>_Len%X_<stamp>.bin" for the sectors to dump.
std::string memoryDumpName(std::string_view startText, uint64_t sectors, const DiagClockValue& clock);
std::string spiDumpName(const DiagClockValue& clock);

// Swaps every 0Ah 0Dh pair to 0Dh 0Ah. Returns true when the last byte is an
// unpaired 0Ah (its partner may open the next piece).
bool swapLineEnds(std::span<uint8_t> bytes);

}  // namespace zorv
