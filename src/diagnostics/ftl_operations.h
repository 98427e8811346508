#pragma once
// Decoders of the FTL address layout and block information replies. Each is
// a RowFunction (diag_run.h): the query rows find their reply at the start of
// SectorBuffer and may read further reply sectors with run.readBuffer().
//
// "3103" keeps the PPN layout in its row's memory for as long as the console
// lives; "3102" decodes nothing until it is there. "3202" writes
// "BlkInfoSNum__<serial>__<stamp>.txt" and ".bin" to run.directory, returns
// only the bit-definition text, and for a class-0 drive updates the day's
// later-bad report (dump_operations.h).

#include <filesystem>
#include <string>

#include "diagnostics/diag_run.h"

namespace zorv {

// What the last whole "3202" dump of a run wrote: its ".txt" file and that
// file's text. Kept in the row's memory for the views that chart the dump.
struct BlockDumpResult {
  std::filesystem::path textFile;
  std::string text;
};
constexpr size_t kDumpAllBlockInfoRow = 5;

std::string DecodeFtlOnePpn(DiagRun& run, size_t row);     // "3101 FTL 1 PPN"
std::string DecodeFtlPpnList(DiagRun& run, size_t row);    // "3102 FTL N PPN"
std::string DecodeFtlBitLayout(DiagRun& run, size_t row);  // "3103 FTL bit number"
std::string DecodeBlockInfo(DiagRun& run, size_t row);     // "3201 Block Info"
std::string DumpAllBlockInfo(DiagRun& run, size_t row);    // "3202 Dump All Block Info"

}  // namespace zorv
