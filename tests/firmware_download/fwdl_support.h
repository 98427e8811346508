#pragma once
// Helpers of the download and updater tests: images made by the image
// maker, packages made by the package builder, the simulated drive's state,
// and files.

#include <cstdint>
#include <string>
#include <vector>

#include "firmware/image_maker.h"
#include "firmware/package_builder.h"
#include "sim/sim_bay.h"
#include "support/sim_fixture.h"

namespace zorv::fwdl {

// The drive's record as the bay file holds it now.
sim::DriveRecord driveIn(sim::SimBay& bay, int slot);
// Its HWID as the Info SSD record reports it: 9 or 16 bytes, zero-filled.
std::vector<uint8_t> hwidOf(const sim::DriveRecord& d);

// A plain image (class 0 not complemented).
std::vector<uint8_t> plainImage(uint16_t cls, const std::vector<uint8_t>& hwid, const std::string& version,
                                size_t size = 64 * 1024);
// As packages store it: class 0 complemented.
std::vector<uint8_t> storedForm(uint16_t cls, std::vector<uint8_t> plain);
// An image for the drive in slot with the given version, in stored form.
std::vector<uint8_t> imageFor(sim::SimBay& bay, int slot, const std::string& version, size_t size = 64 * 1024);

// A package of one model class from (HWID, model name, plain image) rows.
std::vector<uint8_t> packageOf(uint16_t cls, const std::vector<firmware::PackageRow>& rows);

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Whether the pane text holds `line` (text as written, "\r\n" included).
bool contains(const std::string& text, const std::string& part);

}  // namespace zorv::fwdl
