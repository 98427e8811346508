#include "vendor/ftl_operations.h"

namespace zorv {

// Until these replies have their own decoders they are shown raw.

std::string DecodeFtlOnePpn(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string DecodeFtlPpnList(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string DecodeFtlBitLayout(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string DecodeBlockInfo(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string DumpAllBlockInfo(DiagRun& run, size_t row) { return ShowRawReply(run, row); }

}  // namespace zorv
