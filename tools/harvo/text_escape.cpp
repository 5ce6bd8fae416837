#include "text_escape.h"

#include <cstdint>
#include <cstdio>

namespace {

// The code point of a valid sequence of length len at the start of text.
uint32_t DecodeUtf8(std::string_view text, size_t len) {
  auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(text[i])); };
  switch (len) {
    case 1: return byte(0);
    case 2: return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    case 3: return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    default:
      return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
             (byte(3) & 0x3F);
  }
}

bool IsControl(uint32_t code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// The embeddings, overrides and isolates of bidirectional text: invisible, they make a terminal
// show the rest of a line in another order ("page<U+202E>lmth.exe" reads as "pageexe.html").
bool IsBidiControl(uint32_t code) {
  return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// Wide (two-column) ranges of the East Asian Width property that matter for titles and paths:
// Hangul Jamo, CJK symbols to Yi, Hangul syllables, CJK compatibility, fullwidth forms, and the
// supplementary ideographic planes.
bool IsWide(uint32_t code) {
  return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
         (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
         (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
         (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x1F300 && code <= 0x1F64F) ||
         (code >= 0x20000 && code <= 0x3FFFD);
}

void AppendHex(std::string& out, const char* format, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, format, value);
  out += buf;
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text) {
  if (text.empty()) return 0;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char first = byte(0);
  if (first < 0x80) return 1;
  size_t len = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    len = 2;
  } else if (first >= 0xE0 && first <= 0xEF) {
    len = 3;
    if (first == 0xE0) low = 0xA0;   // overlong
    if (first == 0xED) high = 0x9F;  // surrogates
  } else if (first >= 0xF0 && first <= 0xF4) {
    len = 4;
    if (first == 0xF0) low = 0x90;   // overlong
    if (first == 0xF4) high = 0x8F;  // beyond U+10FFFF
  } else {
    return 0;
  }
  if (text.size() < len) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < len; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return len;
}

std::string EscapeForTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t len = Utf8SequenceLength(text.substr(i));
    unsigned char first = static_cast<unsigned char>(text[i]);
    bool control = false;
    if (len == 0) {
      control = first >= 0x80 && first <= 0x9F;
    } else {
      const uint32_t code = DecodeUtf8(text.substr(i), len);
      control = IsControl(code) || IsBidiControl(code);
    }
    size_t take = len == 0 ? 1 : len;
    if (control) {
      for (size_t k = 0; k < take; ++k) {
        AppendHex(out, "\\x%02X", static_cast<unsigned char>(text[i + k]));
      }
    } else {
      out.append(text.substr(i, take));
    }
    i += take;
  }
  return out;
}

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  size_t i = 0;
  while (i < text.size()) {
    size_t len = Utf8SequenceLength(text.substr(i));
    if (len == 0) {
      AppendHex(out, "\\u%04x", static_cast<unsigned char>(text[i]));
      ++i;
      continue;
    }
    uint32_t code = DecodeUtf8(text.substr(i), len);
    if (code == '"') {
      out += "\\\"";
    } else if (code == '\\') {
      out += "\\\\";
    } else if (code == '\n') {
      out += "\\n";
    } else if (code == '\r') {
      out += "\\r";
    } else if (code == '\t') {
      out += "\\t";
    } else if (IsControl(code) || IsBidiControl(code)) {
      AppendHex(out, "\\u%04x", code);
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out + "\"";
}

size_t DisplayColumns(std::string_view text) {
  size_t columns = 0;
  size_t i = 0;
  while (i < text.size()) {
    size_t len = Utf8SequenceLength(text.substr(i));
    if (len == 0) {
      ++columns;
      ++i;
      continue;
    }
    columns += IsWide(DecodeUtf8(text.substr(i), len)) ? 2 : 1;
    i += len;
  }
  return columns;
}

std::string_view FitColumns(std::string_view text, size_t columns) {
  size_t used = 0;
  size_t i = 0;
  while (i < text.size()) {
    size_t len = Utf8SequenceLength(text.substr(i));
    size_t width = 1;
    if (len == 0) {
      len = 1;
    } else if (IsWide(DecodeUtf8(text.substr(i), len))) {
      width = 2;
    }
    if (used + width > columns) break;
    used += width;
    i += len;
  }
  return text.substr(0, i);
}
