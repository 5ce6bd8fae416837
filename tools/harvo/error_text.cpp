#include "error_text.h"

#include <cstdio>

#include "harvo.h"

namespace {

struct ErrorWords {
  int32_t code;
  const char* words;
};

// One line per code the library writes into a record's Error.
constexpr ErrorWords kErrorWords[] = {
    {HVR_ERR_NONE, "no error"},                                // 0
    {HVR_ERR_BAD_INDEX, "no such job"},                        // 0x80000000
    {HVR_ERR_THREAD, "a worker thread could not be started"},  // 0x80000003
    {HVR_ERR_SESSION,
     "the session or the connection to the server could not be opened"},  // 0x80000100
    {HVR_ERR_SETTING,
     "unusable setting (the start URL names no server) or an unreadable earlier "
     "copy"},                                                                   // 0x80000300
    {HVR_ERR_FILE, "a file could not be requested or received"},                // 0x80010000
    {HVR_ERR_NO_LENGTH, "a response had no Content-Length"},                    // 0x80030000
    {HVR_ERR_NO_MODIFIED, "a response had no Last-Modified"},                   // 0x80040000
    {HVR_ERR_HTTP_400, "HTTP status 400 (bad request)"},                        // 0x80050000
    {HVR_ERR_HTTP_404, "HTTP status 404 (not found)"},                          // 0x80060000
    {HVR_ERR_HTTP_405, "HTTP status 405 (method not allowed)"},                 // 0x80070000
    {HVR_ERR_HTTP_500, "HTTP status 500 (internal server error)"},              // 0x80080000
    {HVR_ERR_HTTP_503, "HTTP status 503 (service unavailable)"},                // 0x80090000
    {HVR_ERR_HTTP_OTHER, "another HTTP status, or the request itself failed"},  // 0x800A0000
};

}  // namespace

const char* ErrorMeaning(int32_t code) {
  for (const ErrorWords& entry : kErrorWords) {
    if (entry.code == code) return entry.words;
  }
  return "unknown error code";
}

std::string ErrorHex(int32_t code) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(code));
  return buf;
}

bool IsFailureCode(int32_t code) {
  return code != HVR_ERR_NONE && code != HVR_ERR_NO_LENGTH && code != HVR_ERR_NO_MODIFIED;
}
