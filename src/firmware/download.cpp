#include "firmware/download.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "firmware/image_identity.h"
#include "firmware/package.h"
#include "firmware/printable_text.h"
#include "transport/ata_command.h"
#include "transport/scsi_command.h"
#include "diagnostics/info_ssd.h"
#include "diagnostics/vendor_command.h"

namespace zorv::firmware {

namespace {

using namespace std::chrono_literals;

constexpr uint8_t kModeOffsetsSave = 0x03;
constexpr uint8_t kHwidRead = 0x16;
constexpr uint8_t kHwidStage = 0x17;
constexpr uint8_t kHwidCommit = 0x1B;
constexpr size_t kBlock = 512;
// A refused segment waits before it is sent again; every taken one gives the
// drive time to store it.
constexpr std::chrono::milliseconds kRetryPause{500};
constexpr std::chrono::milliseconds kSegmentPause{300};

// The image as the checks read it: class 0 images are stored complemented,
// and reading through this view spares changing the caller's bytes.
class PlainImage {
 public:
  PlainImage(std::span<const uint8_t> stored, uint16_t usModelClass) : stored_(stored), flip_(usModelClass == 0) {}
  size_t size() const { return stored_.size(); }
  uint8_t operator[](size_t i) const { return flip_ ? static_cast<uint8_t>(~stored_[i]) : stored_[i]; }

 private:
  std::span<const uint8_t> stored_;
  bool flip_;
};

// The reply window in its "Message 2" form: the text and only "Cancel".
void showReply(Context& ctx, const std::string& text) { ctx.ui->showCancelOnly(text); }

DownloadResult stop(Context& ctx, DownloadVerdict verdict, std::string text, uint8_t bits = 0) {
  DownloadResult r;
  r.code = 2;
  r.verdict = verdict;
  r.checkBits = bits;
  r.messageText = std::move(text);
  showReply(ctx, r.messageText);
  return r;
}

bool sendHwidSwitch(Context& ctx, uint8_t feature, bool dataOut) {
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucCommand = ata::kVendorSwitch;
  tf.ucFeature = feature;
  return SendAtaCommand(ctx, dataOut, tf, false, kBlock);
}

// The drive's HWID differs from the image's in its last byte only: the
// drive's PCBA sector is read, the byte put at 15 and written back, then
// committed.
bool updateHwidLastByte(Context& ctx, uint8_t lastByte) {
  if (!SendVendorCommand(ctx, 0x80, 0x01)) return false;
  if (!sendHwidSwitch(ctx, kHwidRead, false)) return false;
  ctx.SectorBuffer[15] = lastByte;
  if (!sendHwidSwitch(ctx, kHwidStage, true)) return false;
  ctx.clock->sleepFor(500ms);
  return sendHwidSwitch(ctx, kHwidCommit, true);
}

char at(const PlainImage& img, size_t i) { return static_cast<char>(img[i]); }

void printStamps(Context& ctx, const PlainImage& img, size_t h, uint16_t usModelClass) {
  const size_t t = timeStampBase(h, usModelClass);
  PrintMessage(ctx, "Time Stamp: %c%c%c%c %c%c%c%c %c%c%c%c\r\n", at(img, t + 48), at(img, t + 49), at(img, t + 50),
               at(img, t + 51), at(img, t + 52), at(img, t + 53), at(img, t + 54), at(img, t + 55), at(img, t + 56),
               at(img, t + 57), at(img, t + 58), at(img, t + 59));
  PrintMessage(ctx, "Ext Time Stamp: %c%c%c%c %c%c%c%c\r\n", at(img, t + 64), at(img, t + 65), at(img, t + 66),
               at(img, t + 67), at(img, t + 68), at(img, t + 69), at(img, t + 70), at(img, t + 71));
  PrintMessage(ctx, "Check Sum of HWID: %02X\r\n", img[t + 80]);
  // The last byte that is not FFh; an image of nothing but FFh shows its first.
  size_t last = img.size() - 1;
  while (last > 0 && img[last] == 0xFF) --last;
  PrintMessage(ctx, "Check Sum of Main: %02X\r\n", img[last]);
  PrintMessage(ctx, "Downloading......\r\n");
}

bool sendSegment(Context& ctx, std::span<const uint8_t> segment, size_t offset) {
  std::memcpy(ctx.SectorBuffer.data(), segment.data(), segment.size());
  const uint32_t blocks = static_cast<uint32_t>(segment.size() / kBlock);
  const uint32_t blockOffset = static_cast<uint32_t>(offset / kBlock);
  AtaTaskFile& tf = ctx.CmdBlock;
  tf.clear();
  tf.ucFeature = kModeOffsetsSave;
  tf.ucCount = static_cast<uint8_t>(blocks);
  tf.ucLbaLow = static_cast<uint8_t>(blocks >> 8);
  tf.ucLbaMid = static_cast<uint8_t>(blockOffset);
  tf.ucLbaHigh = static_cast<uint8_t>(blockOffset >> 8);
  tf.ucDevice = 0x40;
  tf.ucCommand = ata::kDownloadMicrocodeDma;
  return SendAtaCommand(ctx, true, tf, true, static_cast<uint32_t>(segment.size()));
}

// After the transfer the drive restarts into the new firmware. The ready
// wait takes any answer but NOT READY as the end of the restart, so a drive
// that answers with an error, or not at all, is asked once more; and only a
// drive that then names the image's version has taken it.
DownloadVerdict confirmNewFirmware(Context& ctx, const std::string& imageVersion) {
  if (!WaitReady(ctx)) return DownloadVerdict::NotReady;
  if (!TestUnitReady(ctx)) {
    PrintMessage(ctx, "Drive Not Ready");
    return DownloadVerdict::NotReady;
  }
  InfoSsdRecord record;
  if (!ReadInfoSsd(ctx, record).ok()) {
    PrintMessage(ctx, "Drive Error");
    return DownloadVerdict::VersionNotTaken;
  }
  const std::string running = record.firmwareVersion();
  if (running != imageVersion) {
    PrintMessage(ctx, "Drive Fw Version: %s, Image: %s", printableText(running).c_str(),
                 printableText(imageVersion).c_str());
    return DownloadVerdict::VersionNotTaken;
  }
  return DownloadVerdict::Updated;
}

}  // namespace

std::string_view downloadVerdictName(DownloadVerdict verdict) {
  switch (verdict) {
    case DownloadVerdict::Updated: return "updated";
    case DownloadVerdict::NotReady: return "not-ready";
    case DownloadVerdict::VersionNotTaken: return "version-not-taken";
    case DownloadVerdict::RetriesExhausted: return "retries-exhausted";
    case DownloadVerdict::DriveError: return "drive-error";
    case DownloadVerdict::ChecksumError: return "checksum-error";
    case DownloadVerdict::FwIdError: return "fw-id-error";
    case DownloadVerdict::FwIsLatest: return "fw-is-latest";
    case DownloadVerdict::HwidUpdateFailed: return "hwid-update-failed";
    case DownloadVerdict::ImageSizeError: return "image-size-error";
  }
  return "unknown";
}

uint8_t checkImage(std::span<const uint8_t> identityBlock, uint16_t usModelClass, std::span<const uint8_t> driveHwid,
                   std::string_view driveVersion, uint8_t versionCompareLength) {
  if (identityBlock.size() < kIdentityBlockSize) return kCheckSumBad;
  uint32_t sum = 0;
  for (size_t i = 0; i < kIdentityBlockSize; ++i) sum += identityBlock[i];
  if ((sum & 0xFF) != 0) return kCheckSumBad;

  uint8_t result = 0;
  const size_t idLength = idLengthForClass(usModelClass);
  for (size_t i = 0; i < idLength; ++i) {
    uint8_t drive = i < driveHwid.size() ? driveHwid[i] : 0;
    if (drive == identityBlock[i]) continue;
    if (i + 1 < idLength) {
      result = kCheckIdMismatch;
      break;
    }
    result |= kCheckIdLastByte;
  }

  const uint8_t* image = identityBlock.data() + (usModelClass == 1 ? 40 : 32);
  if (image[0] == '0') return result;
  // The versions have six characters; a longer compare length reads no further.
  const size_t n = std::min<size_t>(versionCompareLength, kVersionLength);
  for (size_t i = 0; i < n; ++i) {
    const uint8_t d = i < driveVersion.size() ? static_cast<uint8_t>(driveVersion[i]) : 0;
    const uint8_t m = image[i];
    if (i + 1 < n) {
      if (d == m) continue;
      if (d > m) result |= kCheckNotOlder;
      break;
    }
    if (d >= m) result |= kCheckNotOlder;
  }
  return result;
}

DownloadResult downloadFirmware(Context& ctx, const DownloadRequest& request, ProgressSink& progress) {
  const uint16_t cls = ctx.selectedDrive().usModelClass;
  const std::span<const uint8_t> image = request.image;
  if (!ctx.hasSelectedDrive()) return stop(ctx, DownloadVerdict::DriveError, "Drive Error\r\n");
  // A partial last block would be counted short in the task file while its
  // bytes still travel; such images are refused before anything is sent.
  if (image.empty() || image.size() % kBlock != 0 || image.size() > kMaxDownloadImage)
    return stop(ctx, DownloadVerdict::ImageSizeError,
                formatText("Image Size Error: %zu bytes is not a whole number of 512-byte blocks up to %zu\r\n",
                           image.size(), kMaxDownloadImage));
  const PlainImage plain(image, cls);
  const std::optional<ImageIdentity> identity = readImageIdentity(image, cls, ImageForm::Stored);
  if (!identity) return stop(ctx, DownloadVerdict::ChecksumError, "Check Sum Error\r\n", kCheckSumBad);

  // Step 1: the drive's identity.
  InfoSsdRecord record;
  VendorQueryResult q = ReadInfoSsd(ctx, record);
  // A record that was not read back names no drive; comparing against it
  // would only report a misleading HWID mismatch.
  if (!q.ok()) return stop(ctx, DownloadVerdict::DriveError, "Drive Error\r\n");

  const uint8_t bits =
      checkImage(identity->block, cls, record.hardwareId(cls), record.firmwareVersion(), request.versionCompareLength);
  if (bits == kCheckSumBad) return stop(ctx, DownloadVerdict::ChecksumError, "Check Sum Error\r\n", bits);
  if (bits & kCheckIdMismatch) return stop(ctx, DownloadVerdict::FwIdError, "FW ID Error\r\n", bits);
  if ((bits & kCheckIdLastByte) && request.allowHwidUpdate) {
    if (!updateHwidLastByte(ctx, identity->block[idLengthForClass(cls) - 1]))
      return stop(ctx, DownloadVerdict::HwidUpdateFailed, "HWID Update Fail\r\n", bits);
  } else if (bits & kCheckNotOlder) {
    std::string version = record.firmwareVersion();
    DownloadResult r;
    r.code = 2;
    r.verdict = DownloadVerdict::FwIsLatest;
    r.checkBits = bits;
    r.messageText = formatText("Drive Fw Version: %c%c%c%c\r\n", version[0], version[1], version[2], version[3]) +
                    "FW is the Latest\r\n";
    ctx.ui->messageBox(r.messageText, BoxIcon::Information);
    return r;
  }

  printStamps(ctx, plain, identity->position, cls);

  // The transfer: the drive receives the bytes as stored. A segment the
  // drive refused is sent again; once it is taken, the earlier refusal
  // leaves nothing behind, so only the end result decides the verdict.
  progress.setRange(0, 100);
  for (size_t offset = 0; offset < image.size();) {
    const size_t length = std::min(kSegmentSize, image.size() - offset);
    for (int attempt = 1;; ++attempt) {
      if (sendSegment(ctx, image.subspan(offset, length), offset)) break;
      PrintMessage(ctx, "ATA Command Fail");
      PrintFailureCause(ctx);
      if (attempt >= kSegmentAttempts) {
        PrintMessage(ctx, "Retry 10 Times, Exit");
        DownloadResult r;
        r.code = 2;
        r.verdict = DownloadVerdict::RetriesExhausted;
        r.checkBits = bits;
        // A transfer given up half-way is as much a verdict as one that
        // ran through: it gets its box, and the bar no longer shows the
        // share that was sent (the drive dropped it).
        r.messageText = "Retry 10 Times, Exit\r\n" + std::string(kUpdateFailedText);
        progress.setPosition(0);
        ctx.ui->messageBox(r.messageText, BoxIcon::Stop);
        return r;
      }
      ctx.clock->sleepFor(kRetryPause);
    }
    offset += length;
    progress.setPosition(static_cast<int>((uint64_t{offset} * 100 / image.size()) % 101));
    ctx.clock->sleepFor(kSegmentPause);
  }

  DownloadResult r;
  r.code = 0;
  r.checkBits = bits;
  r.verdict = confirmNewFirmware(ctx, identity->version);
  if (r.verdict != DownloadVerdict::Updated) {
    PrintMessage(ctx, "Time Out");
    PrintMessage(ctx, "Update Fail");
    r.messageText = std::string(kUpdateFailedText);
    progress.setPosition(0);
    ctx.ui->messageBox(r.messageText, BoxIcon::Stop);
    return r;
  }
  r.messageText = std::string(kUpdateDoneText);
  PrintMessage(ctx, "%s", r.messageText.c_str());
  ctx.ui->messageBox(r.messageText, BoxIcon::Information);
  return r;
}

bool sendDownloadSwitches(Context& ctx, const DownloadSwitches& switches, MessageSink& box) {
  struct Switch {
    bool DownloadSwitches::*ticked;
    uint8_t feature;
    std::string_view message;
  };
  static constexpr Switch kSwitches[] = {
      {&DownloadSwitches::disablePowerDown, 0x60, "Disable Power Down"},
      {&DownloadSwitches::enableAbnormalDebug, 0xD0, "Enable Abnormal Debug"},
      {&DownloadSwitches::enableRs232, 0xC0, "Enable RS232"},
      {&DownloadSwitches::skipModelNameCheck, 0x53, "Enable Skip Model Name Check"},
  };
  for (const Switch& s : kSwitches) {
    if (!(switches.*s.ticked)) continue;
    if (!SendVendorSwitch(ctx, s.feature, 1)) {
      AppendMessage(ctx, std::string(s.message) + " Fail\r\n", box);
      return false;
    }
    AppendMessage(ctx, std::string(s.message) + "\r\n", box);
  }
  return true;
}

bool clearSmartData(Context& ctx, MessageSink& box) {
  if (!SendVendorCommand(ctx, 0x56, 0x03)) {
    AppendMessage(ctx, "Clear SMART Fail\r\n", box);
    return false;
  }
  AppendMessage(ctx, "Clear SMART Done\r\n", box);
  return true;
}

bool preReboot(Context& ctx, MessageSink& box) {
  if (!SendVendorCommand(ctx, 0x80, 0x00)) {
    AppendMessage(ctx, "PreRB3 Fail\r\n", box);
    return false;
  }
  AppendMessage(ctx, "PreRB3 Done\r\n", box);
  ctx.ui->messageBox("Please Turn Off Drive Immediately", BoxIcon::Information);
  return true;
}

}  // namespace zorv::firmware
