#include "sim/media.h"

namespace zorv::sim {

bool measureFileMedia(const std::string& path, uint64_t& sectors, uint64_t& bytes, std::string& error) {
  bytes = mediaFileBytes(path, error);
  if (!error.empty()) return false;
  const uint64_t available = bytes / 512;  // whole sectors
  if (sectors == 0) sectors = available;
  if (sectors == 0 || sectors > available) {
    error =
        path + ": holds " + std::to_string(available) + " sectors, the drive has " + std::to_string(sectors);
    return false;
  }
  return true;
}

}  // namespace zorv::sim
