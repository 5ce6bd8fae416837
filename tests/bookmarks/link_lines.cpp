// Link arrays as text lines, for whole-result comparisons in the bookmark tests.
#include "wine_prefix.h"

std::vector<std::string> Describe(const HvrLinkArray* links) {
  std::vector<std::string> out;
  if (links == nullptr) return out;
  for (size_t i = 0; i < links->size(); ++i) {
    const HvrLinkInfo* link = (*links)[i];
    out.push_back(link->Folder + "|" + link->Job.SiteName + "|" + link->Job.Url);
  }
  return out;
}
