// A job's log file. Created closed with the job; the host opens it (HvrLogStart) and closes it
// (HvrLogStop); deleting it closes an open file. Lines end with CR LF and are flushed at once.
// Open and Close on the host's thread and WriteLine on the worker thread may overlap: a lock
// around the stream keeps every line whole, and no line is lost while the file is open.
#ifndef HARVO_UTIL_LOG_H
#define HARVO_UTIL_LOG_H

#include <cstdio>

#include "platform/mutex.h"

class KtWdlLog {
 public:
  KtWdlLog() = default;
  virtual ~KtWdlLog();
  KtWdlLog(const KtWdlLog&) = delete;
  KtWdlLog& operator=(const KtWdlLog&) = delete;

  // Closes an open file, then opens path (replacing an existing file) when its last component
  // has an extension, creating missing folders, and writes the stamped "*** Log Start ***".
  // A null path only closes. Returns 0.
  int Open(const char* path);
  // Writes the stamped "*** Log End ***" and closes an open file. Returns 0.
  int Close();
  // stamp 1: "<asctime of local time, 24 chars>:<text>"; otherwise the text alone. Control
  // bytes of the text (0x00-0x1F, 0x7F) are written as \xNN, but for a leading tab, so that a
  // call writes exactly one line. 0 when written, -1 when no file is open or text is null.
  int WriteLine(const char* text, int stamp);
  int IsOpen();

 private:
  int CloseLocked() REQUIRES(m_Lock);
  int WriteLocked(const char* text, int stamp) REQUIRES(m_Lock);
  hvthread::Mutex m_Lock;
  std::FILE* m_File GUARDED_BY(m_Lock) = nullptr;
};

#endif  // HARVO_UTIL_LOG_H
