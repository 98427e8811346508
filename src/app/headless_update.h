#pragma once
// The downloader without a window: `zorv [--sim DIR] [--drive N] --update`
// runs what opening the downloader and one press of "FW Update" do, and
// prints the texts instead of showing them (the message box on stdout,
// message boxes on stderr as "box(<icon>): <text>"). main() looks for
// --update before it creates anything of Qt, so a one-file updater also
// works on a machine without a display.
//
// Exit status: 0 the drive was updated or already runs the package's
// firmware or a newer one ("FW is the Latest"), 1 the update failed (or found
// no drive), 2 a usage error or a backend that cannot be opened.

#include <iosfwd>

namespace zorv::app {

bool wantsHeadlessUpdate(int argc, const char* const* argv);
int runHeadlessUpdate(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace zorv::app
