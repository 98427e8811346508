// libFuzzer target: any text as a bay description (bay.json), which another
// process may have written or a person edited. A bad file is refused with a
// message; nothing may crash.

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/bay_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  zorv::sim::BayRecord record;
  std::string error;
  (void)zorv::sim::parseBayDescription(text, "bay.json", record, error);
  return 0;
}
