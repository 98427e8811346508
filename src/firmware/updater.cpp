#include "firmware/updater.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "discovery/brands.h"
#include "firmware/package.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/vendor_command.h"
#include "firmware/package_session.h"
#include "transport/byte_order.h"

namespace zorv::firmware {

namespace {

// The markers, each byte XOR 5Ah. volatile: the compiler must neither fold
// the plain bytes into code (where they would show up as immediates) nor
// keep them as a constant anywhere in the program.
constexpr uint8_t kScramble = 0x5A;
#define ZORV_S(c) static_cast<uint8_t>((c) ^ kScramble)
volatile const uint8_t kPackageMarkScrambled[9] = {ZORV_S('F'), ZORV_S('i'), ZORV_S('n'), ZORV_S('d'), ZORV_S('M'),
                                                   ZORV_S('e'), ZORV_S('2'), ZORV_S('n'), ZORV_S('d')};
volatile const uint8_t kImageMarkScrambled[9] = {ZORV_S('F'), ZORV_S('i'), ZORV_S('n'), ZORV_S('d'), ZORV_S('M'),
                                                 ZORV_S('e'), ZORV_S('1'), ZORV_S('S'), ZORV_S('t')};
volatile const uint8_t kBrandMarkScrambled[8] = {ZORV_S('Z'), ZORV_S('E'), ZORV_S('P'), ZORV_S('H'),
                                                 ZORV_S('A'), ZORV_S('R'), ZORV_S('I'), ZORV_S('N')};
volatile const uint8_t kRmaMarkScrambled[10] = {ZORV_S('F'), ZORV_S('A'), ZORV_S('L'), ZORV_S('L'), ZORV_S('O'),
                                                ZORV_S('W'), ZORV_S('M'), ZORV_S('E'), ZORV_S('R'), ZORV_S('E')};
#undef ZORV_S

// The reserved block that "Make FW Downloader" writes an image into: the
// image marker, then zeros, in initialised data so that it is part of the
// file. Aligned so that the marker never straddles one of the 32 KiB chunks
// the writer searches. The program never reads it.
[[gnu::used]] alignas(64) volatile uint8_t gReservedImageBlock[kReservedBlockSize] = {'F', 'i', 'n', 'd', 'M',
                                                                                        'e', '1', 'S', 't'};

struct MarkerBytes {
  std::array<uint8_t, 10> bytes{};
  size_t length = 0;
  std::span<const uint8_t> span() const { return {bytes.data(), length}; }
};

MarkerBytes compose(Marker marker) {
  MarkerBytes m;
  const volatile uint8_t* source = kPackageMarkScrambled;
  m.length = 9;
  if (marker == Marker::Image) source = kImageMarkScrambled;
  if (marker == Marker::Brand) {
    source = kBrandMarkScrambled;
    m.length = 8;
  }
  if (marker == Marker::RmaVariant) {
    source = kRmaMarkScrambled;
    m.length = 10;
  }
  for (size_t i = 0; i < m.length; ++i) m.bytes[i] = static_cast<uint8_t>(source[i] ^ kScramble);
  return m;
}

std::optional<size_t> find(std::span<const uint8_t> bytes, std::span<const uint8_t> marker, size_t from) {
  if (from >= bytes.size() || bytes.size() - from < marker.size()) return std::nullopt;
  auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                        std::boyer_moore_horspool_searcher(marker.begin(), marker.end()));
  if (it == bytes.end()) return std::nullopt;
  return static_cast<size_t>(it - bytes.begin());
}

}  // namespace

std::vector<uint8_t> markerBytes(Marker marker) {
  MarkerBytes m = compose(marker);
  return std::vector<uint8_t>(m.bytes.begin(), m.bytes.begin() + static_cast<std::ptrdiff_t>(m.length));
}

std::optional<size_t> findMarker(std::span<const uint8_t> bytes, Marker marker, size_t from) {
  MarkerBytes m = compose(marker);
  return find(bytes, m.span(), from);
}

std::span<const volatile uint8_t> reservedImageBlock() { return {gReservedImageBlock, kReservedBlockSize}; }

bool writeWholeFile(const std::string& path, std::span<const uint8_t> bytes, const std::string& modeFrom,
                    std::string& error) {
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (f) f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (f) f.close();
    if (!f) {
      error = "cannot write " + path + ": " + std::strerror(errno);
      return false;
    }
  }
  if (!modeFrom.empty()) {
    std::error_code ec;
    std::filesystem::perms p = std::filesystem::status(modeFrom, ec).permissions();
    if (!ec) std::filesystem::permissions(path, p, ec);
  }
  return true;
}

// ---- Package form.

uint8_t packageOptionsByte(bool skipModelNameCheck) {
  return static_cast<uint8_t>(kOptionsDefault | (skipModelNameCheck ? kOptionSkipModelNameCheck : 0));
}

std::vector<uint8_t> appendPackageBytes(std::span<const uint8_t> executable, std::span<const uint8_t> package,
                                        uint8_t options) {
  MarkerBytes m = compose(Marker::Package);
  std::vector<uint8_t> out;
  out.reserve(executable.size() + 1 + m.length + package.size());
  out.insert(out.end(), executable.begin(), executable.end());
  out.push_back(options);
  out.insert(out.end(), m.bytes.begin(), m.bytes.begin() + static_cast<std::ptrdiff_t>(m.length));
  out.insert(out.end(), package.begin(), package.end());
  return out;
}

std::optional<EmbeddedPackage> findEmbeddedPackage(std::span<const uint8_t> file) {
  std::optional<size_t> at = findMarker(file, Marker::Package);
  if (!at || *at == 0) return std::nullopt;
  EmbeddedPackage e;
  e.markerOffset = *at;
  e.options = file[*at - 1];
  e.package = file.subspan(*at + 9);
  return e;
}

AppendStatus appendPackageToExecutable(Context& ctx, bool skipModelNameCheck, MessageSink& box) {
  std::optional<std::string> exePath = ctx.ui->chooseOpenFile("Open EXE", kExeFilter);
  std::vector<uint8_t> exe;
  std::string error;
  if (!exePath || !readWholeFile(*exePath, exe, kMaxExecutableFile, error)) {
    AppendMessage(ctx, "Open EXE File Fail\r\n", box);
    return AppendStatus::ExecutableUnreadable;
  }
  // A second trailer would never be read: the updater runs the first one.
  if (findEmbeddedPackage(exe)) {
    AppendMessage(ctx, kExeCarriesPackageText, box);
    return AppendStatus::AlreadyCarriesPackage;
  }
  AppendMessage(ctx, "Open EXE File Success\r\n", box);
  const uint8_t options = packageOptionsByte(skipModelNameCheck);

  std::optional<std::string> qzPath = ctx.ui->chooseOpenFile("Open QZ", kQzFileFilter);
  std::vector<uint8_t> package;
  if (!qzPath || !readWholeFile(*qzPath, package, kMaxExecutableFile, error)) {
    AppendMessage(ctx, "Open QZ File Fail\r\n", box);
    return AppendStatus::PackageUnreadable;
  }
  AppendMessage(ctx, "Open QZ File Success\r\n", box);
  {
    // The table's structure is the same for both model classes.
    std::vector<uint8_t> content;
    auto table = std::make_unique<FirmwareTable>();
    ParseResult parsed;
    if (!unpackPackage(package, content).ok() || !(parsed = parseFirmwareTable(content, 1, *table)).ok()) {
      AppendMessage(ctx, "Unzip File Fail\r\n", box);
      return AppendStatus::PackageUnusable;
    }
    if (parsed.rowCount == 0) {
      AppendMessage(ctx, kQzWithoutRowsText, box);
      return AppendStatus::PackageEmpty;
    }
  }

  std::vector<uint8_t> out = appendPackageBytes(exe, package, options);
  exe.clear();
  exe.shrink_to_fit();
  std::optional<std::string> outPath = ctx.ui->chooseSaveFile("Save", kAllFilesFilter, "*.*");
  if (!outPath || outPath->empty() || *outPath == "*.*" || !writeWholeFile(*outPath, out, *exePath, error)) {
    AppendMessage(ctx, "Write File Fail\r\n", box);
    return AppendStatus::WriteFailed;
  }
  AppendMessage(ctx, "Done\r\n", box);
  return AppendStatus::Done;
}

// ---- Image form.

ImageWriteStatus writeImageIntoFile(Context& ctx, const std::string& path, std::span<const uint8_t> image) {
  std::fstream f;
  if (!path.empty()) f.open(path, std::ios::in | std::ios::out | std::ios::binary);
  if (!f.is_open()) {
    PrintMessage(ctx, "Open EXE File Fail");
    return ImageWriteStatus::OpenFailed;
  }
  PrintMessage(ctx, "Open EXE File Ok");
  MarkerBytes m = compose(Marker::Image);
  std::vector<uint8_t> chunk(kExecutableChunk);
  std::optional<uint64_t> found;
  uint64_t fileSize = 0;
  for (uint64_t base = 0;; base += kExecutableChunk) {
    f.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    const size_t got = static_cast<size_t>(f.gcount());
    fileSize = base + got;
    // Only whole chunks are searched, each on its own.
    if (got < kExecutableChunk) break;
    if (std::optional<size_t> at = find(chunk, m.span(), 0)) {
      found = base + *at;
      f.seekg(0, std::ios::end);
      fileSize = static_cast<uint64_t>(f.tellg());
      break;
    }
  }
  if (!found) {
    PrintMessage(ctx, "EXE File Seek Fail");
    return ImageWriteStatus::MarkerNotFound;
  }
  PrintMessage(ctx, "EXE File Seek Ok");
  if (4 + uint64_t{image.size()} > kReservedBlockSize || *found + 4 + image.size() > fileSize) {
    PrintMessage(ctx, "Image Too Large: %zu bytes, the block holds %zu", image.size(), kReservedBlockSize - 4);
    return ImageWriteStatus::TooLarge;
  }
  f.clear();
  f.seekp(static_cast<std::streamoff>(*found));
  std::array<uint8_t, 4> length{};
  putLe32(length.data(), static_cast<uint32_t>(image.size()));
  f.write(reinterpret_cast<const char*>(length.data()), 4);
  f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  f.close();
  if (!f) {
    PrintMessage(ctx, "Write EXE File Fail");
    return ImageWriteStatus::WriteFailed;
  }
  PrintMessage(ctx, "Make File Done");
  PrintMessage(ctx, "%s", path.c_str());
  return ImageWriteStatus::Written;
}

ImageWriteStatus writeImageIntoExecutable(Context& ctx, std::span<const uint8_t> image) {
  std::optional<std::string> path = ctx.ui->chooseOpenFile("Open EXE", kExecuteFileFilter);
  return writeImageIntoFile(ctx, path.value_or(std::string()), image);
}

// ---- Package run.

std::string_view embeddedStatusName(EmbeddedStatus status) {
  switch (status) {
    case EmbeddedStatus::Updated: return "updated";
    case EmbeddedStatus::UpToDate: return "up-to-date";
    case EmbeddedStatus::DownloadFailed: return "download-failed";
    case EmbeddedStatus::NoImage: return "no-image";
    case EmbeddedStatus::NoDrive: return "no-drive";
    case EmbeddedStatus::OwnFileUnreadable: return "own-file-unreadable";
    case EmbeddedStatus::NoPackage: return "no-package";
    case EmbeddedStatus::UnpackFailed: return "unpack-failed";
    case EmbeddedStatus::SwitchFailed: return "switch-failed";
  }
  return "unknown";
}

bool isDecodeFailure(EmbeddedStatus status) {
  return status == EmbeddedStatus::OwnFileUnreadable || status == EmbeddedStatus::NoPackage ||
         status == EmbeddedStatus::UnpackFailed;
}

namespace {

// Sets message mode 2 for its lifetime when asked to, then puts back the mode before.
class QuietMessages {
 public:
  QuietMessages(Context& ctx, bool quiet) : ctx_(ctx), before_(ctx.ucMsgMode.load()), quiet_(quiet) {
    if (quiet_) ctx_.ucMsgMode = kMsgModeSilent;
  }
  ~QuietMessages() { end(); }
  void end() {
    if (quiet_) ctx_.ucMsgMode = before_;
    quiet_ = false;
  }

 private:
  Context& ctx_;
  uint8_t before_;
  bool quiet_;
};

}  // namespace

EmbeddedRunResult runEmbeddedPackage(Context& ctx, ProgressSink& progress, const std::string& ownPath,
                                     EmbeddedRunOptions options) {
  EmbeddedRunResult r;
  if (!ctx.hasSelectedDrive()) {
    r.status = EmbeddedStatus::NoDrive;
    r.reason = "no drive is selected";
    return r;
  }
  QuietMessages quiet(ctx, options.quietUnpack);
  std::vector<uint8_t> file;
  if (!readWholeFile(ownPath, file, kMaxExecutableFile, r.reason)) {
    r.status = EmbeddedStatus::OwnFileUnreadable;
    return r;
  }
  std::optional<EmbeddedPackage> embedded = findEmbeddedPackage(file);
  if (!embedded) {
    r.status = EmbeddedStatus::NoPackage;
    r.reason = "no firmware package is appended to " + ownPath;
    return r;
  }
  const uint8_t compareLength = embedded->options & kOptionCompareLengthMask;

  // The package is checked whole before anything is sent to the drive.
  const uint16_t cls = ctx.selectedDrive().usModelClass;
  std::vector<uint8_t> content;
  UnpackResult u = unpackPackage(embedded->package, content);
  if (!u.ok()) {
    r.status = EmbeddedStatus::UnpackFailed;
    r.reason = u.reason;
    return r;
  }
  auto table = std::make_unique<FirmwareTable>();
  ParseResult p = parseFirmwareTable(content, cls, *table);
  if (!p.ok()) {
    r.status = EmbeddedStatus::UnpackFailed;
    r.reason = p.reason;
    return r;
  }
  quiet.end();

  InfoSsdRecord record;
  if (!ReadInfoSsd(ctx, record).ok()) {
    DownloadResult d;
    d.verdict = DownloadVerdict::DriveError;
    d.messageText = "Drive Error\r\n";
    ctx.ui->messageBox(d.messageText, BoxIcon::Stop);
    r.status = EmbeddedStatus::DownloadFailed;
    r.download = d;
    r.reason = "the drive's Info SSD record could not be read";
    return r;
  }
  const size_t idLength = idLengthForClass(cls);
  std::array<uint8_t, kMaxIdLength> hwid{};
  std::span<const uint8_t> driveId = record.hardwareId(cls);
  std::copy_n(driveId.begin(), std::min(driveId.size(), idLength), hwid.begin());
  std::string text = "Current HWID: " + formatIdHex(std::span<const uint8_t>(hwid.data(), idLength)) + "\r\n";
  std::optional<int> row = selectImageForDrive(*table, hwid, kDownloaderCompareLength);
  if (row) text += formatText("Correct Item: %d   TtlFwNum: %d\r\n", *row, p.rowCount);
  PrintMessage(ctx, "%s", text.c_str());
  if (!row) {
    PrintMessage(ctx, "No bin file");
    ctx.ui->messageBox("No bin file", BoxIcon::Stop);
    r.status = EmbeddedStatus::NoImage;
    r.reason = "no row of the package matches the drive's HWID";
    return r;
  }
  r.row = *row;

  if ((embedded->options & kOptionSkipModelNameCheck) && !SendVendorSwitch(ctx, 0x53, 1)) {
    r.status = EmbeddedStatus::SwitchFailed;
    r.reason = "the drive refused \"Enable Skip Model Name Check\"";
    return r;
  }
  DownloadRequest request;
  request.image = rowImage(content, table->rows[*row]);
  request.allowHwidUpdate = options.allowHwidUpdate;
  request.versionCompareLength = compareLength;
  r.download = downloadFirmware(ctx, request, progress);
  r.status = r.download->updated()    ? EmbeddedStatus::Updated
             : r.download->upToDate() ? EmbeddedStatus::UpToDate
                                      : EmbeddedStatus::DownloadFailed;
  if (r.status == EmbeddedStatus::DownloadFailed) r.reason = std::string(downloadVerdictName(r.download->verdict));
  return r;
}

// ---- Model lock.

bool lockModelBytes(std::vector<uint8_t>& executable, uint8_t brandIndex) {
  std::optional<size_t> at = findMarker(executable, Marker::Brand);
  if (!at || *at + 8 + 2 > executable.size()) return false;
  executable[*at + 8] = brandIndex;
  executable[*at + 9] = static_cast<uint8_t>(brandIndex + 1);
  return true;
}

bool lockModel(Context& ctx, uint8_t brandIndex, MessageSink& box) {
  if (brandIndex >= kBrandCount) {
    AppendMessage(ctx, "<<<<Lock Model Fail>>>>\r\n", box);
    return false;
  }
  std::optional<std::string> exePath = ctx.ui->chooseOpenFile("Open EXE", kExeFilter);
  std::vector<uint8_t> exe;
  std::string error;
  if (!exePath || !readWholeFile(*exePath, exe, kMaxExecutableFile, error)) {
    AppendMessage(ctx, "Open EXE File Fail\r\n", box);
    return false;
  }
  if (exe.empty() || !lockModelBytes(exe, brandIndex)) {
    AppendMessage(ctx, "<<<<Lock Model Fail>>>>\r\n", box);
    return false;
  }
  std::optional<std::string> outPath = ctx.ui->chooseSaveFile("Save", kAllFilesFilter, "*.*");
  if (!outPath || outPath->empty() || *outPath == "*.*" || !writeWholeFile(*outPath, exe, *exePath, error)) {
    AppendMessage(ctx, "Write File Fail\r\n", box);
    return false;
  }
  AppendMessage(ctx, "Lock Model Name Done\r\n", box);
  return true;
}

// ---- RMA variant.

bool setRmaVariantBytes(std::vector<uint8_t>& executable, char letter) {
  if (letter < 'A' || letter > 'Z') return false;
  std::optional<size_t> at = findMarker(executable, Marker::RmaVariant);
  if (!at || *at + 10 + 1 > executable.size()) return false;
  executable[*at + 10] = static_cast<uint8_t>(letter);
  return true;
}

bool writeRmaVariant(Context& ctx, const std::string& exePath, const std::string& outPath, char letter,
                     MessageSink& box) {
  std::vector<uint8_t> exe;
  std::string error;
  if (exePath.empty() || !readWholeFile(exePath, exe, kMaxExecutableFile, error)) {
    AppendMessage(ctx, "Open EXE File Fail\r\n", box);
    return false;
  }
  if (!setRmaVariantBytes(exe, letter)) {
    AppendMessage(ctx, "<<<<Set RMA Variant Fail>>>>\r\n", box);
    return false;
  }
  if (outPath.empty() || !writeWholeFile(outPath, exe, exePath, error)) {
    AppendMessage(ctx, "Write File Fail\r\n", box);
    return false;
  }
  AppendMessage(ctx, "Set RMA Variant Done\r\n", box);
  return true;
}

bool makeRmaVariant(Context& ctx, char letter, MessageSink& box) {
  std::optional<std::string> exePath = ctx.ui->chooseOpenFile("Open EXE", kExeFilter);
  if (!exePath) {
    AppendMessage(ctx, "Open EXE File Fail\r\n", box);
    return false;
  }
  std::optional<std::string> outPath = ctx.ui->chooseSaveFile("Save", kAllFilesFilter, "*.*");
  if (!outPath || *outPath == "*.*") {
    AppendMessage(ctx, "Write File Fail\r\n", box);
    return false;
  }
  return writeRmaVariant(ctx, *exePath, *outPath, letter, box);
}

}  // namespace zorv::firmware
