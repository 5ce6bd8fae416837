// The internet session of a handle: agent, proxy, and the handle-wide stop request that every
// job polls. The stop request also cuts short the network waits of the session's requests.
#ifndef HARVO_JOB_SESSION_H
#define HARVO_JOB_SESSION_H

#include <string>

#include "platform/http.h"
#include "platform/thread.h"

class KtWdlSession : public CInternetSession {
 public:
  // proxy null or empty: a direct session. Throws CInternetException when the session cannot
  // be opened.
  KtWdlSession(const char* agent, const char* proxy);
  ~KtWdlSession() override;

  const char* GetAgent() const { return m_Agent.c_str(); }
  const char* GetProxy() const { return m_Proxy.c_str(); }
  // Sets the stop request; it is never withdrawn. Returns 0.
  int RequestStop();
  int IsStopRequested() const;
  // The stop request itself, for the site and fetcher of the session's jobs.
  const hvthread::StopFlag& GetStopFlag() const { return m_StopRequested; }

 private:
  std::string m_Agent;
  std::string m_Proxy;
  hvthread::StopFlag m_StopRequested;  // written by the host, read by every worker
};

#endif  // HARVO_JOB_SESSION_H
