#pragma once
// Helpers the identify, buffer and ata commands share.

#include <string>

#include "cli/session.h"

namespace zorv::cli {

// The context after enumeration with the enumeration's own pane text kept
// off stdout (the window shows it once at start, not with every command).
// Without a selected drive it prints that text on stderr, sets exit status 1
// and returns nullptr.
Context* selectedDriveContext(Session& session);

// A register or address text as an edit holds it: at most `width`
// characters. False (usage error reported) when it is longer.
bool checkEditText(Session& session, const std::string& option, const std::string& text, size_t width);

}  // namespace zorv::cli
