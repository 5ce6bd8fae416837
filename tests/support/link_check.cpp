#include "support/link_check.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The value of a CSS url(...) or string at text[pos], which follows "url(" or "@import".
std::string CssValue(std::string_view text, size_t* pos) {
  while (*pos < text.size() && IsSpace(text[*pos])) ++*pos;
  if (*pos >= text.size()) return {};
  char quote = text[*pos];
  if (quote == '"' || quote == '\'') {
    size_t end = text.find(quote, *pos + 1);
    if (end == std::string_view::npos) end = text.size();
    std::string value(text.substr(*pos + 1, end - *pos - 1));
    *pos = end;
    return value;
  }
  size_t end = text.find(')', *pos);
  if (end == std::string_view::npos) end = text.size();
  std::string value(Trim(text.substr(*pos, end - *pos)));
  *pos = end;
  return value;
}

void AddSrcset(std::string_view value, std::vector<std::string>* out) {
  // Candidates are separated by commas; each is a URL and an optional descriptor.
  size_t pos = 0;
  while (pos < value.size()) {
    while (pos < value.size() && (IsSpace(value[pos]) || value[pos] == ',')) ++pos;
    size_t end = pos;
    while (end < value.size() && !IsSpace(value[end])) ++end;
    std::string_view url = value.substr(pos, end - pos);
    // A URL may end with the comma that separates it from the next candidate.
    bool commaEnded = !url.empty() && url.back() == ',';
    if (commaEnded) url.remove_suffix(1);
    if (!url.empty()) out->emplace_back(url);
    pos = end;
    if (!commaEnded) {
      while (pos < value.size() && value[pos] != ',') ++pos;
    }
  }
}

// The attributes of a tag: name (lower case) and value, entities other than &amp; left alone.
std::vector<std::pair<std::string, std::string>> Attributes(std::string_view tag) {
  std::vector<std::pair<std::string, std::string>> attributes;
  size_t pos = 0;
  while (pos < tag.size() && !IsSpace(tag[pos])) ++pos;  // the tag's name
  while (pos < tag.size()) {
    while (pos < tag.size() && (IsSpace(tag[pos]) || tag[pos] == '/')) ++pos;
    size_t nameStart = pos;
    while (pos < tag.size() && !IsSpace(tag[pos]) && tag[pos] != '=' && tag[pos] != '/') ++pos;
    std::string name = Lower(tag.substr(nameStart, pos - nameStart));
    while (pos < tag.size() && IsSpace(tag[pos])) ++pos;
    std::string value;
    if (pos < tag.size() && tag[pos] == '=') {
      ++pos;
      while (pos < tag.size() && IsSpace(tag[pos])) ++pos;
      if (pos < tag.size() && (tag[pos] == '"' || tag[pos] == '\'')) {
        char quote = tag[pos++];
        size_t end = tag.find(quote, pos);
        if (end == std::string_view::npos) end = tag.size();
        value = tag.substr(pos, end - pos);
        pos = end + 1;
      } else {
        size_t start = pos;
        while (pos < tag.size() && !IsSpace(tag[pos])) ++pos;
        value = tag.substr(start, pos - start);
      }
    }
    for (size_t at; (at = value.find("&amp;")) != std::string::npos;) value.replace(at, 5, "&");
    if (!name.empty()) attributes.emplace_back(std::move(name), std::move(value));
  }
  return attributes;
}

bool IsLocal(std::string_view reference) {
  reference = Trim(reference);
  if (reference.empty() || reference.front() == '#') return false;
  if (reference.substr(0, 2) == "//") return false;
  // A scheme: letters, digits, "+", "-", "." before the first ":", ahead of any "/", "?", "#".
  size_t colon = reference.find(':');
  size_t stop = reference.find_first_of("/?#");
  if (colon != std::string_view::npos && colon > 0 &&
      (stop == std::string_view::npos || colon < stop)) {
    bool scheme = std::isalpha(static_cast<unsigned char>(reference[0])) != 0;
    for (size_t i = 0; i < colon && scheme; ++i) {
      char c = reference[i];
      scheme = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
    }
    if (scheme) return false;
  }
  return true;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<std::string> StylesheetReferences(std::string_view css) {
  std::vector<std::string> references;
  const std::string lower = Lower(css);
  size_t pos = 0;
  while (pos < lower.size()) {
    size_t comment = lower.find("/*", pos);
    size_t url = lower.find("url(", pos);
    size_t import = lower.find("@import", pos);
    size_t next = std::min({comment, url, import});
    if (next == std::string::npos) break;
    if (next == comment) {
      size_t end = lower.find("*/", comment + 2);
      pos = end == std::string::npos ? lower.size() : end + 2;
    } else if (next == url) {
      pos = url + 4;
      references.push_back(CssValue(css, &pos));
    } else {
      pos = import + 7;
      while (pos < lower.size() && IsSpace(lower[pos])) ++pos;
      // "@import url(x)" is found as a url( on the next turn.
      if (lower.compare(pos, 4, "url(") != 0) references.push_back(CssValue(css, &pos));
    }
  }
  return references;
}

std::vector<std::string> PageReferences(std::string_view html) {
  static const char* const kLinkAttributes[] = {"href",   "src",  "background", "poster", "data",
                                                "action", "code", "longdesc",   "lowsrc"};
  std::vector<std::string> references;
  const std::string lower = Lower(html);
  size_t pos = 0;
  while ((pos = lower.find('<', pos)) != std::string::npos) {
    if (lower.compare(pos, 4, "<!--") == 0) {
      size_t end = lower.find("-->", pos + 4);
      pos = end == std::string::npos ? lower.size() : end + 3;
      continue;
    }
    // The end of the tag: the first ">" outside quotes.
    size_t end = pos + 1;
    char quote = 0;
    for (; end < lower.size(); ++end) {
      char c = lower[end];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    std::string_view tag = html.substr(pos + 1, end - pos - 1);
    std::string name = Lower(tag.substr(0, tag.find_first_of(" \t\r\n/>")));
    auto attributes = Attributes(tag);
    bool refresh = false;
    for (const auto& [attribute, value] : attributes) {
      if (attribute == "http-equiv" && Lower(Trim(value)) == "refresh") refresh = true;
    }
    for (const auto& [attribute, value] : attributes) {
      bool named = false;
      for (const char* link : kLinkAttributes) named = named || attribute == link;
      if (named) references.push_back(value);
      if (attribute == "srcset") AddSrcset(value, &references);
      if (attribute == "style") {
        for (std::string& r : StylesheetReferences(value)) references.push_back(std::move(r));
      }
      if (refresh && attribute == "content") {
        std::string lowerValue = Lower(value);
        size_t at = lowerValue.find("url=");
        if (at != std::string::npos) {
          std::string_view target = Trim(std::string_view(value).substr(at + 4));
          if (!target.empty() && (target.front() == '\'' || target.front() == '"')) {
            target = target.substr(1, target.find(target.front(), 1) - 1);
          }
          references.emplace_back(target);
        }
      }
    }
    pos = end;
    if (name == "style" || name == "script") {
      size_t close = lower.find("</" + name, pos);
      if (close == std::string::npos) close = lower.size();
      if (name == "style") {
        for (std::string& r : StylesheetReferences(html.substr(pos + 1, close - pos - 1))) {
          references.push_back(std::move(r));
        }
      }
      pos = close;
    }
  }
  return references;
}

std::vector<BrokenReference> CheckSavedCopy(const std::string& rootText, size_t* checked) {
  std::vector<BrokenReference> broken;
  size_t count = 0;
  const fs::path root = fs::weakly_canonical(rootText);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string extension = Lower(entry.path().extension().string());
    const bool page = extension == ".html" || extension == ".htm";
    if (!page && extension != ".css") continue;
    const std::string text = ReadFileText(entry.path().string());
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    for (const std::string& raw : page ? PageReferences(text) : StylesheetReferences(text)) {
      if (!IsLocal(raw)) continue;
      ++count;
      std::string_view reference = Trim(raw);
      if (reference.front() == '/') {
        broken.push_back({relative, raw, "root-relative"});
        continue;
      }
      std::string_view path = reference.substr(0, reference.find_first_of("?#"));
      if (path.empty()) continue;  // "?x" names the page itself
      fs::path target = (entry.path().parent_path() / PercentDecode(path)).lexically_normal();
      const std::string targetText = target.generic_string();
      const std::string rootPrefix = root.generic_string() + "/";
      if (targetText.compare(0, rootPrefix.size(), rootPrefix) != 0) {
        broken.push_back({relative, raw, "outside the copy"});
      } else if (!fs::is_regular_file(target)) {
        broken.push_back({relative, raw, "no such file"});
      }
    }
  }
  if (checked != nullptr) *checked = count;
  return broken;
}

std::string DescribeBroken(const std::vector<BrokenReference>& broken) {
  std::string text;
  for (const BrokenReference& b : broken) {
    text += "  " + b.page + ": \"" + b.reference + "\" (" + b.why + ")\n";
  }
  return text;
}
