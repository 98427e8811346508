#include "diagnostics/dump_operations.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "transport/ata_command.h"
#include "transport/byte_order.h"
#include "transport/message.h"
#include "diagnostics/dump_file.h"
#include "diagnostics/ftl_decode.h"
#include "diagnostics/operation_table.h"

namespace zorv {

namespace {

constexpr std::string_view kRule = "----------------\r\n";
constexpr uint8_t kFeatureSpiRead = 0x12;
constexpr uint8_t kFeatureSpiWrite = 0x14;
constexpr uint8_t kFeatureSpiSave = 0x1B;
constexpr uint8_t kFeatureBadBlocks = 0x40;
constexpr uint16_t kDumpChunkSectors = 128;
constexpr uint8_t kRestoreMarker = 0x55;
// The controller keeps its diagnostic text in a 64 KiB buffer; a longer
// length is not believed.
constexpr uint32_t kMaxDiagnosticLength = 64 * 1024;

bool sendF7(DiagRun& run, uint8_t feature, bool dataOut, uint32_t bytes) {
  AtaTaskFile& tf = run.ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kVendorSwitch;
  tf.ucFeature = feature;
  return run.send(dataOut, tf, false, bytes);
}

// Loads a whole file chosen in an open dialog; the reason on failure.
bool loadFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& out, std::string& error) {
  std::error_code ec;
  uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    error = "Cannot open " + path + "\r\n";
    return false;
  }
  if (size > limit) {
    error = formatText("File too large for the SPI flash: %llu bytes (at most %llu)\r\n",
                       static_cast<unsigned long long>(size), static_cast<unsigned long long>(limit));
    return false;
  }
  out.resize(size);
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size))) {
    error = "Cannot open " + path + "\r\n";
    return false;
  }
  return true;
}

}  // namespace

// ---- Query rows ----------------------------------------------------------------------

std::string DecodePlaneInfo(DiagRun& run, size_t) {
  return run.show(planeInfoText(run.buffer(512), run.modelClass));
}

std::string DecodeFlashId(DiagRun& run, size_t) { return run.show(flashIdText(run.buffer(512))); }

std::string DecodeFlashCheck(DiagRun& run, size_t) { return run.show(flashCheckText(run.buffer(512))); }

std::string DecodeDiagnosticDump(DiagRun& run, size_t) {
  auto first = run.buffer(4);
  uint32_t length = le32(first.data());
  if (length == 0) return {};
  if (length > kMaxDiagnosticLength) {
    // Not a diagnostic header (a drive that returned nothing reads FFFFFFFFh):
    // what follows is no text either.
    return run.show(formatText("Diagnostic length %08X is more than %u bytes: nothing read\r\n", length,
                               kMaxDiagnosticLength));
  }
  std::string text;
  const std::string name = "DiagDump" + run.now().stamp() + ".txt";
  DumpFile file(run, name);
  std::array<uint8_t, 512> piece{};
  // A 0Ah that ends a piece waits for the next one: its 0Dh may open it.
  bool heldLineFeed = false;
  auto emit = [&](std::string chunk) {
    if (chunk.empty()) return;
    run.append(chunk);
    file.write(chunk);
    text += chunk;
  };
  uint32_t taken = 0;
  bool readFailed = false;
  while (taken < length) {
    size_t size = std::min<uint32_t>(512, length - taken);
    // Once the drive stops answering, the rest of the text is not coming.
    if (!run.readBuffer()) {
      readFailed = true;
      break;
    }
    auto data = run.buffer(size);
    std::copy(data.begin(), data.end(), piece.begin());
    std::span<uint8_t> bytes(piece.data(), size);
    std::string chunk;
    size_t start = 0;
    if (heldLineFeed) {
      heldLineFeed = false;
      if (size > 0 && bytes[0] == 0x0D) {
        chunk = "\r\n";
        start = 1;
      } else {
        chunk = "\n";
      }
    }
    bool trailingLineFeed = swapLineEnds(bytes.subspan(start));
    size_t end = start;
    while (end < size && bytes[end] != 0) ++end;
    if (trailingLineFeed && end == size) {
      heldLineFeed = true;
      --end;
    }
    chunk.append(reinterpret_cast<const char*>(bytes.data() + start), end - start);
    emit(std::move(chunk));
    taken += static_cast<uint32_t>(size);
  }
  if (heldLineFeed) emit("\n");
  if (readFailed) {
    std::string failure = formatText("\r\nDiagnostic Dump Fail: %u of %u bytes read\r\n", taken, length);
    failure +=
        taken == 0 ? std::string("No file was written\r\n") : "The file is incomplete: " + name + "\r\n";
    text += run.show(failure);
  }
  return text;
}

// ---- Memory and SPI dumps ---------------------------------------------------------

std::string MemoryDump(DiagRun& run, size_t row) {
  const VendorOperation* op = vendorOperation(row);
  const uint8_t code = op && op->code == 0x52 ? 0x52 : 0x50;
  const DiagClockValue clock = run.now();
  uint32_t address = 0;
  uint64_t sectors = 0;
  std::string name;
  if (code == 0x52) {
    sectors = 0x400;
    name = spiDumpName(clock);
  } else {
    const std::optional<uint64_t> start = parseHexBox(run.inputs.startMemory);
    const std::optional<uint64_t> length = parseHexBox(run.inputs.memoryLength);
    const bool blankStart = run.inputs.startMemory.find_first_not_of(" \t") == std::string::npos;
    const bool blankLength = run.inputs.memoryLength.find_first_not_of(" \t") == std::string::npos;
    if (blankStart || blankLength || (start && *start == 0) || (length && *length == 0)) {
      run.inputRefused = true;
      return run.show("Error.... Input Empty");
    }
    // A box that is not a number, or a range the controller cannot address,
    // is refused: reading junk as 0, capping a length or letting the address
    // wrap would dump another region than the one asked for.
    const char* wrong = !start ? "Start Memory" : !length ? "Memory Length" : nullptr;
    if (wrong) {
      run.inputRefused = true;
      return run.show(formatText("Error.... %s is not a hexadecimal number\r\n", wrong));
    }
    constexpr uint64_t kMemorySpace = uint64_t{1} << 32;
    if (*start >= kMemorySpace || *length > kMemorySpace || *start + *length > kMemorySpace) {
      run.inputRefused = true;
      wrong = *start >= kMemorySpace ? "Start Memory" : "Memory Length";
      return run.show(formatText("Error.... %s goes past the controller's 32-bit memory space (FFFFFFFFh)\r\n", wrong));
    }
    address = static_cast<uint32_t>(*start);
    sectors = (*length + 511) / 512;
    name = memoryDumpName(run.inputs.startMemory, sectors, clock);
  }
  DumpFile file(run, name);
  std::vector<uint8_t> chunkBuffer(size_t{kDumpChunkSectors} * 512);
  // A dump is whole only when every request went out and every sector came
  // back: after the first failure the drive is asked for nothing more, and
  // the file keeps only the sectors that were read.
  uint64_t sectorsRead = 0;
  bool failed = false;
  for (uint64_t remaining = sectors; remaining > 0 && !failed && !file.failed();) {
    // A stop ends the dump between two chunks; the file keeps the chunks read.
    if (run.stopRequested()) {
      std::string text = run.show("File Name is:\r\n" + name + "\r\n");
      return std::string(kRunStoppedText) + text;
    }
    run.showProgress(sectors - remaining, sectors);
    uint16_t chunk = static_cast<uint16_t>(std::min<uint64_t>(kDumpChunkSectors, remaining));
    VendorCommandSector request(code);
    request.setBe32(16, address);
    request.setBe16(20, chunk);
    run.append(formatText("Current Memory: %08X, Length: %08X\r\n", address, chunk * 512u));
    size_t got = 0;
    failed = !run.write(request);
    while (!failed && got < chunk) {
      failed = !run.readBuffer();
      if (failed) break;
      auto data = run.buffer(512);
      std::copy(data.begin(), data.end(), chunkBuffer.begin() + static_cast<std::ptrdiff_t>(got * 512));
      ++got;
    }
    if (got > 0) file.write(std::span<const uint8_t>(chunkBuffer.data(), got * 512));
    sectorsRead += got;
    address += chunk * 512u;
    remaining -= chunk;
  }
  run.showProgress(sectors, sectors);
  if (!failed && !file.failed()) return run.show("Memory Dump End\r\nFile Name is:\r\n" + name + "\r\n");
  std::string text = "Memory Dump Fail\r\n";
  if (sectorsRead == 0) {
    text += "No data was read: no file written\r\n";
  } else {
    text += "File Name is:\r\n" + name + "\r\nThe file is incomplete: ";
    text += file.failed() ? std::string("it could not be written whole\r\n")
                          : formatText("%llX of %llX bytes read\r\n",
                                       static_cast<unsigned long long>(sectorsRead * 512),
                                       static_cast<unsigned long long>(sectors * 512));
  }
  return run.show(text);
}

// ---- Restore ------------------------------------------------------------------------

std::string RestoreStream(DiagRun& run, size_t row) {
  static const std::vector<uint8_t> kNothing;
  const auto* loaded = row < run.memory.size() ? std::any_cast<std::vector<uint8_t>>(&run.memory[row]) : nullptr;
  const std::vector<uint8_t>& image = loaded ? *loaded : kNothing;

  // A piece that fails ends the stream: the end marker still closes it, and
  // the drive, short of the sectors announced, keeps what it had.
  bool ok = run.vendorCommand(kRestoreMarker, 0x51);
  for (size_t offset = 0; ok && offset < image.size(); offset += 512) {
    size_t n = std::min<size_t>(512, image.size() - offset);
    uint8_t* sector = run.ctx.SectorBuffer.data();
    std::memcpy(sector, image.data() + offset, n);
    // The remainder of a last, partial piece is sent as FFh (erased flash).
    std::memset(sector + n, 0xFF, 512 - n);
    AtaTaskFile& tf = run.ctx.CmdBlock;
    tf.clear();
    tf.ucCommand = ata::kWriteBuffer;
    tf.ucCount = 1;
    ok = run.send(true, tf, false, 512);
  }
  bool closed = run.vendorCommand(kRestoreMarker, 0x00);
  return run.show(std::string(ok && closed ? "Restore Bin Success\r\n" : "Restore Bin Fail\r\n") +
                  std::string(kRule));
}

// ---- SPI flash image ----------------------------------------------------------------

std::string SpiFlashRead(DiagRun& run, size_t) {
  if (!sendF7(run, kFeatureSpiRead, false, kSpiImageSize)) {
    // What the buffer holds after a failed read is no image: nothing is offered for saving.
    return run.show("Read SPI Flash Fail\r\n");
  }
  PrintMessage(run.ctx, "Read SPI Flash Success");
  std::string text = run.show("Read SPI Flash Success\r\n");
  auto path = run.ctx.ui->chooseSaveFile("Save", "All Files(*.*)|*.*||",
                                         run.file("SpiFlash" + run.now().stamp() + ".bin").string());
  if (!path) return text;
  std::ofstream out(*path, std::ios::binary | std::ios::trunc);
  if (!out || !out.write(reinterpret_cast<const char*>(run.ctx.SectorBuffer.data()), kSpiImageSize) || !out.flush()) {
    run.commandFailed = true;
    text += run.show("Cannot write " + *path + "\r\n");
  }
  return text;
}

std::string SpiFlashWrite(DiagRun& run, size_t row) {
  auto chosen = run.ctx.ui->chooseOpenFile("Open", "Bin Files(*.Bin)|*.*||");
  if (!chosen) {
    // No file, nothing to write: a cancelled dialog does nothing.
    run.inputRefused = true;
    return {};
  }
  std::vector<uint8_t> image;
  std::string error;
  bool loaded = loadFile(*chosen, kSpiImageSize, image, error);
  if (loaded && image.empty()) {
    error = "Nothing to write: " + *chosen + " is empty\r\n";
    loaded = false;
  }
  if (!loaded) {
    run.inputRefused = true;
    return run.show(error);
  }
  uint8_t* buffer = run.ctx.SectorBuffer.data();
  std::memcpy(buffer, image.data(), image.size());
  // A shorter image is completed with FFh, as erased flash reads.
  std::memset(buffer + image.size(), 0xFF, kSpiImageSize - image.size());
  if (row < run.memory.size()) run.memory[row] = std::move(image);

  std::string text;
  if (!sendF7(run, kFeatureSpiWrite, true, kSpiImageSize)) {
    // Nothing new reached the drive: saving now would store whatever it held before.
    return run.show("Write SPI Flash Fail\r\n");
  }
  PrintMessage(run.ctx, "Write SPI Flash Success");
  text += run.show("Write SPI Flash Success\r\n");
  run.ctx.clock->sleepFor(std::chrono::milliseconds(500));
  if (sendF7(run, kFeatureSpiSave, true, 512)) {
    PrintMessage(run.ctx, "Save SPI Flash Success");
    text += run.show("Save SPI Flash Success\r\n");
  } else {
    text += run.show("Save SPI Flash Fail\r\n");
  }
  return text;
}

// ---- Bad-block list -------------------------------------------------------------------

std::string ShowBadBlockList(DiagRun& run, size_t) {
  if (!sendF7(run, kFeatureBadBlocks, false, kSpiImageSize)) return "ATA read fail";
  PrintMessage(run.ctx, "Read SPI Flash Success");
  run.append("Read SPI Flash Success\r\n");
  return run.show(badBlockListText(run.buffer(kSpiImageSize)));
}

// ---- Later-bad report -------------------------------------------------------------------

void UpdateLaterBadReport(DiagRun& run, std::string_view serial, std::string_view dumpText) {
  const DiagClockValue clock = run.now();
  const std::string name = laterBadReportName(serial, clock);
  const std::filesystem::path path = run.file(name);
  std::error_code ec;
  std::string out;
  if (!std::filesystem::exists(path, ec)) out = laterBadReportHeader(dumpText);
  out += laterBadReportRow(dumpText, clock);
  std::ofstream file(path, std::ios::binary | std::ios::app);
  if (!file || !file.write(out.data(), static_cast<std::streamsize>(out.size())) || !file.flush()) {
    run.commandFailed = true;
    run.append("Cannot write " + name + "\r\n");
  }
}

}  // namespace zorv
