# The lock contracts are checked by clang's thread-safety analysis: the probe must compile when
# it takes its locks and must be refused, naming the lock, when it does not. A build whose
# annotations expand to nothing (a wrong compiler test, a lost include) fails here.
#   cmake -DCLANG=<clang++> -DSOURCE=<tree> -DPROBE=<probe.cpp> -P check_thread_safety.cmake
set(flags -std=c++20 -fsyntax-only -Wthread-safety -Werror=thread-safety
          -I${SOURCE}/include -I${SOURCE}/src)

execute_process(COMMAND "${CLANG}" ${flags} -DPROBE_LOCKED "${PROBE}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the probe with its locks taken does not compile:\n${out}")
endif()

execute_process(COMMAND "${CLANG}" ${flags} "${PROBE}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(rc EQUAL 0)
  message(FATAL_ERROR "unlocked access to guarded values was accepted: the analysis is off")
endif()
foreach(field shown value)
  if(NOT out MATCHES "variable '${field}' requires holding")
    message(FATAL_ERROR "no thread-safety error for '${field}':\n${out}")
  endif()
endforeach()
