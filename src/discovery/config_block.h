#pragma once
// The built-in configuration block: the only settings that outlive a run.
// It is initialised data of the program so that the model-lock writer can
// find the brand code name in a copy of the executable and rewrite the two
// range bytes after it; the RMA variant letter follows the second code name.

#include <cstdint>

namespace zorv {

// Index of the first accepted brand and one past the last, as stored.
uint8_t configBrandFirst();
uint8_t configBrandEnd();
// 'A' as built; 'B' makes the RMA run include the firmware update.
char configRmaVariant();

}  // namespace zorv
