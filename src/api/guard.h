// No exception crosses an export: every export body runs inside Guarded.
#ifndef HARVO_API_GUARD_H
#define HARVO_API_GUARD_H

#include <utility>

template <typename Result, typename Body>
Result Guarded(Result onException, Body&& body) noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    return onException;
  }
}

#endif  // HARVO_API_GUARD_H
