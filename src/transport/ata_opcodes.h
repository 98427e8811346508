#pragma once
// The ATA commands the tool and the simulated drive name in code. The
// console's direction tables and the 48-bit list keep their opcodes as
// numbers: they are lists, each entry is not a command of its own.

#include <cstdint>

namespace zorv::ata {

inline constexpr uint8_t kDataSetManagement = 0x06;
inline constexpr uint8_t kReadDmaExt = 0x25;
inline constexpr uint8_t kWriteDmaExt = 0x35;
inline constexpr uint8_t kReadFpdmaQueued = 0x60;
inline constexpr uint8_t kWriteFpdmaQueued = 0x61;
inline constexpr uint8_t kNcqNonData = 0x63;
inline constexpr uint8_t kSendFpdmaQueued = 0x64;
inline constexpr uint8_t kReceiveFpdmaQueued = 0x65;
inline constexpr uint8_t kAccessibleMaxAddressConfiguration = 0x78;
inline constexpr uint8_t kExecuteDeviceDiagnostic = 0x90;
inline constexpr uint8_t kInitializeDeviceParameters = 0x91;
inline constexpr uint8_t kDownloadMicrocode = 0x92;
inline constexpr uint8_t kDownloadMicrocodeDma = 0x93;
inline constexpr uint8_t kIdentifyPacketDevice = 0xA1;
inline constexpr uint8_t kSmart = 0xB0;
inline constexpr uint8_t kSetMultipleMode = 0xC6;
inline constexpr uint8_t kReadDma = 0xC8;
inline constexpr uint8_t kWriteDma = 0xCA;
inline constexpr uint8_t kStandbyImmediate = 0xE0;
inline constexpr uint8_t kIdleImmediate = 0xE1;
inline constexpr uint8_t kStandby = 0xE2;
inline constexpr uint8_t kIdle = 0xE3;
inline constexpr uint8_t kReadBuffer = 0xE4;
inline constexpr uint8_t kCheckPowerMode = 0xE5;
inline constexpr uint8_t kSleep = 0xE6;
inline constexpr uint8_t kFlushCache = 0xE7;
inline constexpr uint8_t kWriteBuffer = 0xE8;
inline constexpr uint8_t kReadBufferDma = 0xE9;
inline constexpr uint8_t kFlushCacheExt = 0xEA;
inline constexpr uint8_t kWriteBufferDma = 0xEB;
inline constexpr uint8_t kIdentifyDevice = 0xEC;
inline constexpr uint8_t kSetFeatures = 0xEF;
// The controller family's vendor command: its FEATURES register selects the
// function (SPI flash, hardware ID, flash location, ...).
inline constexpr uint8_t kVendorSwitch = 0xF7;

}  // namespace zorv::ata
