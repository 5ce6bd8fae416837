// nginx under Wine: the test process cannot start a Linux program, so the broker of
// scripts/test-servers starts and stops it on request (see there for the requests). Paths go
// to it as Unix paths, through Wine's own conversion.
// Winsock before the rest of the Windows headers.
#include <winsock2.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/loopback_socket.h"
#include "support/nginx_process.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace nginx_process {
namespace {

// The broker's folder as a Unix path, or empty when no broker was started for this run.
std::string BrokerFolder() {
  const char* folder = std::getenv("HARVO_TEST_SERVERS");
  return folder != nullptr ? folder : "";
}

// A Unix path as the test reads it: Wine's drive Z: is the Unix root.
std::string WindowsPath(const std::string& unixPath) {
  return "Z:" + unixPath;
}

// Sends one request to the broker and waits for its answer ("ok" or "error: ...").
std::string Ask(const std::string& line) {
  static std::atomic<int> counter{0};
  const std::string queue = WindowsPath(BrokerFolder()) + "/queue/";
  const std::string name =
      queue + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter.fetch_add(1));
  {
    std::ofstream out(name + ".new", std::ios::binary | std::ios::trunc);
    out << line << "\n";
  }
  std::error_code ec;
  fs::rename(name + ".new", name + ".req", ec);
  if (ec) throw std::runtime_error("cannot ask the test-server broker: " + ec.message());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(name + ".done")) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("the test-server broker did not answer (scripts/test-servers)");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string answer = ReadFileText(name + ".done");
  fs::remove(name + ".done", ec);
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  return answer;
}

}  // namespace

bool Available() {
  const std::string folder = BrokerFolder();
  return !folder.empty() && fs::is_directory(WindowsPath(folder) + "/queue");
}

std::string ServerPath(const std::string& path) {
  using Convert = char*(CDECL*)(LPCWSTR);
  // Through void (*)(), the type that a function pointer may be cast to and back from.
  static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) throw std::runtime_error("not running under Wine");
  const std::wstring wide = fs::path(path).wstring();
  char* unixPath = convert(wide.c_str());
  if (unixPath == nullptr) throw std::runtime_error("no Unix path for " + path);
  std::string result(unixPath);
  HeapFree(GetProcessHeap(), 0, unixPath);
  // A folder keeps its closing separator.
  if (!path.empty() && (path.back() == '/' || path.back() == '\\') && result.back() != '/')
    result += '/';
  return result;
}

Id Start(const std::string& prefix, const std::string& conf) {
  const std::string answer = Ask("nginx " + ServerPath(prefix) + " " + ServerPath(conf));
  if (answer != "ok") throw std::runtime_error("cannot start nginx: " + answer);
  return 0;
}

bool Ended(Id /*id*/) {
  return false;  // the broker forgets a server that ended: the start is then seen to time out
}

void Stop(Id /*id*/, const std::string& prefix) {
  Ask("stop " + ServerPath(prefix));  // "not started" when it ended by itself: nothing to stop
}

int FreePort() {
  uint16_t port = 0;
  loopback::Socket socket = loopback::Bind(false, &port);
  if (socket == loopback::kNoSocket) throw std::runtime_error("no free port");
  loopback::Close(socket);
  return port;
}

bool CanConnect(int port) {
  uint16_t unused = 0;
  loopback::Close(loopback::Bind(false, &unused));  // starts Winsock
  SOCKET fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd == INVALID_SOCKET) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  closesocket(fd);
  return ok;
}

}  // namespace nginx_process
