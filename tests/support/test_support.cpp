#include "support/test_support.h"

#include <algorithm>

namespace zorv::test {

void RecordingUi::messageBox(std::string_view text, BoxIcon icon, std::string_view caption) {
  boxes.push_back({std::string(text), icon, std::string(caption)});
}

bool RecordingUi::askYesNo(std::string_view text, std::string_view caption, BoxIcon icon) {
  boxes.push_back({std::string(text), icon, std::string(caption)});
  if (answers.empty()) return false;
  bool a = answers.front();
  answers.pop_front();
  return a;
}

bool RecordingUi::askGoOn(std::string_view text) { return askYesNo(text, "", BoxIcon::Question); }

std::optional<std::string> RecordingUi::chooseOpenFile(std::string_view, std::string_view) {
  if (files.empty()) return std::nullopt;
  std::string f = files.front();
  files.pop_front();
  return f;
}

std::vector<std::string> RecordingUi::chooseOpenFiles(std::string_view, std::string_view) {
  std::vector<std::string> out(files.begin(), files.end());
  files.clear();
  return out;
}

std::optional<std::string> RecordingUi::chooseSaveFile(std::string_view, std::string_view, std::string_view) {
  if (files.empty()) return std::nullopt;
  std::string f = files.front();
  files.pop_front();
  return f;
}

IoOutcome RecordingPort::queryBusType(const std::string& path, uint8_t& bus) {
  paths.push_back(path);
  bus = busType;
  return {};
}

IoOutcome RecordingPort::ataPassThrough(const std::string& path, AtaPassThroughRequest& request) {
  paths.push_back(path);
  ataRequests.push_back(request);
  // The whole transfer moves unless the responder says otherwise.
  request.bytesTransferred = request.dataTransferLength;
  if (ata) return ata(request);
  // A drive that completed the command: DRDY and DSC, no error, the other
  // registers as they were sent.
  request.currentTaskFile[6] = 0x50;
  return IoOutcome{};
}

IoOutcome RecordingPort::scsiPassThrough(const std::string& path, ScsiRequest& request) {
  paths.push_back(path);
  scsiRequests.push_back(request);
  // The whole transfer moves unless the responder says otherwise.
  request.bytesTransferred = request.dataTransferLength;
  return scsi ? scsi(request) : IoOutcome{};
}

IoOutcome RecordingPort::submitQueued(const std::string& path, int slot, ScsiRequest& request) {
  paths.push_back(path);
  scsiRequests.push_back(request);
  inFlight[static_cast<size_t>(slot)] = &request;
  return {};
}

SlotState RecordingPort::pollSlot(int slot) {
  ScsiRequest*& r = inFlight[static_cast<size_t>(slot)];
  if (!r) return SlotState::Idle;
  r->bytesTransferred = r->dataTransferLength;
  if (scsi) scsi(*r);
  r = nullptr;
  return SlotState::Complete;
}

void RecordingPort::drainQueue() {
  for (int i = 0; i < kQueueSlots; ++i) pollSlot(i);
}

TestContext::TestContext(DevicePort& port, uint8_t busType) : ctx(port, ui, clock, pane) {
  ctx.DriveTable[0].ucBusType = busType;
  ctx.DriveTable[0].strDevicePath = port.physicalDrivePath(0);
  ctx.ucDriveCount = 1;
  ctx.ucSelDrive = 0;
  ctx.fgFamilyDrive = 1;
}

}  // namespace zorv::test
