#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

#include "cli/session.h"

int main(int argc, char** argv) {
#ifdef _WIN32
  // The texts carry their own "\r\n"; a text-mode stream would make each "\r\r\n".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  return zorv::cli::runZorvctl(argc, argv, std::cout, std::cerr);
}
