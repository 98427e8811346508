#pragma once
// The sg_io_hdr side of the Linux backend: building headers from the
// transport's requests, reading their results back, and turning errno and the
// host/driver status bytes into an IoOutcome. Everything here works on plain
// values so that it can be checked without a disk.

#include <scsi/sg.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/linux/sat_pass_through.h"
#include "transport/device_port.h"

namespace zorv::platform {

// Room for any sense data the kernel returns (SCSI_SENSE_BUFFERSIZE is 96).
constexpr size_t kSgSenseBufferSize = 96;
using SgSenseBuffer = std::array<uint8_t, kSgSenseBufferSize>;

constexpr const char* kNeedsRawIo = "needs root or CAP_SYS_RAWIO";

// errno of open() or of the SG_IO / sg write / sg read call:
//   ENOENT, ENXIO, ENODEV, ENOMEDIUM -> NoDevice
//   EACCES, EPERM                    -> PermissionDenied ("needs root or CAP_SYS_RAWIO")
//   EBUSY                            -> Busy (someone holds the disk exclusively, or it is mounted)
//   ETIMEDOUT                        -> Timeout
//   ENOTTY                           -> NotSupported (not a SCSI device)
//   anything else                    -> OsFailure
// `what` names the call and path for the detail text.
IoOutcome outcomeFromErrno(int err, std::string_view what);

// host_status / driver_status of a completed sg_io_hdr: a time-out at either
// level -> Timeout; a target that is gone -> NoDevice; any other transport
// failure -> OsFailure; DID_OK with at most DRIVER_SENSE -> success (the
// device's own verdict is then in status and sense).
IoOutcome outcomeFromSgStatus(unsigned hostStatus, unsigned driverStatus);

// Header for a SCSI request; `sense` receives the sense data. Refuses (false,
// `error` set) a CDB length outside 1..16 or data without a buffer.
bool buildScsiHeader(ScsiRequest& request, SgSenseBuffer& sense, sg_io_hdr& hdr, std::string& error);

// Header for an ATA PASS-THROUGH(16) command built by buildSatPassThrough16.
void buildSatHeader(SatCommand& command, uint8_t* data, SgSenseBuffer& sense, sg_io_hdr& hdr);

// After a SCSI request completed: SCSI status, sense converted to fixed
// format, bytes moved (requested less the residue); the outcome of the
// host/driver status.
IoOutcome finishScsiRequest(const sg_io_hdr& hdr, const SgSenseBuffer& sense, ScsiRequest& request);

// After an ATA PASS-THROUGH(16) completed: reads the returned registers into
// the task files (those not returned keep what was sent) and judges the
// command by the drive's own status, not by the sense key the translation
// layer made of it. Success when:
// - the registers came back with ERR or DF set (the drive failed the
//   command; the caller reads that in the status);
// - they came back with BSY, ERR and DF clear, with a sense key that carries
//   only them (NO SENSE, RECOVERED ERROR or ABORTED COMMAND with ASC/ASCQ
//   00h/00h or 00h/1Dh), every byte moved, and, for a command whose result
//   they may be (any but a media read or write), every register it needs
//   present;
// - a data-in command, which asks for no registers, came back GOOD without
//   them: the status reads 50h, the other registers keep what was sent.
// A failure, with the reason in the detail, otherwise: host or driver
// errors, no registers where they were asked for (refused before reaching
// the drive, or CK_COND ignored), BSY, another sense key or code, a short
// transfer, or registers a non-data command needs that fixed-format sense
// could not carry.
IoOutcome finishAtaRequest(const sg_io_hdr& hdr, const SgSenseBuffer& sense, AtaPassThroughRequest& request);

// The same decision on values, for callers (and tests) without a header;
// request.bytesTransferred must already hold what moved.
IoOutcome interpretAtaCompletion(uint8_t scsiStatus, const uint8_t* sense, size_t senseLength,
                                 AtaPassThroughRequest& request);

// Switching a drive's sense data to descriptor format (control mode page,
// D_SENSE = 1) keeps the high-order ATA registers, which fixed format drops.
//
// MODE SENSE(10), DBD = 1, control mode page (0Ah), current values:
//   5A 08 0A 00 00 00 00 <alloc 15:8> <alloc 7:0> 00
std::array<uint8_t, 10> buildModeSenseControlCdb(uint16_t allocationLength);

// From MODE SENSE(10) data: the 8-byte header (MODE DATA LENGTH 2 bytes,
// MEDIUM TYPE, DEVICE-SPECIFIC, 2 reserved, BLOCK DESCRIPTOR LENGTH 2
// bytes), block descriptors, then the page: byte 0 PS (7) and page code
// 0Ah, byte 1 page length (0Ah), byte 2 TST/TMF_ONLY/DPICZ/D_SENSE (bit 2)/
// GLTSD/RLEC. Copies the 12-byte page to `page` and returns true when it is
// there whole.
bool extractControlPage(const uint8_t* data, size_t length, std::array<uint8_t, 12>& page);

// Byte 2 of the control mode page: D_SENSE.
constexpr uint8_t kControlPageDSense = 0x04;

// MODE SELECT(10) with PF = 1, SP = 0 and its 20-byte parameter list: a zero
// 8-byte header (no block descriptors), then `page` with PS cleared (page
// length 0Ah): the page written back as it was read.
//   CDB: 55 10 00 00 00 00 00 00 14 00
void buildModeSelectControlPage(const std::array<uint8_t, 12>& page, std::array<uint8_t, 10>& cdb,
                                std::array<uint8_t, 20>& parameters);

// The same with D_SENSE set.
void buildModeSelectDescriptorSense(const std::array<uint8_t, 12>& page, std::array<uint8_t, 10>& cdb,
                                    std::array<uint8_t, 20>& parameters);

}  // namespace zorv::platform
