#include "platform/registry.h"

#include <iconv.h>

#include "platform/codepage.h"
#include "platform/textfile.h"
#include "platform/wineprefix.h"

namespace hvreg {
namespace {

constexpr std::string_view kFileHeader = "WINE REGISTRY Version 2";
// Wine writes long binary values across lines; no line that matters here comes near this, so a
// longer one (a damaged file) is passed over instead of being held in memory.
constexpr size_t kMaxLineChars = 64 * 1024;

bool IsOctal(char c) {
  return c >= '0' && c <= '7';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One UTF-8 sequence at text[*i] (raw bytes above 0x7F in the file); U+FFFD when malformed.
char32_t DecodeUtf8(std::string_view text, size_t* i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(*i);
  size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || *i + length > text.size()) {
    ++*i;
    return 0xFFFD;
  }
  char32_t cp = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(*i + k) & 0xC0) != 0x80) {
      ++*i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (byte(*i + k) & 0x3F);
  }
  *i += length;
  return cp;
}

// Reads Wine's escaped string from text[i] up to the unescaped close character. Escapes give
// UTF-16 code units (surrogates are paired later). Returns the position after close, or npos
// when the string is not closed.
size_t Unescape(std::string_view text, size_t i, char close, std::u32string* out) {
  while (i < text.size()) {
    char c = text[i];
    if (c == close) return i + 1;
    if (static_cast<unsigned char>(c) >= 0x80) {
      out->push_back(DecodeUtf8(text, &i));
      continue;
    }
    ++i;
    if (c != '\\') {
      out->push_back(static_cast<unsigned char>(c));
      continue;
    }
    if (i >= text.size()) return std::string_view::npos;
    char e = text[i++];
    char32_t unit = static_cast<unsigned char>(e);
    switch (e) {
      case 'n': unit = '\n'; break;
      case 'r': unit = '\r'; break;
      case 't': unit = '\t'; break;
      case 'a': unit = '\a'; break;
      case 'b': unit = '\b'; break;
      case 'e': unit = 0x1B; break;
      case 'f': unit = '\f'; break;
      case 'v': unit = '\v'; break;
      case 'x': {
        char32_t value = 0;
        int digits = 0;
        for (; digits < 4 && i < text.size() && HexValue(text[i]) >= 0; ++digits, ++i)
          value = value * 16 + static_cast<char32_t>(HexValue(text[i]));
        if (digits > 0) unit = value;
        break;
      }
      default:
        if (IsOctal(e)) {
          unit = static_cast<char32_t>(e - '0');
          for (int digits = 1; digits < 3 && i < text.size() && IsOctal(text[i]); ++digits, ++i)
            unit = unit * 8 + static_cast<char32_t>(text[i] - '0');
        }
        break;
    }
    out->push_back(unit);
  }
  return std::string_view::npos;
}

// Joins surrogate pairs; a lone surrogate becomes U+FFFD.
std::u32string JoinSurrogates(const std::u32string& units) {
  std::u32string out;
  for (size_t k = 0; k < units.size(); ++k) {
    char32_t u = units[k];
    bool high = u >= 0xD800 && u <= 0xDBFF;
    if (high && k + 1 < units.size() && units[k + 1] >= 0xDC00 && units[k + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((u - 0xD800) << 10) + (units[k + 1] - 0xDC00));
      ++k;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(u);
    }
  }
  return out;
}

// Encodes text in the system code page as the ANSI registry functions do; a character the code
// page cannot hold becomes "?". Without a converter for the code page only ASCII survives.
std::string ToAnsi(const std::u32string& units) {
  std::u32string text = JoinSurrogates(units);
  std::string out;
  out.reserve(text.size());
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  for (char32_t cp : text) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("CP932", "UTF-32LE");
    char in[4] = {static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                  static_cast<char>((cp >> 16) & 0xFF), static_cast<char>((cp >> 24) & 0xFF)};
    char converted[8];
    char* inPtr = in;
    char* outPtr = converted;
    size_t inLeft = sizeof(in), outLeft = sizeof(converted);
    bool ok = cd != reinterpret_cast<iconv_t>(-1) &&
              iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
    if (ok) {
      out.append(converted, static_cast<size_t>(outPtr - converted));
    } else {
      out.push_back('?');
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return out;
}

// The key name of a "[...] timestamp" line; false when the name is not closed.
bool KeyName(std::string_view line, std::string* name) {
  std::u32string units;
  if (Unescape(line, 1, ']', &units) == std::string_view::npos) return false;
  *name = ToAnsi(units);
  return true;
}

std::string RegistryFile(RegRoot root) {
  std::string prefix = hvwine::WinePrefix();
  if (prefix.empty()) return prefix;
  return prefix + (root == RegRoot::CurrentUser ? "user.reg" : "system.reg");
}

}  // namespace

bool RegKey::Open(RegRoot root, std::string_view subKey) {
  Close();
  std::string path = RegistryFile(root);
  hvtext::TextFile file;
  if (path.empty() || !file.Open(path)) return false;
  std::string line;
  if (!file.ReadWholeLine(&line, kMaxLineChars) || !line.starts_with(kFileHeader)) return false;
  std::string below = std::string(subKey) + "\\";
  bool exists = subKey.empty();
  bool inKey = false;
  while (file.ReadWholeLine(&line, kMaxLineChars + 1)) {
    if (line.size() > kMaxLineChars) continue;
    if (!line.empty() && line[0] == '[') {
      if (inKey) break;  // the key's values end where the next key begins
      std::string name;
      if (!KeyName(line, &name)) continue;
      inKey = cp932::EqualsNoCase(name, subKey);
      exists = exists || inKey || cp932::StartsWithNoCase(name, below);
      continue;
    }
    if (inKey && !line.empty() && (line[0] == '"' || line[0] == '@')) ParseValueLine(line);
  }
  open_ = exists || inKey;
  if (!open_) values_.clear();
  return open_;
}

void RegKey::Close() {
  open_ = false;
  values_.clear();
}

bool RegKey::ParseValueLine(std::string_view line) {
  Value value;
  size_t i = 1;
  if (line[0] == '"') {
    std::u32string name;
    i = Unescape(line, 1, '"', &name);
    if (i == std::string_view::npos) return false;
    value.name = ToAnsi(name);
  }
  if (i >= line.size() || line[i] != '=') return false;
  std::string_view data = line.substr(i + 1);
  size_t quote = std::string_view::npos;
  if (data.starts_with("\"")) {
    quote = 0;
    value.isString = true;
  } else if (data.starts_with("str(")) {
    // str(2) is REG_EXPAND_SZ; other types written this way are not strings to a reader.
    size_t close = data.find("):");
    std::string_view type = data.substr(4, close == std::string_view::npos ? 0 : close - 4);
    value.isString = type == "1" || type == "2";
    if (close != std::string_view::npos) quote = close + 2;
  }
  if (value.isString) {
    std::u32string text;
    if (quote >= data.size() || data[quote] != '"' ||
        Unescape(data, quote + 1, '"', &text) == std::string_view::npos)
      return false;
    value.data = ToAnsi(text);
  }
  values_.push_back(std::move(value));
  return true;
}

bool RegKey::QueryString(std::string_view name, size_t bufferSize, std::string* value) const {
  if (!open_) return false;
  for (const Value& v : values_) {
    if (!cp932::EqualsNoCase(v.name, name)) continue;
    if (!v.isString || v.data.size() + 1 > bufferSize) return false;
    *value = v.data.substr(0, v.data.find('\0'));
    return true;
  }
  return false;
}

}  // namespace hvreg
