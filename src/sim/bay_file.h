#pragma once
// bay.json to BayRecord and back. Reading checks every field and names the
// first bad one: "<file>: slots[1].drive.capacity: expected an unsigned integer".

#include <string>

#include "sim/drive_record.h"

namespace zorv::sim {

bool parseBayDescription(const std::string& text, const std::string& fileName, BayRecord& out, std::string& error);
std::string serializeBayDescription(const BayRecord& bay);

nlohmann::json driveToJson(const DriveRecord& drive);
nlohmann::json faultToJson(const Fault& fault);

}  // namespace zorv::sim
