#pragma once
// The records every part of the tool shares when it talks to a drive: the
// drive table, the command block, the 1 MiB sector buffer, the last sense
// data, the transport switches, the queue and the message mode. The programs
// make one Context for the whole run; every test makes its own.
//
// One operation at a time owns the transport, CmdBlock and SectorBuffer; only
// the stop and busy flags are touched from other threads.

#include <array>
#include <atomic>
#include <cstdint>

#include "transport/aligned_buffer.h"
#include "transport/ata_task_file.h"
#include "transport/clock.h"
#include "transport/command_outcome.h"
#include "transport/device_port.h"
#include "transport/drive_table.h"
#include "transport/message.h"
#include "transport/user_interface.h"

namespace zorv {

constexpr size_t kSectorBufferSize = 1 << 20;
constexpr int kQueueSlots = 16;
constexpr size_t kSlotBufferSize = 1 << 20;

struct NcqSlot {
  ScsiRequest request;
  AlignedBuffer buffer;           // 1 MiB, allocated by InitQueue
  uint32_t bytesTransferred = 0;  // recorded when AcquireSlot collects the slot
  uint32_t lba = 0;               // the LBA of a queued read, to match its completion
  bool completedOk = true;        // the collected transfer's SCSI status was GOOD and it moved all its data
};

struct Context {
  Context(DevicePort& port, UserInterface& ui, Clock& clock, MessageSink& pane);
  // A context for one long operation on one drive (a media test, a workload):
  // the collaborators, transport switches and message mode of parent, drive
  // as the only table entry (selected), buffers and a queue of its own, pane
  // for its messages and stop as its stop flag. A later selection change in
  // the parent cannot move the operation to another drive, and the parent's
  // SectorBuffer stays free for the window's short commands.
  Context(const Context& parent, const DriveEntry& drive, MessageSink& pane, std::atomic<uint8_t>& stop);
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  // Collaborators.
  DevicePort* port;
  UserInterface* ui;
  Clock* clock;
  MessageSink& messagePane() { return *pane_; }
  void setMessagePane(MessageSink& pane) { pane_ = &pane; }

  // Drive table.
  DriveTableArray DriveTable{};
  uint8_t ucDriveCount = kNoDrive;
  uint8_t ucSelDrive = kNoDrive;
  bool hasSelectedDrive() const { return ucSelDrive < kMaxDrives; }
  DriveEntry& selectedDrive() { return DriveTable[ucSelDrive < kMaxDrives ? ucSelDrive : 0]; }

  // The shared command record and data buffer.
  AtaTaskFile CmdBlock{};
  AlignedBuffer SectorBuffer{kSectorBufferSize};
  std::array<uint8_t, kSenseLength> LastSense{};
  // Why the most recent command failed (whether it reached the drive at all).
  CommandOutcome lastOutcome{};
  // The task file the drive returned for the most recent ATA command, as the
  // backend delivered it (error, count, LBA, device, status in the order of
  // AtaPassThroughRequest::currentTaskFile). SendAtaCommand writes only the
  // LBA bytes back into CmdBlock; the console reports the whole reply from
  // here (a CHECK POWER MODE answers in its count register). Empty when no
  // registers came back (not sent, an I/O failure, the USB path).
  struct AtaReply {
    bool valid = false;
    std::array<uint8_t, 8> current{};
    std::array<uint8_t, 8> previous{};
  } lastAtaReply{};

  // Transport switches.
  uint8_t fgFamilyDrive = 0;
  uint8_t fgVendorCdbEnable = 0;
  uint16_t usTimeoutShort = 7;
  uint16_t usTimeoutMid = 30;
  uint16_t usTimeoutLong = 255;
  uint8_t _fgNCQEnable = 1;
 private:
  std::atomic<uint8_t> ownStopRequest_{0};

 public:
  // The context's own flag, or the one it was handed.
  std::atomic<uint8_t>& fgStopRequest;
  std::atomic<uint8_t> fgBusy{0};
  uint8_t fgReadVerify = 0;
  uint8_t fgCdbTag = 0;
  uint32_t ulCurLba = 0;

  // Drive acceptance (enumeration): the accepted brand range from the built-in
  // configuration block, and the switch that accepts every drive.
  uint8_t ucBrandFirst = 2;
  uint8_t ucBrandEnd = 3;
  uint8_t fgSkipModelCheck = 0;

  // The current operation code that selects a media test.
  uint16_t usOpCode = 0;

  // Message output.
  std::atomic<uint8_t> ucMsgMode{kMsgModeNormal};

  // The shared request for ordinary SCSI commands, and the queue.
  ScsiRequest scsiRequest{};
  std::array<NcqSlot, kQueueSlots> slots{};
  int queueRingPosition = 0;
  int currentSlot = 0;
  bool queueOpen = false;

 private:
  MessageSink* pane_;
};

}  // namespace zorv
