#include "bookmarks_command.h"

#include "text_escape.h"

CLI::App* AddBookmarksCommand(CLI::App* app, BookmarksOptions* options) {
  CLI::App* command = app->add_subcommand(
      "bookmarks", "List the browsers' bookmarks (every store found, unless some are chosen)");
  AddStoreOptions(command, &options->stores);
  command->add_flag("--json", options->json, "Print a JSON array for scripts");
  return command;
}

void PrintLinkList(FILE* out, const HvrLinkArray* links) {
  size_t count = links == nullptr ? 0 : links->size();
  int width = static_cast<int>(std::to_string(count).size());
  for (size_t i = 0; i < count; ++i) {
    const HvrLinkInfo* link = (*links)[i];
    std::fprintf(out, "%*zu. %s | %s | %s\n", width, i + 1, EscapeForTerminal(link->Folder).c_str(),
                 EscapeForTerminal(link->Job.SiteName).c_str(),
                 EscapeForTerminal(link->Job.Url).c_str());
  }
}

void PrintLinkJson(FILE* out, const HvrLinkArray* links) {
  size_t count = links == nullptr ? 0 : links->size();
  std::fputs("[", out);
  for (size_t i = 0; i < count; ++i) {
    const HvrLinkInfo* link = (*links)[i];
    std::fprintf(out, "%s\n  {\"number\": %zu, \"folder\": %s, \"title\": %s, \"url\": %s}",
                 i == 0 ? "" : ",", i + 1, JsonQuote(link->Folder).c_str(),
                 JsonQuote(link->Job.SiteName).c_str(), JsonQuote(link->Job.Url).c_str());
  }
  std::fputs(count == 0 ? "]\n" : "\n]\n", out);
}

int RunBookmarks(const BookmarksOptions& options) {
  LinkArrayHolder links;
  ReadStores(options.stores, &links);
  if (options.json) {
    PrintLinkJson(stdout, links.get());
  } else if (links.size() == 0) {
    std::fprintf(stdout, "No bookmarks found.\n");
  } else {
    PrintLinkList(stdout, links.get());
  }
  std::fflush(stdout);
  return 0;
}
