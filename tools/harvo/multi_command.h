// "harvo multi": the chosen bookmarks copied one site after the other in one multi-site run.
#ifndef HARVO_TOOLS_MULTI_COMMAND_H
#define HARVO_TOOLS_MULTI_COMMAND_H

#include <CLI/CLI.hpp>

#include <string>

#include "job_options.h"
#include "store_options.h"

struct MultiOptions {
  StoreOptions stores;
  std::string select;
  bool all = false;
  JobOptions job;
};

CLI::App* AddMultiCommand(CLI::App* app, MultiOptions* options);

// Runs the copies; returns the exit status.
int RunMulti(const MultiOptions& options);

// The log file of the entry numbered number: "dir/run.log" gives "dir/run-3.log".
std::string NumberedLogPath(const std::string& path, size_t number);

#endif  // HARVO_TOOLS_MULTI_COMMAND_H
