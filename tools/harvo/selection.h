// Picking bookmark entries by number: "1,4-7".
#ifndef HARVO_TOOLS_SELECTION_H
#define HARVO_TOOLS_SELECTION_H

#include <cstddef>
#include <string>
#include <vector>

// Parses a list of 1-based numbers and ranges ("1,4-7", blanks allowed around items) against
// count entries. On success returns true and fills chosen with 0-based indices, ascending and
// without repeats. On failure returns false and says why in error.
bool ParseSelection(const std::string& text, size_t count, std::vector<size_t>* chosen,
                    std::string* error);

#endif  // HARVO_TOOLS_SELECTION_H
