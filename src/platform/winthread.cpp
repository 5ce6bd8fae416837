#include "platform/winthread.h"

#include "platform/thread.h"

CWinThread::CWinThread() : m_Life(std::make_shared<Life>(kNotStarted)) {}

CWinThread::~CWinThread() = default;

bool CWinThread::CreateThread(bool idle) {
  // Active from the moment of creation, so that a query right after the start sees it.
  m_Life->store(kStillActive);
  if (!hvthread::StartDetachedThread(
          [this, life = m_Life, idle] { ThreadMain(this, life, idle); })) {
    m_Life->store(kNotStarted);
    return false;
  }
  return true;
}

void CWinThread::ThreadMain(CWinThread* self, std::shared_ptr<Life> life, bool idle) {
  if (idle) hvthread::SetCurrentThreadIdle();
  try {
    if (self->InitInstance()) {
      self->Run();
    } else {
      self->ExitInstance();
    }
  } catch (...) {
    // Nothing may leave a thread. ExitInstance still runs, so that whoever waits for the end
    // of the thread's work is released.
    try {
      self->ExitInstance();
    } catch (...) {
    }
  }
  if (self->m_bAutoDelete) delete self;
  // The last step: after it nothing of the object is touched.
  life->store(kEnded);
}
