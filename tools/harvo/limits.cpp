#include "limits.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Reads a decimal number ("12", "1.5") at text[*pos]; false when there is none.
bool ReadNumber(const std::string& text, size_t* pos, double* value) {
  size_t start = *pos;
  bool digits = false, dot = false;
  while (*pos < text.size()) {
    char c = text[*pos];
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digits = true;
    } else if (c == '.' && !dot) {
      dot = true;
    } else {
      break;
    }
    ++*pos;
  }
  if (!digits) return false;
  *value = std::strtod(text.substr(start, *pos - start).c_str(), nullptr);
  return true;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool ParseSizeKiB(const std::string& input, int32_t* kib) {
  const std::string text = Lower(input);
  size_t pos = 0;
  double value = 0;
  if (!ReadNumber(text, &pos, &value)) return false;
  std::string unit = text.substr(pos);
  double bytes = 0;
  if (unit.empty() || unit == "b") {
    bytes = value;
  } else {
    static const char* kUnits = "kmgt";
    const char* at = unit.size() <= 3 ? std::strchr(kUnits, unit[0]) : nullptr;
    std::string rest = unit.substr(1);
    if (at == nullptr || !(rest.empty() || rest == "b" || rest == "ib")) {
      return false;
    }
    bytes = value * std::pow(1024.0, static_cast<double>(at - kUnits + 1));
  }
  const double rounded = std::ceil(bytes / 1024.0);
  if (!(rounded >= 1) || rounded > std::numeric_limits<int32_t>::max()) return false;
  *kib = static_cast<int32_t>(rounded);
  return true;
}

bool ParseDurationMs(const std::string& input, int64_t* ms) {
  const std::string text = Lower(input);
  size_t pos = 0;
  double total = 0;
  bool any = false;
  while (pos < text.size()) {
    double value = 0;
    if (!ReadNumber(text, &pos, &value)) return false;
    size_t unitStart = pos;
    while (pos < text.size() && std::isalpha(static_cast<unsigned char>(text[pos]))) ++pos;
    const std::string unit = text.substr(unitStart, pos - unitStart);
    double scale = 0;
    if (unit.empty() || unit == "s") {
      // A bare number is seconds, but only as the whole text or its last part ("1m30").
      if (unit.empty() && any && pos < text.size()) return false;
      scale = 1000;
    } else if (unit == "ms") {
      scale = 1;
    } else if (unit == "m" || unit == "min") {
      scale = 60e3;
    } else if (unit == "h") {
      scale = 3600e3;
    } else if (unit == "d") {
      scale = 86400e3;
    } else {
      return false;
    }
    total += value * scale;
    any = true;
  }
  if (!any || !(total >= 1) || total > 1e15) return false;
  *ms = static_cast<int64_t>(std::llround(total));
  return true;
}
