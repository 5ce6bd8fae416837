// Local file names for URLs with a query ("list.php?page=2"), so that each query's answer is
// saved as a file of its own and links can be rewritten to it.
#ifndef HARVO_SITE_QUERY_NAME_H
#define HARVO_SITE_QUERY_NAME_H

#include <cstddef>
#include <string>
#include <string_view>

// The longest name QueryFileName makes, in bytes: well below what file systems take (255).
inline constexpr size_t kMaxQueryFileName = 160;

// The file name for name (the last component of the URL path, "" for a folder) with query
// (the text after "?"): name, "@", the query with every byte outside letters, digits and
// "-_.=,+~&" made "_" and no ".." left, then "~" and a hash of the query when anything was
// changed or cut to keep the name within kMaxQueryFileName, then the ending: ".html" when html
// is set, else the extension of name, unless the name ends so already. A folder's name is
// "index". The result holds no separator, no control byte and no "..", whatever the query.
std::string QueryFileName(std::string_view name, std::string_view query, bool html);

// True when a path's last component names a page by its extension: none, or one of the
// extensions of pages and page scripts (.html, .htm, .php, .asp, .jsp, .cgi, ...).
bool NamesPage(std::string_view name);

// The query of a link value as it was written in a page: "&amp;" stands for "&".
std::string DecodeQuery(std::string_view query);

#endif  // HARVO_SITE_QUERY_NAME_H
