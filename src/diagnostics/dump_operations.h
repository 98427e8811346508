#pragma once
// Memory and SPI dumps, restore, SPI flash image, bad-block list and the
// flash-status decoders. Each is a RowFunction (diag_run.h).
//
// Query rows (33, 38, 39, 5702) find their reply at the start of SectorBuffer.
// Procedure rows (50, 52, F712, F714, F740) send everything themselves.
// Files go to run.directory, named from run.clock.
// RestoreStream runs after the console has written the 51h request for the
// file it loaded; the file's bytes are in run.memory[row] as a
// std::vector<uint8_t> (kept until the next file is loaded).

#include "diagnostics/diag_run.h"

namespace zorv {

std::string DecodePlaneInfo(DiagRun& run, size_t row);       // "33 Plane Info"
std::string DecodeFlashId(DiagRun& run, size_t row);         // "38 Flash ID"
std::string DecodeFlashCheck(DiagRun& run, size_t row);      // "39 Check Flash"
std::string DecodeDiagnosticDump(DiagRun& run, size_t row);  // "5702 Diagnostic Dump"
std::string MemoryDump(DiagRun& run, size_t row);            // "50 Memory Dump", "52 SPI Memory Dump"
std::string RestoreStream(DiagRun& run, size_t row);         // "51 Restore Binary Into SSD", after the request
std::string SpiFlashRead(DiagRun& run, size_t row);          // "F712 SPI Flash Read"
std::string SpiFlashWrite(DiagRun& run, size_t row);         // "F714 SPI Flash Write"
std::string ShowBadBlockList(DiagRun& run, size_t row);      // "F740 Show Block Info"

// After a block dump of a model-class-0 drive: appends one row to the day's
// later-bad report "LtrBadRptSNum__<serial>__<MMDD>.csv" (with its header
// rows when the file is new) from the dump's ".txt" text.
void UpdateLaterBadReport(DiagRun& run, std::string_view serial, std::string_view dumpText);

}  // namespace zorv
