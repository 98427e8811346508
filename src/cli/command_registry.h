#pragma once
// zorvctl command groups register themselves here: each command file defines
//   static zorv::cli::CommandRegistrar reg{"name", &installFunction};
// and installFunction adds its subcommands to the CLI11 app. main.cpp knows
// none of them.

#include <CLI/CLI.hpp>

#include <functional>
#include <vector>

namespace zorv::cli {

class Session;

using CommandInstaller = void (*)(CLI::App& app, Session& session);

struct RegisteredCommand {
  const char* name;
  CommandInstaller install;
};

std::vector<RegisteredCommand>& commandRegistry();

struct CommandRegistrar {
  CommandRegistrar(const char* name, CommandInstaller install) { commandRegistry().push_back({name, install}); }
};

}  // namespace zorv::cli
