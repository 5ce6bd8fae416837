#include "selection.h"

#include <cctype>
#include <charconv>
#include <set>
#include <string_view>

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// A whole decimal number of at least 1; digits only, so "+3" and "3x" are refused.
bool ParseNumber(std::string_view text, size_t* value) {
  text = Trim(text);
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size() && *value >= 1;
}

}  // namespace

bool ParseSelection(const std::string& text, size_t count, std::vector<size_t>* chosen,
                    std::string* error) {
  std::set<size_t> picked;
  std::string_view rest = text;
  if (Trim(rest).empty()) {
    *error = "the selection is empty";
    return false;
  }
  while (true) {
    size_t comma = rest.find(',');
    std::string_view item = Trim(rest.substr(0, comma));
    size_t dash = item.find('-');
    size_t first = 0;
    size_t last = 0;
    bool ok = dash == std::string_view::npos ? ParseNumber(item, &first) && (last = first, true)
                                             : ParseNumber(item.substr(0, dash), &first) &&
                                                   ParseNumber(item.substr(dash + 1), &last);
    if (!ok) {
      *error = "\"" + std::string(item) +
               "\" is not a number or a range such as 4-7 (numbers start at 1)";
      return false;
    }
    if (first > last) {
      *error = "the range \"" + std::string(item) + "\" runs backwards";
      return false;
    }
    if (last > count) {
      *error =
          "entry " + std::to_string(last) + " does not exist (there " +
          (count == 1 ? std::string("is 1 entry") : "are " + std::to_string(count) + " entries") +
          ")";
      return false;
    }
    for (size_t n = first; n <= last; ++n) picked.insert(n - 1);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  chosen->assign(picked.begin(), picked.end());
  return true;
}
