#include "diagnostics/ftl_operations.h"

#include <algorithm>
#include <optional>

#include "transport/byte_order.h"
#include "transport/message.h"
#include "diagnostics/dump_file.h"
#include "diagnostics/dump_operations.h"
#include "diagnostics/ftl_decode.h"
#include "diagnostics/operation_table.h"

namespace zorv {

namespace {

// The row whose memory keeps the PPN layout once "3103" has read it.
constexpr size_t kBitLayoutRow = 3;

}  // namespace

std::string DecodeFtlBitLayout(DiagRun& run, size_t) {
  PpnLayout layout = ppnLayoutFromReply(run.buffer(512));
  run.memory[kBitLayoutRow] = layout;
  std::string text = ppnLayoutText(layout);
  run.append(text);
  return text;
}

std::string DecodeFtlOnePpn(DiagRun& run, size_t) {
  std::string text = onePpnText(readHexBox(run.inputs.startPpn), run.buffer(512));
  run.append(text);
  return text;
}

std::string DecodeFtlPpnList(DiagRun& run, size_t) {
  const PpnLayout* layout = std::any_cast<PpnLayout>(&run.memory[kBitLayoutRow]);
  if (!layout) {
    run.inputRefused = true;
    run.append("Please Read Structure Bit Define First\r\n");
    return {};
  }
  uint32_t n = readHexBox(run.inputs.startPpn);
  std::string text;
  // A drive that marks every sector as followed by another is not read
  // beyond what SectorBuffer could hold.
  for (size_t sector = 0; sector < kMaxPpnListSectors; ++sector) {
    auto reply = run.buffer(512);
    size_t count = std::min<size_t>(reply[507], kPpnsPerListSector);
    for (size_t i = 0; i < count; ++i, ++n) {
      uint32_t ppn = be32(&reply[4 * i]);
      text += ppnListLine(n, ppn, *layout);
    }
    if (reply[510] != 0xAB || reply[511] != 0xCD || sector + 1 == kMaxPpnListSectors) break;
    run.readBuffer();
  }
  run.append(text);
  return text;
}

std::string DecodeBlockInfo(DiagRun& run, size_t) {
  std::string text = blockInfoText(run.buffer(512));
  run.append(text);
  return text;
}

std::string DumpAllBlockInfo(DiagRun& run, size_t) {
  run.memory[kDumpAllBlockInfoRow].reset();
  const uint16_t cls = run.modelClass == 1 ? 1 : 0;
  const std::string serial = fileNamePart(run.ctx.selectedDrive().strSerial);
  const std::string base = "BlkInfoSNum__" + serial + "__" + run.now().stamp();
  DumpFile txt(run, base + ".txt");
  DumpFile bin(run, base + ".bin");

  std::optional<int> countdown;
  bool firstGroup = true;
  BlockRecordLayout layout;
  std::string definitions;
  std::string dumpText;  // what went into the ".txt" file
  uint32_t totalEarly = 0;
  uint32_t totalLater = 0;
  bool anyGroup = false;
  // A dump is whole only when every sector it announced was read: after a
  // failed READ BUFFER the buffer holds no sector of the dump.
  bool readFailed = false;

  // Every sector read counts down; a drive that keeps announcing records
  // is read no further than its countdown allows (at most 65,535 sectors).
  int announced = 0;
  while (true) {
    auto sector = run.buffer(512);
    BlockDumpHeader header = parseBlockDumpHeader(sector, cls);
    if (!countdown) countdown = announced = header.countdown;
    *countdown -= 1;
    if (header.endMark || *countdown < 1) break;
    // A stop ends the dump between two groups of records.
    if (run.stopRequested()) break;
    run.showProgress(static_cast<uint64_t>(announced - *countdown), static_cast<uint64_t>(announced));

    if (firstGroup) {
      layout = blockRecordLayout(header, cls);
      definitions = bitDefinitionText(layout, header);
      run.append(definitions);
      firstGroup = false;
    }
    anyGroup = true;
    std::string line = groupHeaderLine(header, cls);
    txt.write(line);
    dumpText += line;
    run.append(line);
    bin.write(sector);
    run.append(formatText("Valid Byte follow: %d\r\n", header.validBytes));

    const uint64_t factor = layout.eraseFactor();
    const uint64_t slcBase = factor * header.slcEraseBase;
    const uint64_t mlcBase = factor * header.mlcEraseBase;
    size_t recordsToGo = header.validBytes / 8;
    size_t sectors = (size_t{header.validBytes} + 511) / 512;
    uint32_t index = 0;
    uint32_t early = 0;
    uint32_t later = 0;
    std::string records;
    bool cutShort = false;
    for (size_t s = 0; s < sectors; ++s) {
      if (*countdown < 1) {
        cutShort = true;
        break;
      }
      *countdown -= 1;
      if (!run.readBuffer()) {
        readFailed = true;
        break;
      }
      auto data = run.buffer(512);
      bin.write(data);
      size_t here = std::min(kMaxRecordsPerSector, recordsToGo);
      for (size_t r = 0; r < here; ++r, ++index) {
        uint64_t record = le64(&data[8 * r]);
        uint64_t type = layout.value(RecordField::BlockType, record);
        if (type == 1) ++early;
        if (type == 2) ++later;
        records += blockRecordLine(index, record, layout, index >= header.dataStart ? mlcBase : slcBase);
      }
      recordsToGo -= here;
    }
    totalEarly += early;
    totalLater += later;
    if (cls == 0 && !readFailed) records += planeSummaryText(early, later, totalEarly, totalLater);
    txt.write(records);
    dumpText += records;
    if (cutShort || readFailed) break;
    if (!run.readBuffer()) {
      readFailed = true;
      break;
    }
  }
  if (readFailed) {
    // The files hold what was read before the failure; the later-bad report
    // takes no row from a dump that does not cover every plane.
    std::string failure = "Dump Block Info Fail: READ BUFFER failed\r\nThe files are incomplete: ";
    failure += base + ".txt, " + base + ".bin\r\n";
    return definitions + run.show(failure);
  }
  if (run.stopped) {
    // A part of the records would give the report a wrong count.
    return definitions + std::string(kRunStoppedText);
  }
  run.append("Dump Block Info Ok\r\n");
  run.showProgress(1, 1);
  run.memory[kDumpAllBlockInfoRow] = BlockDumpResult{run.file(base + ".txt"), dumpText};

  if (cls == 0 && anyGroup) {
    UpdateLaterBadReport(run, run.ctx.selectedDrive().strSerial, dumpText);
  }
  return definitions;
}

}  // namespace zorv
