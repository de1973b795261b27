// Helpers shared by the name tests.
#ifndef KELCORE_TESTS_NAMES_NAMES_TEST_UTIL_H
#define KELCORE_TESTS_NAMES_NAMES_TEST_UTIL_H

#include <cstdlib>
#include <memory>
#include <string>

#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"

namespace names_test {

enum Conv { kDos, kUnix };

inline const char *ConvName(Conv c) { return c == kDos ? "dos" : "unix"; }

inline std::unique_ptr<tPHYFILENAMEOBJ> Make(Conv c, const char *text = nullptr) {
  if (c == kDos) return std::unique_ptr<tPHYFILENAMEOBJ>(new tPCFILENAME(text));
  return std::unique_ptr<tPHYFILENAMEOBJ>(new tUNIXFILENAME(text));
}

inline std::string Text(const tPHYFILENAMEOBJ &n) { return n.GetName(); }

// NULL stands for "unset".
inline void SetEnv(const char *name, const char *value) {
#ifdef _WIN32
  std::string s = std::string(name) + "=" + (value ? value : "");
  _putenv(s.c_str());
  // _putenv("X=") removes X; an empty value needs SetEnvironmentVariable,
  // which getenv does not see, so tests of empty values skip on Windows.
#else
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

}  // namespace names_test

#endif  // KELCORE_TESTS_NAMES_NAMES_TEST_UTIL_H
