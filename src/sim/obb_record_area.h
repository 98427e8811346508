#pragma once
// The OBB record area the factory leaves in a drive's SPI flash: the
// results of its burn-in stages (error codes, pass marks, temperatures and
// currents), the early bad blocks per plane, the bad blocks each burn-in loop
// found, and per-plane timing tables. Model class 0 drives keep the Pallo
// layout, model class 1 drives the Tarn layout; a plane the drive does not
// have keeps its entries erased (FFh), as unused flash does.

#include <cstdint>
#include <span>

namespace zorv::sim {

class FlashModel;

// Writes the area into the first 4 KiB of image (no-op for a shorter one).
void writeObbRecordArea(const FlashModel& flash, std::span<uint8_t> image);

}  // namespace zorv::sim
