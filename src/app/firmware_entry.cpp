#include "app/firmware_entry.h"

#include <utility>

namespace zorv::app {

namespace {
FirmwareUpdateEntry& entrySlot() {
  static FirmwareUpdateEntry entry = nullptr;
  return entry;
}
}  // namespace

FirmwareUpdateRegistrar::FirmwareUpdateRegistrar(FirmwareUpdateEntry entry) { entrySlot() = entry; }

FirmwareUpdateEntry firmwareUpdateEntry() { return entrySlot(); }

FirmwareUpdateEntry setFirmwareUpdateEntry(FirmwareUpdateEntry entry) { return std::exchange(entrySlot(), entry); }

bool runFirmwareUpdate(Context& ctx, ProgressSink& progress, MessageSink& box) {
  FirmwareUpdateEntry entry = entrySlot();
  return entry ? entry(ctx, progress, box) : false;
}

}  // namespace zorv::app
