// harvo: copies web sites to the local disk for off-line reading.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "bookmarks_command.h"
#include "harvo.h"
#include "mirror_command.h"
#include "multi_command.h"
#include "summary.h"
#include "text_escape.h"

int main(int argc, char** argv) {
  CLI::App app("harvo " HARVO_VERSION ": copies web sites to the local disk for off-line reading",
               "harvo");
  app.set_version_flag("--version", "harvo " HARVO_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 all copied; 1 some file or a start page failed; 2 bad arguments or a "
      "job that could not start; 3 a limit (--max-files, --max-size, --max-time) ended the "
      "copy; 128+N stopped by signal N (130 for Ctrl-C).\n");

  MirrorOptions mirror;
  BookmarksOptions bookmarks;
  MultiOptions multi;
  CLI::App* mirrorCommand = AddMirrorCommand(&app, &mirror);
  CLI::App* bookmarksCommand = AddBookmarksCommand(&app, &bookmarks);
  CLI::App* multiCommand = AddMultiCommand(&app, &multi);

  // A first word that names no command would otherwise be reported as a missing command.
  std::string first = argc > 1 ? argv[1] : "";
  bool known = false;
  for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    known = known || command->get_name() == first;
  }
  if (!first.empty() && first[0] != '-' && !known) {
    std::fprintf(stderr, "harvo: unknown command \"%s\" (mirror, bookmarks or multi)\n",
                 EscapeForTerminal(argv[1]).c_str());
    std::fprintf(stderr, "Run with --help for more information.\n");
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version end with status 0; every real parse error with the usage status.
    int status = app.exit(error);
    return status == 0 ? 0 : kExitUsage;
  }

  try {
    if (mirrorCommand->parsed()) return RunMirror(mirror);
    if (bookmarksCommand->parsed()) return RunBookmarks(bookmarks);
    if (multiCommand->parsed()) return RunMulti(multi);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "harvo: %s\n", error.what());
    return kExitUsage;
  }
  return kExitUsage;
}
