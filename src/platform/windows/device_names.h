#pragma once
// The names Windows opens drives and volumes by.

#include <string>

namespace zorv::platform {

constexpr int kPhysicalDrives = 8;

// "\\.\PhysicalDrive%d" for n = 0..7; empty otherwise.
std::string physicalDriveName(int n);

// "\\.\%c:" for a drive letter A..Z (either case); empty otherwise.
std::string volumeName(char letter);

}  // namespace zorv::platform
