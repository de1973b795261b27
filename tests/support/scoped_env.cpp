#include "tests/support/scoped_env.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
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
#if defined(_WIN32)
  saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
  file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetStdHandle(STD_OUTPUT_HANDLE, file_);
#else
  saved_ = dup(1);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, 1);
  close(fd);
#endif
}

StdoutToFile::~StdoutToFile() {
  std::cout.flush();
  std::fflush(stdout);
#if defined(_WIN32)
  SetStdHandle(STD_OUTPUT_HANDLE, saved_);
  CloseHandle(file_);
#else
  dup2(saved_, 1);
  close(saved_);
#endif
}

}  // namespace kelcore_test
