#include "identify/sector_buffer_window.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "discovery/drive_selected.h"
#include "identify/ata_console.h"
#include "transport/ata_command.h"
#include "transport/context.h"

namespace zorv {

BufferViewer::BufferViewer(Context& ctx, MessageSink& dumpSink) : ctx_(ctx) { pane_.sink = &dumpSink; }

void BufferViewer::open() {
  startText_ = "0000";
  lengthText_ = "0200";
  pane_.ulBufStart = 0;
  pane_.ulBufLength = 0x200;
  refreshStopped_ = false;
}

void BufferViewer::dump() { HexDump(ctx_, *pane_.sink, pane_.ulBufStart, pane_.ulBufLength); }

std::string BufferViewer::startChanged(std::string text) {
  if (text.size() != 4) return text;
  if (text[3] != '0') text[3] = '0';
  startText_ = text;
  pane_.ulBufStart = parseHexField(text);
  dump();
  return text;
}

std::string BufferViewer::lengthChanged(std::string text) {
  if (text.size() != 4) return text;
  uint32_t length;
  if (text == "FFFF" || text == "ffff") {
    length = 0x10000;
  } else {
    if (text[3] != '0') text[3] = '0';
    length = parseHexField(text);
  }
  lengthText_ = text;
  pane_.ulBufLength = length;
  if (length <= kRefreshLimit) {
    refreshStopped_ = false;
  } else {
    refreshStopped_ = true;
    ctx_.ui->messageBox("Reflash Size > 512 Byte\r\nAuto Reflash Stop", BoxIcon::None);
  }
  dump();
  return text;
}

bool BufferViewer::writeBuffer() {
  ctx_.CmdBlock.clear();
  ctx_.CmdBlock.ucCommand = ata::kWriteBuffer;
  ctx_.CmdBlock.ucCount = 1;
  bool ok = checkDriveSelected(ctx_) && SendAtaCommand(ctx_, true, ctx_.CmdBlock, false, 512);
  dump();
  return ok;
}

bool BufferViewer::readBuffer() {
  ctx_.CmdBlock.clear();
  ctx_.CmdBlock.ucCommand = ata::kReadBuffer;
  ctx_.CmdBlock.ucCount = 1;
  bool ok = checkDriveSelected(ctx_) && SendAtaCommand(ctx_, false, ctx_.CmdBlock, false, 512);
  dump();
  return ok;
}

void BufferViewer::clearBuffer() {
  // Start and length are at most FFF0h and 10000h, well inside the buffer.
  std::memset(ctx_.SectorBuffer.data() + pane_.ulBufStart, 0, pane_.ulBufLength);
  dump();
}

bool BufferViewer::saveFile() {
  // The page asks before replacing a file, so the dialog does not ask too.
  std::optional<std::string> path = ctx_.ui->chooseSaveFileWith(
      "", kFileFilter, "*.bin",
      SaveDialogOptions{.defaultExtension = "bin", .callerAsksBeforeReplacing = true});
  if (!path) return false;
  std::error_code ec;
  if (std::filesystem::exists(*path, ec)) {
    std::string question = formatText("%s   already exists.\nDo you want to replace it?", path->c_str());
    if (!ctx_.ui->askYesNo(question)) return false;
  }
  std::ofstream out(*path, std::ios::binary | std::ios::trunc);
  if (out) {
    out.write(reinterpret_cast<const char*>(ctx_.SectorBuffer.data() + pane_.ulBufStart),
              static_cast<std::streamsize>(pane_.ulBufLength));
    out.close();
  }
  if (!out) {
    ctx_.ui->messageBox(formatText("Cannot write %s", path->c_str()), BoxIcon::Stop);
    return false;
  }
  return true;
}

bool BufferViewer::loadFile() {
  std::optional<std::string> path = ctx_.ui->chooseOpenFile("", kFileFilter);
  if (!path) return false;
  std::error_code ec;
  std::ifstream in;
  if (!std::filesystem::is_directory(*path, ec)) in.open(*path, std::ios::binary);
  if (!in.is_open()) {
    ctx_.ui->messageBox(formatText("Cannot open %s", path->c_str()), BoxIcon::Stop);
    return false;
  }
  // The file goes in from the window start; whatever would run past the end
  // of SectorBuffer is left unread.
  const size_t room = ctx_.SectorBuffer.size() - pane_.ulBufStart;
  in.read(reinterpret_cast<char*>(ctx_.SectorBuffer.data() + pane_.ulBufStart), static_cast<std::streamsize>(room));
  dump();
  return !in.bad();
}

void BufferViewer::refreshTick() {
  if (!refreshStopped_) dump();
}

}  // namespace zorv
