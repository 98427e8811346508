#pragma once
// What the repair station writes into a drive and how it tests it: the RMA
// limits (the figures the drive keeps with its SMART data, and the time
// allowed for the power cycle) and the fixed range of the write/read test.

#include <cstdint>
#include <string>

namespace zorv::rma {

// The defaults every opening of the station sets.
struct RmaLimits {
  uint16_t RmaTime = 10;
  uint16_t BBLife = 30;
  uint16_t PELife = 30;
  uint16_t WorstTemp = 100;
  uint16_t AvgEC = 70;
  uint16_t TotalWrtGB = 70;
  uint16_t POH = 1825;
  uint16_t TimeInterval = 200;  // seconds allowed for the power cycle
};

// The write/read test: 1 GiB from LBA 1000h, 80h sectors per command.
struct WriteReadRange {
  uint32_t startLba = 0x1000;
  uint32_t totalLength = 0x200000;
  uint32_t commandLength = 0x80;
  uint64_t endLba() const { return uint64_t{startLba} + totalLength; }
};

// What the station's message box shows when it opens.
std::string openingText(const RmaLimits& limits, const WriteReadRange& range);

}  // namespace zorv::rma
