#pragma once
// The firmware package tab's download side, without a window: "Download QZ"
// (the row for the drive's HWID), a start from the tab (option switches,
// then the download, or the image written into a downloader executable),
// "Open Bin", "Clear SMART" and "PreRB3". The window runs the bodies on its
// worker thread and shows what they append; zorvctl runs them in line.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/download.h"
#include "firmware/package_session.h"
#include "firmware/updater.h"
#include "transport/context.h"

namespace zorv::firmware {

struct FirmwareTabOptions {
  DownloadSwitches switches;      // the four option boxes
  bool makeFwDownloader = false;  // "Make FW Downloader"
};

// "Download QZ": "No QZ code" for an empty list; otherwise the drive's HWID
// from its Info SSD record ("Drive Error" when it cannot be read) and the
// package tab's choice, with the table read for the selected drive's model
// class. The row whose image is to be downloaded, or nullopt.
std::optional<int> chooseQzRowForDrive(Context& ctx, QzPackageTab& tab, MessageSink& box);

// Step 1 of a start from the tab: what the worker does with the image. With
// "Make FW Downloader" ticked the four option boxes are cleared and the
// image goes into an executable; nothing is sent to the drive.
enum class TabJob { Download, WriteExecutable };
TabJob planTabStart(FirmwareTabOptions& options);

struct TabDownloadResult {
  bool switchesSent = false;
  std::optional<DownloadResult> download;  // empty when a switch was refused
  bool updated() const { return download && download->updated(); }
};

// The download worker's body: the ticked switches in order, then the
// download with HWID update allowed and the default version compare length.
TabDownloadResult runTabDownload(Context& ctx, std::span<const uint8_t> image, const DownloadSwitches& switches,
                                 MessageSink& box, ProgressSink& progress);

// "Open Bin", up to the start: the four option boxes are cleared, a file is
// chosen and read whole ("Open File Error\r\n" when that fails).
std::optional<std::vector<uint8_t>> openBinFile(Context& ctx, FirmwareTabOptions& options, MessageSink& box);
// The same for a file already chosen (empty path: cancelled).
std::optional<std::vector<uint8_t>> readBinFile(Context& ctx, const std::string& path, MessageSink& box);

}  // namespace zorv::firmware
