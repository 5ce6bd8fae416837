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

namespace {
// Files queued for each thread: enough that the walk runs on through its pages while the
// threads fetch, instead of waking for every file; a queued file is only its path.
constexpr size_t kQueuedPerThread = 16;
}  // namespace

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
  m_Work.notify_all();
  for (const auto& worker : m_Workers) worker->thread.join();
  if (m_Shown != nullptr) m_Shown->ShowProgressOf(nullptr);
}

void KtWdlFetchPool::Loop(Worker* worker, bool idle) {
  if (idle) hvthread::SetCurrentThreadIdle();
  std::unique_lock<std::mutex> lock(m_Mutex);
  while (true) {
    m_Work.wait(lock, [&] { return m_Quit || !m_Queue.empty(); });
    if (m_Queue.empty()) return;
    Pending next = std::move(m_Queue.front());
    m_Queue.pop_front();
    worker->path = std::move(next.path);
    lock.unlock();
    m_Changed.notify_all();  // room in the queue
    const int result = next.task(worker->fetcher.get());
    lock.lock();
    if (result == KtWdlThread::kStopped) m_Stopped = true;
    worker->path.clear();
    m_Changed.notify_all();
  }
}

bool KtWdlFetchPool::InFlight(const std::string_view* path) const {
  for (const Pending& pending : m_Queue) {
    if (path == nullptr || cp932::EqualsNoCase(pending.path, *path)) return true;
  }
  for (const auto& worker : m_Workers) {
    if (worker->path.empty()) continue;
    if (path == nullptr || cp932::EqualsNoCase(worker->path, *path)) return true;
  }
  return false;
}

void KtWdlFetchPool::WaitFor(std::unique_lock<std::mutex>& lock,
                             const std::function<bool()>& ready) {
  // Meanwhile the progress queries name a file being fetched: one of those the walk waits for.
  const KtWdlFetcher* shown = nullptr;
  while (!ready()) {
    const KtWdlFetcher* busy = nullptr;
    for (const auto& worker : m_Workers) {
      if (worker->path.empty()) continue;
      busy = worker->fetcher.get();
      if (busy == shown) break;  // keep showing the same file while it lasts
    }
    if (m_Shown != nullptr && busy != shown) {
      lock.unlock();
      m_Shown->ShowProgressOf(busy);
      lock.lock();
      shown = busy;
      continue;
    }
    m_Changed.wait(lock);
  }
  if (shown != nullptr) {
    lock.unlock();
    m_Shown->ShowProgressOf(nullptr);
    lock.lock();
  }
}

void KtWdlFetchPool::Submit(const std::string& path, Task task) {
  {
    std::unique_lock<std::mutex> lock(m_Mutex);
    WaitFor(lock, [&] { return m_Queue.size() < kQueuedPerThread * m_Workers.size(); });
    // A busy thread is known by its path; the root's file has one too.
    m_Queue.push_back({path.empty() ? std::string("/") : path, std::move(task)});
  }
  m_Work.notify_one();
}

void KtWdlFetchPool::Await(std::string_view path) {
  std::unique_lock<std::mutex> lock(m_Mutex);
  WaitFor(lock, [&] { return !InFlight(&path); });
}

void KtWdlFetchPool::AwaitAll() {
  std::unique_lock<std::mutex> lock(m_Mutex);
  WaitFor(lock, [&] { return !InFlight(nullptr); });
}

bool KtWdlFetchPool::Stopped() const {
  std::lock_guard<std::mutex> lock(m_Mutex);
  return m_Stopped;
}
