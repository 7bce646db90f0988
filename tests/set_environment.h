// setenv and unsetenv for the tests on every system: Windows' C run-time
// has only _putenv, which sets the process environment the program reads.
#pragma once

#include <stdlib.h>

#ifdef _WIN32
#include <string>

inline int setenv(const char* name, const char* value, int) {
  return _putenv((std::string(name) + "=" + value).c_str());
}
inline int unsetenv(const char* name) { return _putenv((std::string(name) + "=").c_str()); }
#endif
