// A link checker for a saved copy: every local reference in every saved page (.html, .htm) and
// stylesheet (.css) must name a file of the copy, so that the copy browses from the disk.
//
// References looked at: the attributes that name a resource or page (href, src, background,
// poster, data, action, code, longdesc, lowsrc, every srcset candidate), a meta refresh's url,
// url(...) and @import in style attributes, <style> blocks and stylesheets. A reference with a
// scheme (http:, mailto:, data:, ...) or "//host" is not local and is skipped; "#x" names the
// page itself. A root-relative one ("/x") is broken by nature, since it names the file system's
// root in a copy. Query and fragment are dropped and %XX decoded before the look-up.
#ifndef HARVO_TESTS_SUPPORT_LINK_CHECK_H
#define HARVO_TESTS_SUPPORT_LINK_CHECK_H

#include <string>
#include <string_view>
#include <vector>

struct BrokenReference {
  std::string page;       // the saved file, relative to the copy's root
  std::string reference;  // as written in it
  std::string why;        // "no such file", "root-relative", "outside the copy"
};

// The local references of one page or stylesheet's text, in order of appearance.
std::vector<std::string> PageReferences(std::string_view html);
std::vector<std::string> StylesheetReferences(std::string_view css);

// Checks every page and stylesheet below root; returns what is broken (empty: none). checked,
// when given, receives the number of local references that were looked up.
std::vector<BrokenReference> CheckSavedCopy(const std::string& root, size_t* checked = nullptr);

// text with every %XX escape decoded.
std::string PercentDecode(std::string_view text);

// One line per broken reference, for a test's failure message.
std::string DescribeBroken(const std::vector<BrokenReference>& broken);

#endif  // HARVO_TESTS_SUPPORT_LINK_CHECK_H
