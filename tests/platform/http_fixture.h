// Shared set-up of the HTTP layer suites: a scripted server, a session whose cancel test a test
// can flip, and helpers that issue requests the way the fetcher does.
#ifndef HARVO_TESTS_PLATFORM_HTTP_FIXTURE_H
#define HARVO_TESTS_PLATFORM_HTTP_FIXTURE_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "platform/http.h"
#include "support/scripted_server.h"

class HttpLayerTest : public ::testing::Test {
 protected:
  using Clock = std::chrono::steady_clock;

  HttpLayerTest() { UseSession("harvo-test/1.0", ""); }

  void UseSession(const std::string& agent, const std::string& proxy) {
    connection_.reset();
    session_ = std::make_unique<CInternetSession>(agent.c_str(), proxy.c_str());
    session_->SetCancelTest([this] { return cancel_.load(); });
  }
  CHttpConnection& Connection() {
    if (!connection_) connection_.reset(session_->GetHttpConnection("127.0.0.1", server_.port()));
    return *connection_;
  }

  // Opens a request with the fetcher's header block; not sent yet.
  std::unique_ptr<CHttpFile> Open(CHttpConnection& connection, const std::string& object) {
    std::unique_ptr<CHttpFile> file(connection.OpenRequest(
        "GET", object.c_str(), "HTTP/1.0",
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE));
    file->AddRequestHeaders(
        "Accept:*/*,text/*\r\nUser-Agent:" + session_->GetSettings().agent + "\r\n",
        HTTP_ADDREQ_FLAG_ADD_IF_NEW);
    return file;
  }
  std::unique_ptr<CHttpFile> Get(const std::string& object) {
    std::unique_ptr<CHttpFile> file = Open(Connection(), object);
    file->SendRequest();
    return file;
  }
  static std::string ReadAll(CHttpFile& file, unsigned block = 4096) {
    std::string body;
    std::string buffer(block, '\0');
    while (int count = file.Read(buffer.data(), block)) body.append(buffer.data(), count);
    return body;
  }
  // Fetches the object and returns its body.
  std::string Fetch(const std::string& object) {
    std::unique_ptr<CHttpFile> file = Get(object);
    return ReadAll(*file);
  }

  static double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

  ScriptedServer server_;
  std::atomic<bool> cancel_{false};
  std::unique_ptr<CInternetSession> session_;
  std::unique_ptr<CHttpConnection> connection_;
};

// Runs the body and returns the cause of the CInternetException it threw; fails the test when
// it threw nothing.
template <typename Body>
CInternetException::Cause CauseOfFailure(Body&& body) {
  try {
    body();
  } catch (const CInternetException& e) {
    return e.GetCause();
  }
  ADD_FAILURE() << "no CInternetException";
  return static_cast<CInternetException::Cause>(0);
}

#endif  // HARVO_TESTS_PLATFORM_HTTP_FIXTURE_H
