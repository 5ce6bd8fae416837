// Opens a saved page in headless Chromium from file:// with the network unreachable and lists
// every resource the page tried to load and could not: a file:// resource that is no file of
// the disk, or any request that would need the network.
//
// How: Chromium runs with a proxy on a closed loopback port (every request to the network fails
// and none leaves the machine) and with verbose logging, which names each file the page's
// loader starts ("FileURLLoader::Start: file://...") and each network request
// ("NotifyBeforeURLRequest: URL"). The browser's own service requests to its vendor's hosts are
// left out of the list.
#ifndef HARVO_TESTS_SUPPORT_BROWSER_CHECK_H
#define HARVO_TESTS_SUPPORT_BROWSER_CHECK_H

#include <string>
#include <vector>

struct BrowserResult {
  bool ran = false;                 // the browser ran and ended in time
  std::string error;                // why not, when it did not
  std::vector<std::string> loaded;  // file:// resources loaded, the page itself included
  std::vector<std::string> failed;  // "missing: PATH" or "network: URL"
};

// The browser's path, or empty when none is installed.
std::string FindChromium();

// Loads page (a local file path) and waits for its load event.
BrowserResult BrowsePage(const std::string& page);

// Lines of a browser log into a result (exposed for the test of the parsing).
void ParseBrowserLog(const std::string& log, BrowserResult* result);

#endif  // HARVO_TESTS_SUPPORT_BROWSER_CHECK_H
