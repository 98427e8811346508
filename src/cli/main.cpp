#include <iostream>

#include "cli/session.h"

int main(int argc, char** argv) { return zorv::cli::runZorvctl(argc, argv, std::cout, std::cerr); }
