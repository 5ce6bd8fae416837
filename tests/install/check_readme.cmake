# The README's host example is examples/host.cpp, word for word.
file(READ ${SOURCE}/README.md readme)
file(READ ${SOURCE}/examples/host.cpp host)
string(FIND "${readme}" "```cpp\n${host}```" at)
if(at EQUAL -1)
  message(FATAL_ERROR "README.md does not show examples/host.cpp as it is")
endif()
