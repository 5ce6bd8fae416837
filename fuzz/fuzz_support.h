// What the fuzz targets share: a scratch folder removed at exit, whole-file reads and writes,
// and a check that stops the run with a message when an invariant breaks.
#ifndef HARVO_FUZZ_FUZZ_SUPPORT_H
#define HARVO_FUZZ_FUZZ_SUPPORT_H

#include <string>

namespace fuzz {

// A folder made once per process (in /dev/shm when there is one), ending with "/". It is
// removed with everything in it when the process exits normally.
const std::string& ScratchFolder();

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
// Creates the folders along path (the text after the last "/" is not created).
void MakeFolders(const std::string& path);

// Prints the message and aborts, so that libFuzzer keeps the input that broke the invariant.
[[noreturn]] void Fail(const char* what, const std::string& detail = "");

}  // namespace fuzz

#define FUZZ_CHECK(condition, detail)                     \
  do {                                                    \
    if (!(condition)) ::fuzz::Fail(#condition, (detail)); \
  } while (0)

#endif  // HARVO_FUZZ_FUZZ_SUPPORT_H
