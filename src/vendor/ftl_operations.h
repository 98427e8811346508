#pragma once
// Decoders of the FTL address layout and block information replies. Each is
// a RowFunction (diag_run.h): the query rows find their reply at the start of
// SectorBuffer and may read further reply sectors with run.readBuffer().

#include "vendor/diag_run.h"

namespace zorv {

std::string DecodeFtlOnePpn(DiagRun& run, size_t row);     // "3101 FTL 1 PPN"
std::string DecodeFtlPpnList(DiagRun& run, size_t row);    // "3102 FTL N PPN"
std::string DecodeFtlBitLayout(DiagRun& run, size_t row);  // "3103 FTL bit number"
std::string DecodeBlockInfo(DiagRun& run, size_t row);     // "3201 Block Info"
std::string DumpAllBlockInfo(DiagRun& run, size_t row);    // "3202 Dump All Block Info"

}  // namespace zorv
