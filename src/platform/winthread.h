// Worker-thread stand-in with the framework's shape: InitInstance, Run and ExitInstance
// overridables, automatic deletion when the thread ends, and an exit state that outlives the
// object, so that questions about a thread never reach a deleted object.
#ifndef HARVO_PLATFORM_WINTHREAD_H
#define HARVO_PLATFORM_WINTHREAD_H

#include <atomic>
#include <memory>

class CWinThread {
 public:
  // Exit state of a thread, shared with whoever asks after the object is gone.
  enum LifeState { kNotStarted = 0, kStillActive = 1, kEnded = 2 };
  using Life = std::atomic<int>;

  CWinThread();
  virtual ~CWinThread();
  CWinThread(const CWinThread&) = delete;
  CWinThread& operator=(const CWinThread&) = delete;

  // Starts the thread at once; with idle set it lowers its own priority first thing. The thread
  // runs InitInstance, then Run (or ExitInstance when InitInstance failed), and deletes the
  // object afterwards when m_bAutoDelete is set. False when no thread could be created; the
  // object then stays with the caller.
  bool CreateThread(bool idle);

  std::shared_ptr<const Life> GetLife() const { return m_Life; }

  virtual bool InitInstance() = 0;
  virtual int Run() { return ExitInstance(); }
  virtual int ExitInstance() { return 0; }

  bool m_bAutoDelete = true;

 private:
  static void ThreadMain(CWinThread* self, std::shared_ptr<Life> life, bool idle);
  std::shared_ptr<Life> m_Life;
};

#endif  // HARVO_PLATFORM_WINTHREAD_H
