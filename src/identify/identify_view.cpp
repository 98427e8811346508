#include "identify/identify_view.h"

#include <cstring>
#include <filesystem>
#include <fstream>

#include "discovery/drive_selected.h"
#include "identify/identify_text.h"
#include "transport/ata_command.h"
#include "transport/command_outcome.h"
#include "transport/message.h"
#include "transport/context.h"

namespace zorv {

bool SendIdentifyDevice(Context& ctx) {
  ctx.CmdBlock.clear();
  ctx.CmdBlock.ucCommand = ata::kIdentifyDevice;
  ctx.CmdBlock.ucCount = 1;
  ctx.CmdBlock.ucDevice = 0x40;
  return SendAtaCommand(ctx, false, ctx.CmdBlock, false, kIdentifyDataSize);
}

std::string identifyFileName(const std::string& model, const std::string& serial) {
  std::string name = "Identify_" + model + "_" + serial + ".bin";
  for (char& c : name) {
    if (c == '/' || c == '\\' || c == '\0') c = '_';
  }
  return name;
}

std::optional<std::vector<uint8_t>> readIdentifyFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  // Only the first 512 bytes are IDENTIFY data; a larger file is not pulled
  // into memory beyond them.
  std::vector<uint8_t> bytes(kIdentifyDataSize);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return std::nullopt;
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

std::string identifyIntegrityText(const std::array<uint8_t, 512>& data) {
  constexpr uint8_t kSignature = 0xA5;
  if (data[510] != kSignature) return {};
  uint8_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  if (sum == 0) return {};
  return formatText("Integrity word %02X%02Xh: the checksum does not check out (the data sums to %02Xh, not 00h)\r\n",
                    data[511], data[510], sum);
}

void IdentifyView::clear() {
  mode_ = Mode::Empty;
  rows_.clear();
  differences_.clear();
  notice_.clear();
}

IdentifyView::IdentifyResult IdentifyView::identify(Context& ctx, const std::string& dir) {
  IdentifyResult result;
  result.identified = readDrive(ctx);
  if (result.identified) result.saved = saveFile(ctx, dir, result.fileName);
  return result;
}

bool IdentifyView::readDrive(Context& ctx) {
  clear();
  if (!checkDriveSelected(ctx)) {
    notice_ = "No drive is selected\r\n";
    return false;
  }
  if (!SendIdentifyDevice(ctx)) {
    PrintFailureCause(ctx);
    std::string cause = commandFailureText(ctx);
    notice_ = "IDENTIFY DEVICE failed" + (cause.empty() ? std::string() : ": " + cause) + "\r\n";
    return false;
  }
  // A reply cut short failed the command above: what is here is whole.
  std::memcpy(data_.data(), ctx.SectorBuffer.data(), data_.size());
  notice_ += identifyIntegrityText(data_);
  rows_ = identifySingleRows(identifyWordsFromBytes(data_.data(), data_.size()));
  mode_ = Mode::Single;
  return true;
}

bool IdentifyView::saveFile(const Context& ctx, const std::string& dir, std::string& fileName) const {
  if (mode_ != Mode::Single) return false;
  const DriveEntry& drive = ctx.DriveTable[ctx.hasSelectedDrive() ? ctx.ucSelDrive : 0];
  std::filesystem::path file = std::filesystem::path(dir) / identifyFileName(drive.strModel, drive.strSerial);
  fileName = file.string();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(reinterpret_cast<const char*>(data_.data()), static_cast<std::streamsize>(data_.size()));
  out.close();
  return static_cast<bool>(out);
}

bool IdentifyView::compareBinary(UserInterface& ui) {
  std::optional<std::string> first = ui.chooseOpenFile("", kFirstFilter);
  if (!first) return false;
  std::optional<std::string> second = ui.chooseOpenFile("", kSecondFilter);
  if (!second) return false;
  return compareFiles(*first, *second);
}

bool IdentifyView::compareFiles(const std::string& first, const std::string& second, std::string* error) {
  std::optional<std::vector<uint8_t>> a = readIdentifyFile(first);
  if (!a) {
    if (error) *error = first;
    return false;
  }
  std::optional<std::vector<uint8_t>> b = readIdentifyFile(second);
  if (!b) {
    if (error) *error = second;
    return false;
  }
  clear();
  rows_ = identifyCompareRows(identifyWordsFromBytes(a->data(), a->size()),
                              identifyWordsFromBytes(b->data(), b->size()));
  differences_ = identifyDifferences(rows_);
  mode_ = Mode::Compare;
  return true;
}

}  // namespace zorv
