# Installs the build into a fresh prefix, then builds the example host against it twice:
# with find_package(Harvo) and with pkg-config.
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
  RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
foreach(file include/harvo.h bin/harvo)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "missing after install: ${file}")
  endif()
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE}/tests/install/consumer -B ${WORK}/consumer
  -G Ninja -DCMAKE_PREFIX_PATH=${prefix} -DHOST_SOURCE=${SOURCE}/examples/host.cpp
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "find_package(Harvo) failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/consumer RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building against the installed package failed")
endif()

file(GLOB pcdir ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
execute_process(COMMAND pkg-config --cflags --libs harvo OUTPUT_VARIABLE flags
  RESULT_VARIABLE result OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know harvo")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
execute_process(COMMAND c++ -std=c++20 ${SOURCE}/examples/host.cpp ${flags} -o ${WORK}/host-pc
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building with pkg-config flags failed")
endif()
file(REMOVE_RECURSE ${WORK})
