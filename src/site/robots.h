// The rules of a site's robots.txt that apply to one agent: which URL paths it may request.
//
// The group chosen is the one whose User-agent names the agent's product token (the agent text
// up to its first "/" or blank, compared ignoring ASCII case); several such groups are merged.
// Without one, the "*" group applies; without that, everything is allowed. Within the group the
// Allow or Disallow pattern with the most bytes that matches the path decides, and an Allow wins
// a tie. In a pattern "*" stands for any run of bytes and a final "$" anchors it at the path's
// end; an empty Disallow allows everything.
#ifndef HARVO_SITE_ROBOTS_H
#define HARVO_SITE_ROBOTS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class RobotsRules {
 public:
  // Nothing disallowed.
  RobotsRules() = default;

  // The rules of text for agent (a User-Agent value such as "Harvo/1.1.0"). Lines end in LF,
  // CR LF or CR; "#" starts a comment; unknown fields are ignored. At most kMaxRules rules are
  // kept, and a pattern is cut at kMaxPatternLength bytes.
  static RobotsRules Parse(std::string_view text, std::string_view agent);

  // True when the agent may request path, the URL's path and query as sent ("/dir/a.html?x=1";
  // a path without its leading "/" is read as if it had one).
  bool IsAllowed(std::string_view path) const;

  // True when any rule applies (a Disallow pattern that is not empty).
  bool HasRules() const { return !rules_.empty(); }

  static constexpr size_t kMaxRules = 10000;
  static constexpr size_t kMaxPatternLength = 2048;

  // The product token of an agent text, lower-cased: "harvo" for "Harvo/1.1.0 (x)".
  static std::string ProductToken(std::string_view agent);

  // True when pattern matches the start of path ("*" any run, a final "$" the end).
  static bool PatternMatches(std::string_view pattern, std::string_view path);

 private:
  struct Rule {
    std::string pattern;
    bool allow = false;
  };
  std::vector<Rule> rules_;
};

#endif  // HARVO_SITE_ROBOTS_H
