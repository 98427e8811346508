#include "vendor/dump_operations.h"

namespace zorv {

// Until these rows have their own decoders: query replies are shown raw, the
// two F7h reads send their command and show the first sector raw, and the
// dumps, the restore stream and the SPI write send nothing.

namespace {

std::string readF7Raw(DiagRun& run, uint8_t feature) {
  AtaTaskFile& tf = run.ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = kAtaVendorSwitch;
  tf.ucFeature = feature;
  run.send(false, tf, false, 65536);
  std::string text = RawReplyText(run.buffer(512));
  run.append(text);
  return text;
}

}  // namespace

std::string DecodePlaneInfo(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string DecodeFlashId(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string DecodeFlashCheck(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string DecodeDiagnosticDump(DiagRun& run, size_t row) { return ShowRawReply(run, row); }
std::string MemoryDump(DiagRun&, size_t) { return {}; }
std::string RestoreStream(DiagRun&, size_t) { return {}; }
std::string SpiFlashRead(DiagRun& run, size_t) { return readF7Raw(run, 0x12); }
std::string SpiFlashWrite(DiagRun&, size_t) { return {}; }
std::string ShowBadBlockList(DiagRun& run, size_t) { return readF7Raw(run, 0x40); }

}  // namespace zorv
