// "harvo mirror URL": one site into a local folder.
#ifndef HARVO_TOOLS_MIRROR_COMMAND_H
#define HARVO_TOOLS_MIRROR_COMMAND_H

#include <CLI/CLI.hpp>

#include <string>

#include "job_options.h"

struct MirrorOptions {
  std::string url;
  JobOptions job;
};

// Adds the sub-command and its flags; options must outlive parsing.
CLI::App* AddMirrorCommand(CLI::App* app, MirrorOptions* options);

// Runs the copy; returns the exit status.
int RunMirror(const MirrorOptions& options);

#endif  // HARVO_TOOLS_MIRROR_COMMAND_H
