// Streaming scanners for link lists inside text: style sheets (url() and @import), srcset
// attribute values and the content of a meta refresh. Each passes its text on unchanged except
// the links it finds, which its owner resolves and may replace. Text arrives in blocks cut
// anywhere; a scanner holds no more than one link (at most kMaxLinkLength bytes), so the result
// is the same for every block size and memory stays bounded.
#ifndef HARVO_FETCH_LINK_SCAN_H
#define HARVO_FETCH_LINK_SCAN_H

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// Where a scanner's output goes and who decides what a found link becomes.
class KtWdlLinkSink {
 public:
  virtual ~KtWdlLinkSink() = default;
  // Text to pass on; false when it could not be written.
  virtual bool Write(std::string_view text) = 0;
  // The text that replaces a found link (the link itself to keep it).
  virtual std::string Resolve(std::string_view link) = 0;
};

class KtWdlLinkScanner {
 public:
  // A link longer than this is no link (servers refuse far shorter request lines): its text is
  // passed on as it is, unresolved. Long data: URLs in style sheets end up here.
  static constexpr size_t kMaxLinkLength = 64 * 1024;

  virtual ~KtWdlLinkScanner() = default;
  // Starts a new text. With shiftJis a double-byte character's trail byte never counts as a
  // quote, backslash or other mark.
  virtual void Reset(bool shiftJis) = 0;
  // Scans the next piece of the text; false when the sink failed to write.
  virtual bool Feed(std::string_view text, KtWdlLinkSink* sink) = 0;
  // Ends the text: what is still held is resolved or passed on. False on a write failure.
  virtual bool Finish(KtWdlLinkSink* sink) = 0;
};

// Style sheets: url(x), url('x'), url("x") with blanks inside the parentheses, and
// @import "x" / @import 'x' (and @import url(...)). Nothing inside comments and other strings
// counts.
class KtWdlCssScanner : public KtWdlLinkScanner {
 public:
  void Reset(bool shiftJis) override;
  bool Feed(std::string_view text, KtWdlLinkSink* sink) override;
  bool Finish(KtWdlLinkSink* sink) override;

 private:
  enum State {
    kText,
    kComment,
    kString,
    kUrlSpace,   // after "url(", before its value
    kUrlQuoted,  // in a quoted url() value or @import string
    kUrlBare,    // in an unquoted url() value
    kImportSpace,
    kBadUrl,  // after a url() string that a line feed broke, up to its ")"
  };
  void Remember(char c);
  bool RecentEndsWith(std::string_view word) const;
  bool EndLink(KtWdlLinkSink* sink);
  // Stops collecting a link that grew too long: what was held is passed on.
  bool DropLink(KtWdlLinkSink* sink);

  State m_State = kText;
  bool m_ShiftJis = false;
  bool m_Trail = false;   // the next byte is a double-byte character's trail byte
  bool m_Escape = false;  // the next byte follows a backslash
  bool m_Star = false;    // in a comment: the last byte was "*"
  bool m_Slash = false;   // in text: the last byte was "/"
  bool m_Overlong = false;
  bool m_InUrl = false;  // the quoted link is a url() value, not an @import string
  char m_Quote = 0;
  std::array<char, 8> m_Recent{};  // the last bytes of text, lower-cased
  std::string m_Link;
};

// A srcset value: candidates separated by commas, each a URL and optional descriptors.
class KtWdlSrcsetScanner : public KtWdlLinkScanner {
 public:
  void Reset(bool shiftJis) override;
  bool Feed(std::string_view text, KtWdlLinkSink* sink) override;
  bool Finish(KtWdlLinkSink* sink) override;

 private:
  enum State { kGap, kUrl, kDescriptor };
  bool EndUrl(KtWdlLinkSink* sink);
  State m_State = kGap;
  bool m_Overlong = false;
  std::string m_Link;
};

// The content of a meta refresh: "5; url=page.html" (also "5;URL='page.html'" and "5; page.html").
// The value is held whole (up to kMaxLinkLength) and resolved at its end.
class KtWdlRefreshScanner : public KtWdlLinkScanner {
 public:
  void Reset(bool shiftJis) override;
  bool Feed(std::string_view text, KtWdlLinkSink* sink) override;
  bool Finish(KtWdlLinkSink* sink) override;

 private:
  bool m_Overlong = false;
  std::string m_Value;
};

#endif  // HARVO_FETCH_LINK_SCAN_H
