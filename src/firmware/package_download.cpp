#include "firmware/package_download.h"

#include "diagnostics/info_ssd.h"

namespace zorv::firmware {

std::optional<int> chooseQzRowForDrive(Context& ctx, QzPackageTab& tab, MessageSink& box) {
  if (tab.rowCount() == 0) return tab.chooseForDownload(ctx, {}, box);  // "No QZ code"
  // The drive selected now decides the ID length, whichever was selected
  // when the package was opened.
  tab.readWithModelClass(ctx.selectedDrive().usModelClass);
  InfoSsdRecord record;
  if (!ReadInfoSsd(ctx, record).ok()) {
    AppendMessage(ctx, "Drive Error\r\n", box);
    return std::nullopt;
  }
  return tab.chooseForDownload(ctx, record.hardwareId(tab.modelClass()), box);
}

TabJob planTabStart(FirmwareTabOptions& options) {
  if (!options.makeFwDownloader) return TabJob::Download;
  options.switches = DownloadSwitches{};
  return TabJob::WriteExecutable;
}

TabDownloadResult runTabDownload(Context& ctx, std::span<const uint8_t> image, const DownloadSwitches& switches,
                                 MessageSink& box, ProgressSink& progress) {
  TabDownloadResult r;
  if (!sendDownloadSwitches(ctx, switches, box)) return r;
  r.switchesSent = true;
  DownloadRequest request;
  request.image = image;
  request.allowHwidUpdate = true;
  r.download = downloadFirmware(ctx, request, progress);
  return r;
}

std::optional<std::vector<uint8_t>> readBinFile(Context& ctx, const std::string& path, MessageSink& box) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (path.empty() || !readWholeFile(path, bytes, kMaxDownloadImage, error)) {
    AppendMessage(ctx, "Open File Error\r\n", box);
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::vector<uint8_t>> openBinFile(Context& ctx, FirmwareTabOptions& options, MessageSink& box) {
  options.switches = DownloadSwitches{};
  std::optional<std::string> path = ctx.ui->chooseOpenFile("Open Bin", kBinFilter);
  return readBinFile(ctx, path.value_or(std::string()), box);
}

}  // namespace zorv::firmware
