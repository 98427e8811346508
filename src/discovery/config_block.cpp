#include "discovery/config_block.h"

namespace zorv {

namespace {

struct ConfigBlock {
  char brandCodeName[8];
  uint8_t ucBrandFirst;
  uint8_t ucBrandEnd;
  char rmaCodeName[10];
  char rmaVariant;
};

// Written character by character: the code names must exist in the program
// exactly once, here, and never as a string constant elsewhere. volatile keeps
// the compiler from folding the bytes into the readers (a locked copy of the
// executable differs only here); used keeps the linker from dropping them.
[[gnu::used]] volatile ConfigBlock gConfigBlock = {
    {'Z', 'E', 'P', 'H', 'A', 'R', 'I', 'N'},
    2,
    3,
    {'F', 'A', 'L', 'L', 'O', 'W', 'M', 'E', 'R', 'E'},
    'A',
};

}  // namespace

uint8_t configBrandFirst() { return gConfigBlock.ucBrandFirst; }
uint8_t configBrandEnd() { return gConfigBlock.ucBrandEnd; }
char configRmaVariant() { return gConfigBlock.rmaVariant; }

}  // namespace zorv
