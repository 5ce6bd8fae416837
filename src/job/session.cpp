#include "job/session.h"

KtWdlSession::KtWdlSession(const char* agent, const char* proxy)
    : CInternetSession(agent ? agent : "", proxy),
      m_Agent(agent ? agent : ""),
      m_Proxy(proxy ? proxy : "") {
  // A stalled server must not hold a stopping job: every wait of this session's requests ends
  // shortly after the stop request.
  SetCancelTest([this] { return IsStopRequested() == 1; });
}

KtWdlSession::~KtWdlSession() {
  Close();
}

int KtWdlSession::RequestStop() {
  m_StopRequested.Set();
  return 0;
}

int KtWdlSession::IsStopRequested() const {
  return m_StopRequested.IsSet() ? 1 : 0;
}
