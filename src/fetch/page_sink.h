// The sink through which the value and style-sheet scanners write a page's or a sheet's copy.
#ifndef HARVO_FETCH_PAGE_SINK_H
#define HARVO_FETCH_PAGE_SINK_H

#include <string>
#include <string_view>

#include "fetch/fetcher.h"
#include "fetch/link_scan.h"

// Writes a scanner's output to the page's copy (none for raw pages) and resolves its links.
class KtWdlFetcher::PageSink : public KtWdlLinkSink {
 public:
  // Pages turn line feeds into CR LF (as the rest of their copy); style sheets are kept as
  // received.
  PageSink(KtWdlFetcher* fetcher, hvfs::OutputFile* out, KtWdlLinkList* links, int depth, bool page)
      : m_Fetcher(fetcher), m_Out(out), m_Links(links), m_Depth(depth), m_Page(page) {}
  bool Write(std::string_view text) override {
    if (m_Out == nullptr || text.empty()) return true;
    if (m_Page) {
      WriteSpaceRun(text.data(), text.data() + text.size(), m_Out);
      return true;
    }
    return m_Out->Write(text.data(), text.size());
  }
  std::string Resolve(std::string_view link) override {
    return m_Fetcher->ResolveFoundLink(link, m_Links, m_Depth);
  }

 private:
  KtWdlFetcher* m_Fetcher;
  hvfs::OutputFile* m_Out;
  KtWdlLinkList* m_Links;
  int m_Depth;
  bool m_Page;
};

#endif  // HARVO_FETCH_PAGE_SINK_H
