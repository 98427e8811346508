#pragma once
// Writing one firmware image into the selected drive: the drive's identity
// from its Info SSD record, the image's identity block checked against it,
// the optional rewrite of the HWID's last byte, the transfer in 64 KiB
// segments with DOWNLOAD MICROCODE DMA (offsets, save), the wait for the
// drive's restart and the version it comes back with.
//
// The image is taken as packages store it (model class 0 complemented) and
// is only read: whatever the outcome, the caller's bytes are as they were,
// so a loaded package stays usable for another attempt.
//
// Every outcome is a verdict the caller can act on: only Updated means the
// drive took the image, came back ready and runs the image's version.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "transport/context.h"

namespace zorv::firmware {

constexpr size_t kSegmentSize = 65536;
constexpr int kSegmentAttempts = 10;
constexpr uint8_t kDefaultVersionCompareLength = 6;
// Block offsets travel in 16 bits: an image cannot be longer than this.
constexpr size_t kMaxDownloadImage = size_t{65536} * 512;

// checkImage result bits.
constexpr uint8_t kCheckSumBad = 0xFF;       // the identity block does not add up to 0
constexpr uint8_t kCheckIdMismatch = 0x10;   // the HWIDs differ before the last byte
constexpr uint8_t kCheckIdLastByte = 0x08;   // the HWIDs differ in the last byte only
constexpr uint8_t kCheckNotOlder = 0x04;     // the drive's version is not older than the image's

// identityBlock: the 81 plain bytes at the image's identity position.
// driveHwid: 9 or 16 bytes by model class; driveVersion: 6 characters.
uint8_t checkImage(std::span<const uint8_t> identityBlock, uint16_t usModelClass, std::span<const uint8_t> driveHwid,
                   std::string_view driveVersion, uint8_t versionCompareLength);

struct DownloadRequest {
  std::span<const uint8_t> image;  // as stored: class 0 images complemented
  bool allowHwidUpdate = true;
  uint8_t versionCompareLength = kDefaultVersionCompareLength;
};

enum class DownloadVerdict : uint8_t {
  Updated,           // every segment taken, drive ready with the image's version: "Update FW Done."
  NotReady,          // ran to its end, but the drive did not come back ready ("Time Out", "Update Fail")
  VersionNotTaken,   // ran to its end, the drive is ready but does not run the image's version (same texts)
  RetriesExhausted,  // one segment failed ten times ("Retry 10 Times, Exit")
  DriveError,        // the Info SSD record could not be read
  ChecksumError,     // no intact identity block in the image
  FwIdError,         // the image is for another hardware
  FwIsLatest,        // the drive's firmware is not older
  HwidUpdateFailed,  // the drive refused the rewrite of its HWID's last byte
  ImageSizeError,    // empty, not whole 512-byte blocks, or too long for 16-bit block offsets
};
std::string_view downloadVerdictName(DownloadVerdict verdict);

struct DownloadResult {
  // 0: the transfer ran to its end (Updated, NotReady, VersionNotTaken); 2:
  // it stopped before or during the transfer.
  int code = 2;
  DownloadVerdict verdict = DownloadVerdict::DriveError;
  uint8_t checkBits = 0;
  std::string messageText;  // what the closing box or reply window showed
  bool updated() const { return verdict == DownloadVerdict::Updated; }
  // The drive already runs this firmware or a newer one: nothing was sent,
  // and nothing failed.
  bool upToDate() const { return verdict == DownloadVerdict::FwIsLatest; }
};

// Texts of the closing box.
inline constexpr std::string_view kUpdateDoneText = "Update FW Done.\r\nPlease Power Off SSD and Power Up again.";
inline constexpr std::string_view kUpdateFailedText =
    "Update FW Fail.\r\nThe drive did not take the firmware: please run the update again.";

// Runs on the caller's thread; progress goes to `progress` (0-100), lines
// to the message pane, verdicts to message boxes.
DownloadResult downloadFirmware(Context& ctx, const DownloadRequest& request, ProgressSink& progress);

// The option boxes of the firmware package tab, sent as vendor switches
// before a download.
struct DownloadSwitches {
  bool disablePowerDown = false;     // F7h 60h
  bool enableAbnormalDebug = false;  // F7h D0h
  bool enableRs232 = false;          // F7h C0h
  bool skipModelNameCheck = false;   // F7h 53h
  bool any() const { return disablePowerDown || enableAbnormalDebug || enableRs232 || skipModelNameCheck; }
};

// Sends the ticked switches in order, appending each one's message to box.
// A switch the drive refuses gets "<message> Fail" and ends the sequence
// (false): the download must not run without what the operator asked for.
bool sendDownloadSwitches(Context& ctx, const DownloadSwitches& switches, MessageSink& box);

// "Clear SMART" (56h 03h) and "PreRB3" (80h 00h).
bool clearSmartData(Context& ctx, MessageSink& box);
bool preReboot(Context& ctx, MessageSink& box);

}  // namespace zorv::firmware
