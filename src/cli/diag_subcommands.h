#pragma once
// Subcommands of "zorvctl diag" that are not rows of the diagnostics
// console: "trigger", "clean-smart" and "erase-stats"
// (diag_maintenance_commands.cpp).

#include <CLI/CLI.hpp>

namespace zorv::cli {

class Session;

void installDiagSubcommands(CLI::App* diag, Session& session);

}  // namespace zorv::cli
