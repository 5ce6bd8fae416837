#include "job/fetch_pool.h"

#include <system_error>
#include <utility>

#include "fetch/fetcher.h"
#include "harvo.h"
#include "job/crawl_thread.h"
#include "job/session.h"
#include "platform/codepage.h"
#include "platform/http.h"
#include "platform/thread.h"
#include "site/site.h"

KtWdlFetchPool::KtWdlFetchPool(KtWdlSession* session, KtWdlSite* site, int threads,
                               KtWdlFetcher* shown)
    : m_Shown(shown) {
  const bool idle = site->HasOption(HVR_OPT_NORMAL_PRIORITY) == 0;
  const hvthread::StopFlag* stop = session != nullptr ? &session->GetStopFlag() : nullptr;
  for (int i = 0; i < threads; ++i) {
    std::unique_ptr<CHttpConnection> connection = site->OpenExtraConnection();
    if (!connection) break;
    auto worker = std::make_unique<Worker>();
    worker->fetcher = std::make_unique<KtWdlFetcher>(session, stop, site, std::move(connection));
    try {
      worker->thread = std::thread(&KtWdlFetchPool::Loop, this, worker.get(), idle);
    } catch (const std::system_error&) {
      break;  // the threads made so far do the work
    }
    m_Workers.push_back(std::move(worker));
  }
}

KtWdlFetchPool::~KtWdlFetchPool() {
  AwaitAll();
  {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_Quit = true;
  }
  m_Changed.notify_all();
  for (const auto& worker : m_Workers) worker->thread.join();
  if (m_Shown != nullptr) m_Shown->ShowProgressOf(nullptr);
}

void KtWdlFetchPool::Loop(Worker* worker, bool idle) {
  if (idle) hvthread::SetCurrentThreadIdle();
  std::unique_lock<std::mutex> lock(m_Mutex);
  while (true) {
    m_Changed.wait(lock, [&] { return m_Quit || worker->task; });
    if (!worker->task) return;
    Task task = std::move(worker->task);
    lock.unlock();
    const int result = task(worker->fetcher.get());
    lock.lock();
    if (result == KtWdlThread::kStopped) m_Stopped = true;
    worker->task = nullptr;
    worker->path.clear();
    m_Changed.notify_all();
  }
}

void KtWdlFetchPool::WaitFor(std::unique_lock<std::mutex>& lock,
                             const std::function<bool()>& ready) {
  if (ready()) return;
  // The progress queries name a file being fetched: one of those the walk waits for.
  const KtWdlFetcher* busy = nullptr;
  for (const auto& worker : m_Workers) {
    if (!worker->path.empty()) busy = worker->fetcher.get();
  }
  if (m_Shown != nullptr && busy != nullptr) {
    lock.unlock();
    m_Shown->ShowProgressOf(busy);
    lock.lock();
  }
  m_Changed.wait(lock, ready);
  if (m_Shown != nullptr && busy != nullptr) {
    lock.unlock();
    m_Shown->ShowProgressOf(nullptr);
    lock.lock();
  }
}

void KtWdlFetchPool::Submit(const std::string& path, Task task) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  Worker* free = nullptr;
  WaitFor(lock, [&] {
    for (const auto& worker : m_Workers) {
      if (!worker->task && worker->path.empty()) {
        free = worker.get();
        return true;
      }
    }
    return false;
  });
  free->task = std::move(task);
  // A busy thread is known by its path; the root's file has one too.
  free->path = path.empty() ? std::string("/") : path;
  m_Changed.notify_all();
}

void KtWdlFetchPool::Await(std::string_view path) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  WaitFor(lock, [&] {
    for (const auto& worker : m_Workers) {
      if (!worker->path.empty() && cp932::EqualsNoCase(worker->path, path)) return false;
    }
    return true;
  });
}

void KtWdlFetchPool::AwaitAll() {
  std::unique_lock<std::mutex> lock(m_Mutex);
  WaitFor(lock, [&] {
    for (const auto& worker : m_Workers) {
      if (!worker->path.empty()) return false;
    }
    return true;
  });
}

bool KtWdlFetchPool::Stopped() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Stopped;
}
