#include "diagnostics/diag_run.h"

#include <algorithm>

#include "transport/ata_command.h"
#include "transport/command_outcome.h"
#include "transport/message.h"

namespace zorv {

std::string DiagClockValue::stamp() const {
  return formatText("%02d%02d%02d%02d%02d", month(), day(), hour(), minute(), second());
}

void DiagRun::append(std::string_view text) {
  if (text.find('\0') == std::string_view::npos) {
    AppendMessage(ctx, text, pane);
    return;
  }
  std::string shown(text);
  std::erase(shown, '\0');
  AppendMessage(ctx, shown, pane);
}

bool DiagRun::stopRequested() {
  if (!ctx.fgStopRequest) return false;
  if (!stopped) {
    stopped = true;
    append(kRunStoppedText);
  }
  return true;
}

void DiagRun::showProgress(uint64_t done, uint64_t total) {
  if (!progress || total == 0) return;
  progress->setPosition(static_cast<int>(std::min<uint64_t>(done, total) * 100 / total));
}

std::string DiagRun::show(std::string text) {
  append(text);
  return text;
}

std::string DiagRun::showFailure(std::string_view what) {
  const std::string cause = commandFailureText(ctx);
  return show(std::string(what) + " Fail" + (cause.empty() ? std::string() : ": " + cause) + "\r\n");
}

bool DiagRun::send(bool dataOut, AtaTaskFile& taskFile, bool useDma, uint32_t byteCount) {
  bool ok = SendAtaCommand(ctx, dataOut, taskFile, useDma, byteCount);
  if (!ok) commandFailed = true;
  return ok;
}

bool DiagRun::write(const VendorCommandSector& sector) {
  bool ok = WriteVendorSector(ctx, sector);
  if (!ok) commandFailed = true;
  return ok;
}

bool DiagRun::readBuffer() {
  bool ok = ReadBufferSector(ctx);
  if (!ok) commandFailed = true;
  return ok;
}

VendorQueryResult DiagRun::query(const VendorCommandSector& sector) {
  VendorQueryResult r = VendorQuery(ctx, sector);
  if (!r.ok()) commandFailed = true;
  return r;
}

bool DiagRun::vendorCommand(uint8_t code, uint8_t parameter) {
  bool ok = SendVendorCommand(ctx, code, parameter);
  if (!ok) commandFailed = true;
  return ok;
}

bool DiagRun::vendorSwitch(uint8_t code, uint8_t value) {
  bool ok = SendVendorSwitch(ctx, code, value);
  if (!ok) commandFailed = true;
  return ok;
}

DiagClockValue DiagRun::now() const { return DiagClockValue{ctx.clock->localTime(), true}; }

std::span<const uint8_t> DiagRun::buffer(size_t n) const {
  return std::span<const uint8_t>(ctx.SectorBuffer.data(), std::min(n, kSectorBufferSize));
}

std::string QueryFailureText(std::string_view what) {
  return std::string(what) + " Fail: the drive did not answer\r\n";
}

std::string RawReplyText(std::span<const uint8_t> bytes) {
  std::string out;
  for (size_t off = 0; off < bytes.size(); off += 16) {
    out += formatText("%04X: ", static_cast<unsigned>(off));
    for (size_t i = off; i < std::min(bytes.size(), off + 16); ++i) out += formatText("%02X ", bytes[i]);
    out += "\r\n";
  }
  out += "----------------\r\n";
  return out;
}

std::string ShowRawReply(DiagRun& run, size_t) {
  std::string text = RawReplyText(run.buffer(512));
  run.append(text);
  return text;
}

}  // namespace zorv
