// Child processes on Windows: CreateProcess with the output on two pipes, read back with LF
// line ends. A signal becomes
// Ctrl-Break for the child's own process group (what harvo.exe reads as SIGINT or SIGTERM), or
// TerminateProcess for any other.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

#include "support/child_process.h"

namespace {

// One argument quoted as the C runtime's command-line parser reads it back.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

// The test's environment with the changes ("NAME=VALUE" sets, "NAME" removes), as a block.
std::string EnvironmentBlock(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
    env.emplace_back(entry);
  }
  FreeEnvironmentStringsA(strings);
  for (const std::string& change : changes) {
    const size_t eq = change.find('=');
    const std::string name = change.substr(0, eq) + "=";
    std::erase_if(env, [&](const std::string& e) {
      return e.size() >= name.size() && _strnicmp(e.c_str(), name.c_str(), name.size()) == 0;
    });
    if (eq != std::string::npos) env.push_back(change);
  }
  std::string block;
  for (const std::string& entry : env) block += entry + '\0';
  return block + '\0';
}

// A Windows program's text output ends its lines in CR LF: read back with the LF alone, as the
// tests expect it from every build (a lone CR, a progress line's, stays).
std::string Lines(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

HANDLE Native(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env, const std::string& cwd) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) throw std::runtime_error("pipe failed");
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    throw std::runtime_error("pipe failed");
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  std::string commandLine;
  for (const std::string& arg : argv) commandLine += (commandLine.empty() ? "" : " ") + Quote(arg);
  std::string block = EnvironmentBlock(env);
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessA(argv.at(0).c_str(), commandLine.data(), nullptr, nullptr,
                                      TRUE, CREATE_NEW_PROCESS_GROUP, block.data(),
                                      cwd.empty() ? nullptr : cwd.c_str(), &startup, &info);
  const DWORD error = GetLastError();
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!created) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    throw std::runtime_error("cannot start " + argv.at(0) + ": error " + std::to_string(error));
  }
  CloseHandle(info.hThread);
  pid_ = static_cast<pid_t>(info.dwProcessId);
  process_ = reinterpret_cast<std::intptr_t>(info.hProcess);
  const int outFd = _open_osfhandle(reinterpret_cast<intptr_t>(outRead), _O_RDONLY | _O_BINARY);
  const int errFd = _open_osfhandle(reinterpret_cast<intptr_t>(errRead), _O_RDONLY | _O_BINARY);
  reader_ = std::thread([this, outFd, errFd] { ReadOutput(outFd, errFd); });
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    TerminateProcess(Native(process_), 137);
    WaitForSingleObject(Native(process_), INFINITE);
  }
  if (reader_.joinable()) reader_.join();
  CloseHandle(Native(process_));
}

void ChildProcess::Signal(int signal) {
  if (reaped_) return;
  if (signal == SIGINT || signal == SIGTERM) {
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid_));
  } else {
    TerminateProcess(Native(process_), 128 + signal);
  }
}

// Each pipe is read by a thread of its own (the pipes cannot be waited for together).
void ChildProcess::ReadOutput(int outFd, int errFd) {
  auto drain = [this](int fd, std::string* into) {
    char buffer[4096];
    for (int n; (n = _read(fd, buffer, sizeof buffer)) > 0;) {
      std::lock_guard<std::mutex> lock(mutex_);
      into->append(buffer, static_cast<size_t>(n));
      changed_.notify_all();
    }
    _close(fd);
  };
  std::thread errors(drain, errFd, &err_);
  drain(outFd, &out_);
  errors.join();
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout,
                    [&] { return closed_ || Lines(out_).find(text) != std::string::npos; });
  return Lines(out_).find(text) != std::string::npos;
}

ChildResult ChildProcess::Wait(std::chrono::milliseconds timeout) {
  ChildResult result;
  const auto start = std::chrono::steady_clock::now();
  if (WaitForSingleObject(Native(process_), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    result.timedOut = true;
    TerminateProcess(Native(process_), 137);
    WaitForSingleObject(Native(process_), INFINITE);
  }
  reaped_ = true;
  result.waited = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  reader_.join();
  DWORD code = 0;
  GetExitCodeProcess(Native(process_), &code);
  result.exitStatus = result.timedOut ? -1 : static_cast<int>(code);
  std::lock_guard<std::mutex> lock(mutex_);
  result.out = Lines(out_);
  result.err = Lines(err_);
  return result;
}

std::string HarvoBinary() {
  return std::string(HARVO_BINARY_DIR) + "/tools/harvo/harvo.exe";
}
