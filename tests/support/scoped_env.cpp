#include "tests/support/scoped_env.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include <fcntl.h>

#if defined(_WIN32)
#  include <io.h>
#  include <windows.h>
#else
#  include <unistd.h>
#  define O_BINARY 0
#endif

namespace kelcore_test {

void SetEnv(const char *name, const char *value) {
#if defined(_WIN32)
  // An empty value removes the variable.
  _putenv_s(name, value != nullptr ? value : "");
#else
  if (value != nullptr) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
#endif
}

ScopedEnv &ScopedEnv::Set(const char *name, const char *value) {
  const char *old = std::getenv(name);
  saved_.push_back(Saved{name, old != nullptr, old != nullptr ? old : ""});
  SetEnv(name, value);
  return *this;
}

ScopedEnv::~ScopedEnv() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    SetEnv(it->name.c_str(), it->was_set ? it->value.c_str() : nullptr);
  }
}

StdoutToFile::StdoutToFile(const std::string &path) {
  std::cout.flush();
  std::fflush(stdout);
  saved_ = dup(1);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY, 0644);
  dup2(fd, 1);
  close(fd);
#if defined(_WIN32)
  // The runtime's descriptor 1 and the system's standard handle both lead
  // to the file: stdio and cout write through the one, the console calls
  // through the other.
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
#endif
}

StdoutToFile::~StdoutToFile() {
  std::cout.flush();
  std::fflush(stdout);
  dup2(saved_, 1);
  close(saved_);
#if defined(_WIN32)
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
#endif
}

}  // namespace kelcore_test
