#pragma once
// The SCSI commands the tool and the simulated drive name in code. The
// time-out table of the transport keeps its opcodes as numbers: it is a list
// taken whole, most of whose commands the tool never sends.

#include <cstdint>

namespace zorv::scsi {

inline constexpr uint8_t kTestUnitReady = 0x00;
inline constexpr uint8_t kRequestSense = 0x03;
inline constexpr uint8_t kInquiry = 0x12;
inline constexpr uint8_t kStartStopUnit = 0x1B;
inline constexpr uint8_t kReadCapacity10 = 0x25;
inline constexpr uint8_t kRead10 = 0x28;
inline constexpr uint8_t kWrite10 = 0x2A;
inline constexpr uint8_t kSynchronizeCache10 = 0x35;
inline constexpr uint8_t kWriteBuffer = 0x3B;
inline constexpr uint8_t kReadBuffer = 0x3C;
inline constexpr uint8_t kModeSelect10 = 0x55;
inline constexpr uint8_t kModeSense10 = 0x5A;
inline constexpr uint8_t kAtaPassThrough16 = 0x85;
inline constexpr uint8_t kRead16 = 0x88;
inline constexpr uint8_t kWrite16 = 0x8A;
inline constexpr uint8_t kSynchronizeCache16 = 0x91;
inline constexpr uint8_t kServiceActionIn16 = 0x9E;
inline constexpr uint8_t kAtaPassThrough12 = 0xA1;
inline constexpr uint8_t kRead12 = 0xA8;
inline constexpr uint8_t kWrite12 = 0xAA;
// The controller family's vendor CDB (the transport sends it only while
// fgVendorCdbEnable is set).
inline constexpr uint8_t kVendorCdb = 0xF3;

}  // namespace zorv::scsi
