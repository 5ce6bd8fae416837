#include "site/robots.h"

#include <cctype>

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsUnreserved(unsigned char c) {
  return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

// One spelling for the paths and patterns that a server takes as the same: a percent-escape of
// an unreserved character becomes the character, other escapes get upper-case digits, and bytes
// outside ASCII are escaped.
std::string Normalize(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      const auto value =
          static_cast<unsigned char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      if (IsUnreserved(value)) {
        out += static_cast<char>(value);
      } else {
        out += '%';
        out += kDigits[value >> 4];
        out += kDigits[value & 15];
      }
      i += 2;
    } else if (c >= 0x80) {
      out += '%';
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A path or pattern with its leading "/" ("*" may also lead a pattern).
std::string Rooted(std::string_view text) {
  std::string out = Normalize(text);
  if (out.empty() || (out.front() != '/' && out.front() != '*')) out.insert(out.begin(), '/');
  return out;
}

// The lines of a robots.txt: LF, CR LF and CR end a line.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
  }
  bool Next(std::string_view* line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find_first_of("\r\n", pos_);
    if (end == std::string_view::npos) end = text_.size();
    *line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    if (end + 1 < text_.size() && text_[end] == '\r' && text_[end + 1] == '\n') ++pos_;
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

}  // namespace

std::string RobotsRules::ProductToken(std::string_view agent) {
  agent = Trim(agent);
  size_t end = agent.find_first_of("/ \t");
  if (end != std::string_view::npos) agent = agent.substr(0, end);
  std::string token;
  for (char c : agent) token += LowerAscii(c);
  return token;
}

bool RobotsRules::PatternMatches(std::string_view pattern, std::string_view path) {
  bool anchored = !pattern.empty() && pattern.back() == '$';
  if (anchored) pattern.remove_suffix(1);
  // Wildcard matching that backtracks only to the latest "*": linear in practice, and at most
  // pattern length times path length.
  size_t p = 0, s = 0;
  size_t starP = std::string_view::npos, starS = 0;
  while (s < path.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starS = s;
    } else if (p < pattern.size() && pattern[p] == path[s]) {
      ++p;
      ++s;
    } else if (p == pattern.size() && !anchored) {
      return true;  // the pattern is a prefix of the path
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      s = ++starS;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

RobotsRules RobotsRules::Parse(std::string_view text, std::string_view agent) {
  const std::string token = ProductToken(agent);
  RobotsRules mine, any;
  bool groupIsMine = false, groupIsAny = false;
  bool foundMine = false;
  bool inAgents = false;  // the previous field was a User-agent line
  LineReader reader(text);
  std::string_view line;
  while (reader.Next(&line)) {
    size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string key;
    for (char c : Trim(line.substr(0, colon))) key += LowerAscii(c);
    std::string_view value = Trim(line.substr(colon + 1));

    if (key == "user-agent") {
      if (!inAgents) groupIsMine = groupIsAny = false;
      inAgents = true;
      if (value == "*") {
        groupIsAny = true;
      } else if (!token.empty() && ProductToken(value) == token) {
        groupIsMine = true;
        foundMine = true;
      }
      continue;
    }
    const bool allow = key == "allow";
    if (!allow && key != "disallow") continue;  // Sitemap, Crawl-delay and the like
    inAgents = false;
    if (value.empty()) continue;  // an empty Disallow allows everything
    Rule rule{Rooted(value.substr(0, kMaxPatternLength)), allow};
    if (groupIsMine && mine.rules_.size() < kMaxRules) mine.rules_.push_back(rule);
    if (groupIsAny && any.rules_.size() < kMaxRules) any.rules_.push_back(std::move(rule));
  }
  return foundMine ? mine : any;
}

bool RobotsRules::IsAllowed(std::string_view path) const {
  if (rules_.empty()) return true;
  const std::string rooted = Rooted(path);
  size_t best = 0;
  bool allowed = true;
  bool matched = false;
  for (const Rule& rule : rules_) {
    const size_t length = rule.pattern.size();
    if (matched && (length < best || (length == best && !rule.allow))) continue;
    if (!PatternMatches(rule.pattern, rooted)) continue;
    // A longer match decides; at equal length an Allow wins.
    if (!matched || length > best || rule.allow) allowed = rule.allow;
    best = length;
    matched = true;
  }
  return allowed;
}
