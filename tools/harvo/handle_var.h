// A library handle variable that is closed when it goes.
#ifndef HARVO_TOOLS_HANDLE_VAR_H
#define HARVO_TOOLS_HANDLE_VAR_H

#include "harvo.h"

class HandleVar {
 public:
  HandleVar() = default;
  // HvrClose is called after a failed HvrOpen too: the handle is stored all the same.
  ~HandleVar() {
    int reserved = 0;
    if (handle_ != nullptr) HvrClose(&handle_, &reserved);
  }
  HandleVar(const HandleVar&) = delete;
  HandleVar& operator=(const HandleVar&) = delete;

  KtWdlManager** address() { return &handle_; }

 private:
  KtWdlManager* handle_ = nullptr;
};

#endif  // HARVO_TOOLS_HANDLE_VAR_H
