#pragma once
// The repair-station codes of the simulated controller and the knobs a test
// or `zorvctl sim` turns on them.
//
//   61h        RMA limits: bytes 16-27 six 16-bit limits (RmaTime,
//              BBLife, PELife, WorstTemp, AvgEC, TotalWrtGB), 28-29 POH,
//              all big-endian; kept in the vendor state
//   62h        save SMART to SPI: the limits and the SMART data
//              sector are written into the SPI image (kSpiRmaArea); refused
//              while no limits were ever written
//   F3h        thermal sensor: reply bytes 0-1 the temperature in tenths of
//              a degree, little-endian (two's complement below zero)
//   B1h 01h    merge the table bad blocks into the OBB list in SPI flash
//              (kSpiObbListArea)
//   03h 02h    Preb2
//   B0h 00/01h clear / set the RMA flag (persistent)
//   FBh 00h    OBB list check: refused while the RMA flag is clear or an
//              OBB error is set; the refusal's reply (the next READ BUFFER)
//              starts with the four error bytes
//
// Any vendor code can be made to fail: the next `count` command sectors with
// that code are refused (ABRT on the WRITE BUFFER).
//
// Persistent state: drive.vendorState()["rma"] =
//   { "limits": [7 numbers], "smartSaves": n, "merges": n, "preb2": n,
//     "flag": bool, "obbError": "XXXXXXXX" | absent,
//     "rejects": [ { "code": n, "count": n } ] }

#include <array>
#include <cstdint>
#include <optional>

namespace zorv::sim {

class SimDrive;

constexpr size_t kSpiRmaArea = 0x60000;      // "ZVRMASMT", limits, then the SMART sector at +100h
constexpr size_t kSpiObbListArea = 0x61000;  // "ZVOBBLST", merge count, table bad blocks

// The four bytes FBh answers with from now on (nullopt: the check passes again).
void setObbError(SimDrive& drive, std::optional<std::array<uint8_t, 4>> bytes);
// The next `count` command sectors with code are refused.
void rejectVendorCode(SimDrive& drive, uint8_t code, uint32_t count);
// Drops every refusal and the OBB error.
void clearVendorFaults(SimDrive& drive);
// True (and one use taken) when the command sector with code is to be refused.
bool takeVendorReject(SimDrive& drive, uint8_t code);
// Whether the RMA flag is set.
bool rmaFlag(SimDrive& drive);

}  // namespace zorv::sim
