// The further connections of a job: a fixed set of threads, each with a fetcher over a
// keep-alive connection of its own, that fetch the files the walk hands them while the walk goes
// on. A thread fetches one file at a time; the files handed over wait in a bounded queue (16 for
// each thread), so that the walk runs on through its pages while the threads fetch. When the
// queue is full the walk waits, so that memory stays bounded by the threads' blocks (a queued
// file is only its path and folder).
//
// The walk asks the pool before it looks at a file's state: Await returns once no file whose path
// equals the given one ignoring case is in flight, so that the walk sees the same registry as if
// it had fetched every file itself, one after the other.
#ifndef HARVO_JOB_FETCH_POOL_H
#define HARVO_JOB_FETCH_POOL_H

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

class KtWdlFetcher;
class KtWdlSession;
class KtWdlSite;

class KtWdlFetchPool {
 public:
  // What a thread does for one file with its fetcher; returns a KtWdlThread::CrawlResult.
  using Task = std::function<int(KtWdlFetcher*)>;

  // Up to threads threads (fewer when a connection or thread cannot be made). shown: the walk's
  // fetcher, which shows the file being waited for while the walk waits (may be null).
  KtWdlFetchPool(KtWdlSession* session, KtWdlSite* site, int threads, KtWdlFetcher* shown);
  // Waits until every thread is idle, then ends them.
  ~KtWdlFetchPool();
  KtWdlFetchPool(const KtWdlFetchPool&) = delete;
  KtWdlFetchPool& operator=(const KtWdlFetchPool&) = delete;

  // The number of threads that were started.
  size_t Size() const { return m_Workers.size(); }
  // Hands the file of the registry path path to the threads, after waiting for room.
  void Submit(const std::string& path, Task task);
  // Returns once no file whose path equals path ignoring case is in flight.
  void Await(std::string_view path);
  // Returns once every thread is idle.
  void AwaitAll();
  // A file ended with a stop (KtWdlThread::kStopped).
  bool Stopped() const;

 private:
  struct Worker {
    std::unique_ptr<KtWdlFetcher> fetcher;
    std::thread thread;
    std::string path;  // the registry path of the file being fetched; empty when idle
  };
  struct Pending {
    std::string path;
    Task task;
  };
  void Loop(Worker* worker, bool idle);
  // A file of the path (ignoring case) is queued or being fetched; any file for a null path.
  bool InFlight(const std::string_view* path) const;
  // Waits under lock until ready holds; the walk's fetcher meanwhile shows a busy thread's file.
  void WaitFor(std::unique_lock<std::mutex>& lock, const std::function<bool()>& ready);

  KtWdlFetcher* m_Shown;
  std::vector<std::unique_ptr<Worker>> m_Workers;
  std::deque<Pending> m_Queue;
  mutable std::mutex m_Mutex;
  std::condition_variable m_Work;     // a file was queued, or the threads are to end
  std::condition_variable m_Changed;  // a file left the queue or is done
  bool m_Quit = false;
  bool m_Stopped = false;
};

#endif  // HARVO_JOB_FETCH_POOL_H
