#pragma once
// One-file updaters and the model lock: the executables the program writes
// and the package a running program finds appended to its own file.
//
// Package form: the executable unchanged, then
//   1 byte   options: bits 0-4 the version compare length (written as 6),
//            bit 5 (20h) send "Enable Skip Model Name Check" first
//   9 bytes  the package marker
//   rest     the package file, unchanged
// Image form: a reserved block of 614,400 bytes in the executable's
// initialised data starts with the image marker; writing an image puts its
// length (4 bytes, little-endian) and the image there.
// Model lock: the brand code name of the configuration block is followed by
// ucBrandFirst and ucBrandEnd. RMA variant: the second code name is followed
// by the letter ('A' as built; 'B' makes the RMA run update the firmware).
//
// The program holds none of the markers as plain bytes outside their own
// places (the package marker nowhere at all): they are composed at run time
// and searches compare against the composed bytes, so a search through a
// whole executable finds the right place first.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "transport/host_file.h"
#include "firmware/download.h"
#include "transport/context.h"

namespace zorv::firmware {

constexpr size_t kReservedBlockSize = 614400;
constexpr size_t kExecutableChunk = 32768;
constexpr uint8_t kOptionsDefault = 0x06;
constexpr uint8_t kOptionSkipModelNameCheck = 0x20;
constexpr uint8_t kOptionCompareLengthMask = 0x1F;
// Executables and packages are read whole; nothing larger is taken.
constexpr size_t kMaxExecutableFile = size_t{1} << 30;

inline constexpr std::string_view kExeFilter = "EXE Files(*.exe)|*.*||";
inline constexpr std::string_view kExecuteFileFilter = "Execute File(*.exe)|All Files(*.*)|*.*||";
inline constexpr std::string_view kAllFilesFilter = "All Files(*.*)|*.*||";
inline constexpr std::string_view kBinFilter = "Bin Files(*.Bin)|*.*||";

enum class Marker : uint8_t {
  Package,  // nine bytes before an appended package
  Image,    // nine bytes at the start of the reserved image block
  Brand,    // the eight-byte code name before the accepted brand range
  RmaVariant,  // the ten-byte code name before the RMA variant letter
};

// The marker's bytes, composed at run time.
std::vector<uint8_t> markerBytes(Marker marker);
// First occurrence at or after `from`; never reads past the end.
std::optional<size_t> findMarker(std::span<const uint8_t> bytes, Marker marker, size_t from = 0);

// ---- Package form.
uint8_t packageOptionsByte(bool skipModelNameCheck);
std::vector<uint8_t> appendPackageBytes(std::span<const uint8_t> executable, std::span<const uint8_t> package,
                                        uint8_t options);
struct EmbeddedPackage {
  size_t markerOffset = 0;
  uint8_t options = 0;
  std::span<const uint8_t> package;  // to the end of the file
};
// The first trailer in a file; nullopt without one (or with the marker at
// the very start, where no options byte can precede it).
std::optional<EmbeddedPackage> findEmbeddedPackage(std::span<const uint8_t> file);

// "Append QZ": asks for an executable, a package and an output file through
// ctx.ui; texts to box. Refused, with nothing written: an executable that
// already carries a package (its updater would only ever run the first
// one), a package that does not unpack and parse ("Unzip File Fail") or
// holds no row, as an updater made from it could never update a drive. The
// output gets the executable's permissions.
enum class AppendStatus : uint8_t {
  Done,
  ExecutableUnreadable,  // "Open EXE File Fail"
  AlreadyCarriesPackage,
  PackageUnreadable,     // "Open QZ File Fail"
  PackageUnusable,       // "Unzip File Fail"
  PackageEmpty,          // no row in its model table
  WriteFailed,           // no output chosen, or it could not be written
};
AppendStatus appendPackageToExecutable(Context& ctx, bool skipModelNameCheck, MessageSink& box);
inline constexpr std::string_view kExeCarriesPackageText = "The EXE File Already Carries A QZ Package\r\n";
inline constexpr std::string_view kQzWithoutRowsText = "The QZ File Holds No Firmware\r\n";

// ---- Image form.
enum class ImageWriteStatus : uint8_t { Written, OpenFailed, MarkerNotFound, TooLarge, WriteFailed };
// Writes into the file at path (the file choice already made); lines go to
// the message pane ("Open EXE File Ok", "EXE File Seek Ok", ...).
ImageWriteStatus writeImageIntoFile(Context& ctx, const std::string& path, std::span<const uint8_t> image);
// "Make FW Downloader": asks for the file through ctx.ui, then as above.
ImageWriteStatus writeImageIntoExecutable(Context& ctx, std::span<const uint8_t> image);

// ---- The package run of the downloader.
enum class EmbeddedStatus : uint8_t {
  Updated,            // the download ran and the drive took the image
  UpToDate,           // the drive already runs this firmware or a newer one ("FW is the Latest"): not a failure
  DownloadFailed,     // the download ran or stopped with a failure verdict (see download)
  NoImage,            // no row for the drive ("No bin file")
  NoDrive,            // no drive is selected
  OwnFileUnreadable,  // the program's own file could not be read
  NoPackage,          // no package trailer in it
  UnpackFailed,       // the package does not unpack or its table does not parse
  SwitchFailed,       // the drive refused "Enable Skip Model Name Check"
};
std::string_view embeddedStatusName(EmbeddedStatus status);

struct EmbeddedRunResult {
  EmbeddedStatus status = EmbeddedStatus::NoPackage;
  std::optional<DownloadResult> download;
  int row = -1;
  std::string reason;  // why it failed, for logs
  bool updated() const { return status == EmbeddedStatus::Updated; }
  // Nothing failed: the drive was updated or needed no update.
  bool succeeded() const { return status == EmbeddedStatus::Updated || status == EmbeddedStatus::UpToDate; }
};

// Reads the program's own file (the path with which it was started; on
// Linux /proc/self/exe), finds the first package trailer, unpacks and
// parses it for the selected drive's model class, chooses the row for the
// drive's HWID and downloads its image.
struct EmbeddedRunOptions {
  // The download may rewrite the last byte of the drive's HWID.
  bool allowHwidUpdate = true;
  // Message mode 2 while the package is found, unpacked and parsed (nothing
  // of it reaches a message box); the mode before is restored whatever the
  // outcome.
  bool quietUnpack = false;
};
EmbeddedRunResult runEmbeddedPackage(Context& ctx, ProgressSink& progress,
                                     const std::string& ownPath = ownExecutablePath(), EmbeddedRunOptions options = {});
// Whether the run stopped before a drive command because the program's own
// file, its package or the package's table could not be used.
bool isDecodeFailure(EmbeddedStatus status);

// ---- Model lock.
// Rewrites the two range bytes after the first code name: brandIndex and
// brandIndex + 1. False when there is no code name with two bytes after it.
bool lockModelBytes(std::vector<uint8_t>& executable, uint8_t brandIndex);
// "Model Lock": asks for an executable and an output file; texts to box
// ("Lock Model Name Done\r\n", "<<<<Lock Model Fail>>>>\r\n").
bool lockModel(Context& ctx, uint8_t brandIndex, MessageSink& box);

// ---- RMA variant.
// Rewrites the letter after the second code name. False when letter is not
// an upper-case letter or there is no code name with a byte after it.
bool setRmaVariantBytes(std::vector<uint8_t>& executable, char letter);
// Writes a copy of the executable at exePath with another letter to outPath;
// texts to box ("Set RMA Variant Done\r\n", "<<<<Set RMA Variant Fail>>>>\r\n",
// "Open EXE File Fail\r\n", "Write File Fail\r\n"). The copy keeps the
// executable's permissions; the original is never changed.
bool writeRmaVariant(Context& ctx, const std::string& exePath, const std::string& outPath, char letter,
                     MessageSink& box);
// The same with the two files asked for through ctx.ui (open, then save).
bool makeRmaVariant(Context& ctx, char letter, MessageSink& box);

// The reserved block of this program (for tests: it must be in the file).
std::span<const volatile uint8_t> reservedImageBlock();

// Writes bytes to path, replacing it; the mode of modeFrom (if given) is
// copied so that an executable stays executable.
bool writeWholeFile(const std::string& path, std::span<const uint8_t> bytes, const std::string& modeFrom,
                    std::string& error);

}  // namespace zorv::firmware
