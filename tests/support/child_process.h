// Running the built harvo command from a test: spawned with posix_spawn, its output captured,
// a signal sent on demand, ended by force when it overruns its time.
#ifndef HARVO_TESTS_CLI_CHILD_PROCESS_H
#define HARVO_TESTS_CLI_CHILD_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ChildResult {
  int exitStatus = -1;    // the status passed to exit, or -1 when a signal ended the process
  int termSignal = 0;     // the signal that ended it, or 0
  bool timedOut = false;  // killed because it overran the time given to Wait
  std::string out;
  std::string err;
  std::chrono::milliseconds waited{0};  // from the Wait call to the process's end
};

class ChildProcess {
 public:
  // Starts argv[0] (a path) with argv. env changes the test's environment for the child:
  // "NAME=VALUE" sets, "NAME" removes. cwd empty: the test's folder. stdin is /dev/null; no
  // descriptor but stdout and stderr is passed on.
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::string>& env = {}, const std::string& cwd = {});
  // Kills the child if it still runs, and reaps it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Signal(int signal);
  // True once stdout holds text; false when the time passed or the child closed its output.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
  // Waits for the end of the child (killing it with SIGKILL after timeout) and reaps it.
  ChildResult Wait(std::chrono::milliseconds timeout);

 private:
  void ReadOutput(int outFd, int errFd);

  pid_t pid_ = -1;
  std::intptr_t process_ = 0;  // Windows: the child's process handle
  bool reaped_ = false;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_;      // guarded by mutex_
  std::string err_;      // guarded by mutex_
  bool closed_ = false;  // guarded by mutex_: both pipes reached their end
};

// Runs a command to its end within timeout.
inline ChildResult RunCommand(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env = {}, const std::string& cwd = {},
                              std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
  ChildProcess child(argv, env, cwd);
  return child.Wait(timeout);
}

// The built harvo command: HARVO_BINARY_DIR/tools/harvo/harvo (harvo.exe on Windows).
std::string HarvoBinary();

#endif  // HARVO_TESTS_CLI_CHILD_PROCESS_H
