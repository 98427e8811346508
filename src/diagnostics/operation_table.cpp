#include "diagnostics/operation_table.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <vector>

#include "transport/message.h"
#include "diagnostics/dump_operations.h"
#include "diagnostics/ftl_operations.h"
#include "diagnostics/smart.h"

namespace zorv {

namespace {

std::string decodeInfoSsdRow(DiagRun& run, size_t row);

using K = OperationKind;
using A = ArgumentLayout;

VendorOperation query(uint8_t index, std::string_view text, uint8_t code, std::optional<uint8_t> parameter,
                      RowFunction decoder, A arguments = A::None) {
  VendorOperation op{index, text, K::Query, code, parameter};
  op.arguments = arguments;
  op.function = decoder;
  return op;
}

VendorOperation writeOnly(uint8_t index, std::string_view text, uint8_t code, uint8_t parameter,
                          std::string_view message) {
  VendorOperation op{index, text, K::WriteOnly, code, parameter};
  op.message = message;
  return op;
}

VendorOperation vendorCommand(uint8_t index, std::string_view text, uint8_t code, std::string_view message) {
  VendorOperation op{index, text, K::VendorCommand, code, uint8_t{0}};
  op.message = message;
  return op;
}

VendorOperation procedure(uint8_t index, std::string_view text, uint8_t code, RowFunction fn) {
  VendorOperation op{index, text, K::Procedure, code, std::nullopt};
  op.function = fn;
  return op;
}

VendorOperation switches(uint8_t index, std::string_view text, SwitchStep first,
                         std::optional<SwitchStep> second = std::nullopt) {
  VendorOperation op{index, text, K::Switches, ata::kVendorSwitch, std::nullopt};
  op.switches[0] = first;
  op.switchCount = 1;
  if (second) {
    op.switches[1] = *second;
    op.switchCount = 2;
  }
  return op;
}

VendorOperation maxAddress(uint8_t index, std::string_view text, uint8_t feature) {
  VendorOperation op{index, text, K::MaxAddress, ata::kAccessibleMaxAddressConfiguration, std::nullopt};
  op.feature = feature;
  return op;
}

std::array<VendorOperation, kVendorOperationCount> makeList() {
  constexpr std::nullopt_t kFill = std::nullopt;
  VendorOperation restore{10, "51 Restore Binary Into SSD", K::Restore, 0x51, kFill};
  restore.function = &RestoreStream;
  VendorOperation smart{19, "B0D0 SMART Read", K::SmartRead, ata::kSmart, uint8_t{0xD0}};
  return {{
      query(0, "30 Info SSD", 0x30, kFill, &decodeInfoSsdRow),
      query(1, "3101 FTL 1 PPN", 0x31, 0x01, &DecodeFtlOnePpn, A::OnePpn),
      query(2, "3102 FTL N PPN", 0x31, 0x02, &DecodeFtlPpnList, A::PpnRange),
      query(3, "3103 FTL bit number", 0x31, 0x03, &DecodeFtlBitLayout),
      query(4, "3201 Block Info", 0x32, 0x01, &DecodeBlockInfo, A::BlockAddress),
      query(5, "3202 Dump All Block Info", 0x32, 0x02, &DumpAllBlockInfo),
      query(6, "33 Plane Info", 0x33, kFill, &DecodePlaneInfo, A::PlaneAddress),
      query(7, "38 Flash ID", 0x38, kFill, &DecodeFlashId),
      query(8, "39 Check Flash", 0x39, kFill, &DecodeFlashCheck),
      procedure(9, "50 Memory Dump", 0x50, &MemoryDump),
      restore,
      procedure(11, "52 SPI Memory Dump", 0x52, &MemoryDump),
      writeOnly(12, "5601 Init All UDATA", 0x56, 0x01, "All UDATA initialize Done\r\n"),
      writeOnly(13, "5602 Init Security UDATA", 0x56, 0x02, "Security UDATA initialize Done\r\n"),
      writeOnly(14, "5603 Init SMART UData", 0x56, 0x03, "SMART UDATA initialize Done\r\n"),
      query(15, "5702 Diagnostic Dump", 0x57, 0x02, &DecodeDiagnosticDump),
      vendorCommand(16, "80 PreRB3", 0x80, "PreRB3\r\n"),
      // 81h reports with the same text as 80h.
      vendorCommand(17, "81 PreRB2", 0x81, "PreRB3\r\n"),
      vendorCommand(18, "EB Disable Idle GC", 0xEB, "Disable Idle GC\r\n"),
      smart,
      procedure(20, "F712 SPI Flash Read", ata::kVendorSwitch, &SpiFlashRead),
      procedure(21, "F714 SPI Flash Write", ata::kVendorSwitch, &SpiFlashWrite),
      procedure(22, "F740 Show Block Info", ata::kVendorSwitch, &ShowBadBlockList),
      switches(23, "F75301 Enable Skip Model Name", {0x53, 1, "Enable Skip Model Name Check\r\n"}),
      switches(24, "F75300 Disable Skip Model Name", {0x53, 0, "Disable Skip Model Name Check\r\n"}),
      switches(25, "F76001 Disable Power Down", {0x60, 1, "Disable Power Down\r\n"}),
      switches(26, "F76000 Enable Power Down", {0x60, 0, "Enable Power Down\r\n"}),
      // The RS232 switches also set power down, to the opposite sense.
      switches(27, "F7C000 Disable RS232 Output", {0x60, 0, "Enable Power Down\r\n"},
               SwitchStep{0xC0, 0, "Disable COM Port\r\n"}),
      switches(28, "F7C001 Enable RS232 Output", {0x60, 1, "Disable Power Down\r\n"},
               SwitchStep{0xC0, 1, "Enable COM Port\r\n"}),
      switches(29, "F7D000 Disable Abnormal Pf", {0xD0, 0, "Disable Abnormal Pf Stop\r\n"}),
      switches(30, "F7D001 Enable Abnormal Pf", {0xD0, 1, "Enable Abnormal Pf Stop\r\n"}),
      switches(31, "F7D100 Disable Debug Reinit Stop", {0xD1, 0, "Disable Debug Reinit Stop\r\n"}),
      switches(32, "F7D101 Enable Debug Reinit Stop", {0xD1, 1, "Enable Debug Reinit Stop\r\n"}),
      maxAddress(33, "780000 Std ATA Get Max Address", 0),
      maxAddress(34, "780001 Std ATA Set Max Address", 1),
      maxAddress(35, "780002 Std ATA FreezeMax Address", 2),
  }};
}

// ---- Info SSD row -----------------------------------------------------------

std::string decodeInfoSsdRow(DiagRun& run, size_t) {
  InfoSsdRecord record(run.buffer(kInfoSsdRecordSize));
  run.infoSsd = record;
  std::string fields = DecodeInfoSsdFields(record, run.modelClass);
  bool failed = false;
  std::string wwn = ReadWwnLine(run.ctx, &failed);
  std::string pcba = ReadPcbaLine(run.ctx, &failed);
  if (failed) run.commandFailed = true;
  std::string text = pcba + wwn + fields;
  run.append(text);
  return text;
}

// ---- Rows by kind -------------------------------------------------------------

std::string performQuery(DiagRun& run, const VendorOperation& op) {
  std::string text;
  if (op.arguments == A::BlockAddress && run.modelClass == 1) {
    text = "Raid: " + run.inputs.raid + "\r\n" + "Block: " + run.inputs.block + "\r\n";
    run.append(text);
  }
  auto sector = buildOperationSector(op.index, run.inputs, run.modelClass);
  run.replyRead = run.query(*sector).ok();
  // A reply that was not read is whatever the buffer held (FFh where the
  // drive returned nothing): decoding it would show and log junk as data.
  if (!run.replyRead) return text + run.show(QueryFailureText(op.text));
  RowFunction decode = op.function ? op.function : &ShowRawReply;
  return text + decode(run, op.index);
}

// The rows that only send: their done message (and the power-off box) only
// when the drive took the command; a refused one says so instead.
std::string performWriteOnly(DiagRun& run, const VendorOperation& op) {
  auto sector = buildOperationSector(op.index, run.inputs, run.modelClass);
  if (!run.write(*sector)) return run.showFailure(op.text);
  run.append(op.message);
  return std::string(op.message);
}

std::string performVendorCommand(DiagRun& run, const VendorOperation& op) {
  if (!run.vendorCommand(op.code, 0)) return run.showFailure(op.text);
  run.append(op.message);
  run.ctx.ui->messageBox("Please Turn Off Drive Immediately", BoxIcon::Information);
  return std::string(op.message);
}

std::string performSmart(DiagRun& run) {
  if (SmartReadData(run.ctx)) {
    run.append("S.M.A.R.T. Read Success\r\n");
  } else {
    run.commandFailed = true;
    return run.show(QueryFailureText("S.M.A.R.T. Read"));
  }
  std::array<uint8_t, kSmartSectorSize> data{};
  auto buf = run.buffer(kSmartSectorSize);
  std::copy(buf.begin(), buf.end(), data.begin());
  run.smartData = data;
  std::string text = DecodeSmartData(data);
  run.append(text);
  return text;
}

std::string performSwitches(DiagRun& run, const VendorOperation& op) {
  std::string text;
  for (size_t i = 0; i < op.switchCount; ++i) {
    const SwitchStep& s = op.switches[i];
    if (!run.vendorSwitch(s.code, s.value)) return text + run.showFailure(op.text);
    run.append(s.message);
    text += s.message;
  }
  return text;
}

std::string sixBytes(const AtaTaskFile& tf) {
  return formatText("%02X%02X%02X%02X%02X%02XH", tf.ucLbaHighExt, tf.ucLbaMidExt, tf.ucLbaLowExt, tf.ucLbaHigh,
                    tf.ucLbaMid, tf.ucLbaLow);
}

uint64_t returnedLba(const AtaTaskFile& tf) {
  return uint64_t{tf.ucLbaHighExt} << 40 | uint64_t{tf.ucLbaMidExt} << 32 | uint64_t{tf.ucLbaLowExt} << 24 |
         uint64_t{tf.ucLbaHigh} << 16 | uint64_t{tf.ucLbaMid} << 8 | tf.ucLbaLow;
}

// What GET NATIVE MAX ADDRESS read from a drive, kept in row 33's memory
// for the "780001" runs that follow.
struct NativeMaxAddress {
  std::string devicePath;
  uint64_t lba = 0;
};
constexpr size_t kGetMaxAddressRow = 33;

// GET NATIVE MAX ADDRESS through CmdBlock; the address when the drive
// returned one (a USB bridge returns no registers).
std::optional<uint64_t> getNativeMaxAddress(DiagRun& run) {
  AtaTaskFile& tf = run.ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kAccessibleMaxAddressConfiguration;
  tf.ucFeature = 0;
  tf.ucCount = 0;
  const bool ok = run.send(true, tf, false, 512);
  const DriveEntry& drive = run.ctx.selectedDrive();
  if (!ok || drive.ucBusType == kBusUsb) return std::nullopt;
  uint64_t lba = returnedLba(tf);
  run.memory[kGetMaxAddressRow] = NativeMaxAddress{drive.strDevicePath, lba};
  return lba;
}

std::optional<uint64_t> knownNativeMaxAddress(DiagRun& run) {
  const auto* read = std::any_cast<NativeMaxAddress>(&run.memory[kGetMaxAddressRow]);
  if (read && read->devicePath == run.ctx.selectedDrive().strDevicePath) return read->lba;
  return std::nullopt;
}

std::string refuseMaxAddress(DiagRun& run, std::string reason) {
  run.inputRefused = true;
  std::string text = "Set Accessible Max Address: " + reason + "\r\n";
  run.append(text);
  return text;
}

std::string performMaxAddress(DiagRun& run, const VendorOperation& op) {
  AtaTaskFile& tf = run.ctx.CmdBlock;
  tf.clear();
  std::string text;
  switch (op.feature) {
    case 0: {
      std::optional<uint64_t> lba = getNativeMaxAddress(run);
      run.ctx.clock->sleepFor(std::chrono::milliseconds(500));
      // A failed command returned no address, and a USB bridge returns no
      // registers: the box keeps what it held rather than an address of 0.
      if (lba) {
        text = "Get Native Max Address:\r\n" + sixBytes(tf) + "\r\n";
        run.addressBox = sixBytes(tf);
      } else if (run.ctx.selectedDrive().ucBusType == kBusUsb) {
        text = "Get Native Max Address:\r\nNot available behind a USB bridge\r\n";
      } else {
        text = "Get Native Max Address:\r\nNot available: the command failed\r\n";
      }
      break;
    }
    case 1: {
      // Whatever the box holds becomes the drive's capacity: an empty or
      // mistyped box (read as 0) would shrink it to one sector, so only a
      // whole address up to the native max address is sent.
      const std::string typed = addressBoxText(run.inputs.address);
      std::optional<uint64_t> address = parseAddressBox(run.inputs.address);
      if (!address) {
        return refuseMaxAddress(run, typed.empty()
                                         ? std::string("no address given")
                                         : "\"" + run.inputs.address + "\" is not a hexadecimal address");
      }
      // Up to the capacity the drive reported nothing needs asking; beyond
      // it (a drive shrunk earlier) the drive is asked for its native max
      // address first.
      const uint64_t sectors = run.ctx.selectedDrive().sectorCount();
      std::optional<uint64_t> limit = knownNativeMaxAddress(run);
      if (!limit && sectors > 0 && *address <= sectors - 1) limit = sectors - 1;
      if (!limit && run.ctx.selectedDrive().ucBusType == kBusUsb) {
        if (sectors == 0) return refuseMaxAddress(run, "the native max address of the drive is not known");
        return refuseMaxAddress(run,
                                typed + "H is beyond the last LBA the drive reports, " +
                                    formatText("%012llXH", static_cast<unsigned long long>(sectors - 1)) +
                                    " (its native max address cannot be read behind a USB bridge)");
      }
      if (!limit) limit = getNativeMaxAddress(run);
      if (!limit) {
        // The drive did not answer: the run failed, the address was not judged.
        text = "Set Accessible Max Address: the native max address of the drive could not be read\r\n";
        run.append(text);
        return text;
      }
      if (*address > *limit) {
        return refuseMaxAddress(run, typed + "H is beyond the native max address " +
                                         formatText("%012llXH", static_cast<unsigned long long>(*limit)));
      }
      tf.clear();
      tf.ucLbaLow = static_cast<uint8_t>(*address);
      tf.ucLbaMid = static_cast<uint8_t>(*address >> 8);
      tf.ucLbaHigh = static_cast<uint8_t>(*address >> 16);
      tf.ucLbaLowExt = static_cast<uint8_t>(*address >> 24);
      tf.ucLbaMidExt = static_cast<uint8_t>(*address >> 32);
      tf.ucLbaHighExt = static_cast<uint8_t>(*address >> 40);
      text = "Set Accessible Max Address:\r\n" + sixBytes(tf) + "\r\n";
      run.append(text);
      tf.ucCommand = ata::kAccessibleMaxAddressConfiguration;
      tf.ucFeature = 1;
      tf.ucCount = 1;
      if (!run.send(true, tf, false, 512)) text += run.showFailure("Set Accessible Max Address");
      return text;
    }
    default:
      tf.ucCommand = ata::kAccessibleMaxAddressConfiguration;
      tf.ucFeature = 2;
      tf.ucCount = 1;
      if (!run.send(true, tf, false, 512)) return run.showFailure("Freeze Accessible Max Address");
      text = "Freeze Accessible Max Address\r\n";
      break;
  }
  run.append(text);
  return text;
}

// Restore files are announced in a 16-bit sector count.
constexpr uint64_t kRestoreMaxBytes = uint64_t{0xFFFF} * 512 + 511;

std::string performRestore(DiagRun& run, const VendorOperation& op) {
  auto chosen = run.ctx.ui->chooseOpenFile("Open", "Bin Files(*.Bin)|*.*||");
  // Without a file there is nothing to restore: nothing is sent.
  if (!chosen) {
    run.inputRefused = true;
    return {};
  }
  std::error_code ec;
  uint64_t size = std::filesystem::file_size(*chosen, ec);
  std::string text;
  if (ec) {
    text = "Cannot open " + *chosen + "\r\n";
  } else if (size == 0) {
    // An empty stream would announce no sectors and still be framed by the
    // markers as if something had been restored.
    text = "Nothing to restore: " + *chosen + " is empty\r\n";
  } else if (size > kRestoreMaxBytes) {
    text = formatText("File too large to restore: %llu bytes\r\n", static_cast<unsigned long long>(size));
  }
  std::vector<uint8_t> image;
  if (text.empty()) {
    image.resize(size);
    std::ifstream in(*chosen, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(size))) {
      text = "Cannot open " + *chosen + "\r\n";
    }
  }
  if (!text.empty()) {
    run.append(text);
    run.inputRefused = true;
    return text;
  }
  run.memory[op.index] = image;
  run.write(buildRestoreRequest(static_cast<uint16_t>(size / 512)));
  return op.function ? op.function(run, op.index) : std::string();
}

}  // namespace

const std::array<VendorOperation, kVendorOperationCount>& VendorOperationList() {
  static const std::array<VendorOperation, kVendorOperationCount> list = makeList();
  return list;
}

const VendorOperation* vendorOperation(size_t row) {
  return row < kVendorOperationCount ? &VendorOperationList()[row] : nullptr;
}

std::optional<size_t> findVendorOperation(std::string_view name) {
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.empty()) return std::nullopt;
  for (const VendorOperation& op : VendorOperationList()) {
    std::string_view code = op.text.substr(0, op.text.find(' '));
    if (code == upper) return op.index;
  }
  std::string_view digits = upper;
  if (digits.front() == '#') digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 2) return std::nullopt;
  size_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  if (value >= kVendorOperationCount) return std::nullopt;
  return value;
}

namespace {

uint64_t readHex(std::string_view text, uint64_t limit) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size() &&
      std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
    i += 2;
  }
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else break;
    if (value > (limit - static_cast<uint64_t>(d)) / 16) return limit;
    value = value * 16 + static_cast<uint64_t>(d);
  }
  return value;
}

}  // namespace

uint32_t readHexBox(std::string_view text) { return static_cast<uint32_t>(readHex(text, 0xFFFFFFFFu)); }

uint64_t readAddressBox(std::string_view text) {
  std::string cleaned;
  for (char c : text) {
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (u != 'H') cleaned += u;
  }
  return readHex(cleaned, ~uint64_t{0});
}

std::string addressBoxText(std::string_view text) {
  std::string cleaned;
  for (char c : text) {
    char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (u != 'H') cleaned += u;
  }
  size_t first = cleaned.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  cleaned = cleaned.substr(first, cleaned.find_last_not_of(" \t") - first + 1);
  if (cleaned.size() > 2 && cleaned[0] == '0' && cleaned[1] == 'X') cleaned.erase(0, 2);
  return cleaned;
}

std::optional<uint64_t> parseHexBox(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return readHex(text, ~uint64_t{0});
}

std::optional<uint64_t> parseAddressBox(std::string_view text) {
  std::string digits = addressBoxText(text);
  if (digits.empty()) return std::nullopt;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return readHex(digits, ~uint64_t{0});
}

std::optional<VendorCommandSector> buildOperationSector(size_t row, const DiagInputs& in, uint16_t modelClass) {
  const VendorOperation* op = vendorOperation(row);
  if (!op || (op->kind != OperationKind::Query && op->kind != OperationKind::WriteOnly)) return std::nullopt;
  VendorCommandSector s(op->code, op->parameter);
  auto flashAddress = [&] {
    s.setByte(16, 0);
    s.setByte(17, static_cast<uint8_t>(readHexBox(in.channel)));
    s.setByte(18, 0);
    s.setByte(19, static_cast<uint8_t>(readHexBox(in.chip)));
    s.setByte(20, 0);
    s.setByte(21, static_cast<uint8_t>(readHexBox(in.die)));
    s.setByte(22, 0);
    s.setByte(23, static_cast<uint8_t>(readHexBox(in.plane)));
  };
  switch (op->arguments) {
    case ArgumentLayout::None:
      break;
    case ArgumentLayout::OnePpn:
      s.setBe32(16, readHexBox(in.startPpn));
      s.setByte(20, static_cast<uint8_t>(readHexBox(in.map)));
      break;
    case ArgumentLayout::PpnRange:
      s.setBe32(16, readHexBox(in.startPpn));
      s.setBe32(20, readHexBox(in.endPpn));
      s.setByte(24, static_cast<uint8_t>(readHexBox(in.map)));
      break;
    case ArgumentLayout::BlockAddress:
      if (modelClass == 1) {
        s.setByte(16, 0);
        s.setByte(17, static_cast<uint8_t>(readHexBox(in.raid)));
        s.setBe16(18, static_cast<uint16_t>(readHexBox(in.block)));
      } else {
        flashAddress();
        s.setBe16(24, static_cast<uint16_t>(readHexBox(in.block)));
      }
      break;
    case ArgumentLayout::PlaneAddress:
      flashAddress();
      break;
  }
  return s;
}

VendorCommandSector buildRestoreRequest(uint16_t sectors) {
  VendorCommandSector s(0x51);
  s.setBe16(16, sectors);
  return s;
}

std::string PerformOperation(DiagRun& run, size_t row) {
  const VendorOperation* op = vendorOperation(row);
  if (!op) return {};
  switch (op->kind) {
    case OperationKind::Query: return performQuery(run, *op);
    case OperationKind::WriteOnly: return performWriteOnly(run, *op);
    case OperationKind::VendorCommand: return performVendorCommand(run, *op);
    case OperationKind::SmartRead: return performSmart(run);
    case OperationKind::Switches: return performSwitches(run, *op);
    case OperationKind::MaxAddress: return performMaxAddress(run, *op);
    case OperationKind::Restore: return performRestore(run, *op);
    case OperationKind::Procedure: return op->function ? op->function(run, op->index) : std::string();
  }
  return {};
}

}  // namespace zorv
