#include "site/query_name.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/codepage.h"

namespace {

bool KeptInName(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  for (char k : std::string_view("-_.=,+~&")) {
    if (c == static_cast<unsigned char>(k)) return true;
  }
  return false;
}

std::string HashText(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char buffer[20];
  std::snprintf(buffer, sizeof(buffer), "%08x", static_cast<unsigned>(hash ^ (hash >> 32)));
  return buffer;
}

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() &&
         cp932::EqualsNoCase(text.substr(text.size() - end.size()), end);
}

}  // namespace

std::string QueryFileName(std::string_view name, std::string_view query, bool html) {
  std::string base = name.empty() ? std::string("index") : std::string(name);
  base += '@';
  std::string mapped;
  bool changed = false;
  for (char c : query) {
    char out = KeptInName(static_cast<unsigned char>(c)) ? c : '_';
    // No ".." may come out of a query.
    if (out == '.' && !mapped.empty() && mapped.back() == '.') out = '_';
    changed |= out != c;
    mapped += out;
  }
  // The name ends as its kind of file does, so that a browser opening the copy from the disk
  // takes it for what it is: a page as .html, any other file with its own extension.
  const size_t dot = name.rfind('.');
  const std::string extension =
      html ? ".html"
           : (dot != std::string_view::npos && dot > 0 ? std::string(name.substr(dot)) : "");
  auto endingFor = [&](const std::string& text) -> std::string {
    if (EndsWithNoCase(text, extension) || (html && EndsWithNoCase(text, ".htm"))) return "";
    return extension;
  };
  const std::string hash = "~" + HashText(query);
  if (base.size() + mapped.size() + endingFor(base + mapped).size() > kMaxQueryFileName) {
    const size_t room = kMaxQueryFileName -
                        std::min(kMaxQueryFileName, base.size() + hash.size() + extension.size());
    mapped.resize(std::min(mapped.size(), room));
    changed = true;
  }
  std::string result = base + mapped;
  if (changed) result += hash;
  return result + endingFor(result);
}

bool NamesPage(std::string_view name) {
  const size_t slash = name.rfind('/');
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return true;
  const std::string_view extension = name.substr(dot);
  for (const char* page :
       {".html", ".htm", ".shtml", ".xhtml", ".php", ".php3", ".php4", ".php5", ".asp", ".aspx",
        ".jsp", ".jspx", ".cgi", ".pl", ".py", ".cfm", ".do", ".action"}) {
    if (cp932::EqualsNoCase(extension, page)) return true;
  }
  return false;
}

std::string DecodeQuery(std::string_view query) {
  std::string decoded;
  for (size_t i = 0; i < query.size(); ++i) {
    decoded += query[i];
    if (query[i] == '&' && query.substr(i, 5) == "&amp;") i += 4;
  }
  return decoded;
}
