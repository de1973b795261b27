// Environment variables and standard output for one test.
//
// ScopedEnv sets (or, with a null value, removes) environment variables and
// puts back what it found when it goes. StdoutToFile sends the process's
// standard output (descriptor 1 on POSIX, the standard output handle on
// Windows) to a file for its lifetime, so that what a program writes to the
// console can be read back.
#ifndef KELCORE_TESTS_SUPPORT_SCOPED_ENV_H
#define KELCORE_TESTS_SUPPORT_SCOPED_ENV_H

#include <string>
#include <utility>
#include <vector>

namespace kelcore_test {

class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

  // Sets `name` to `value` (null: removes it) until the object goes.
  ScopedEnv &Set(const char *name, const char *value);

 private:
  struct Saved {
    std::string name;
    bool was_set;
    std::string value;
  };
  std::vector<Saved> saved_;
};

// Sets or removes one variable now, for good.
void SetEnv(const char *name, const char *value);

class StdoutToFile {
 public:
  explicit StdoutToFile(const std::string &path);
  ~StdoutToFile();  // restores standard output
  StdoutToFile(const StdoutToFile &) = delete;
  StdoutToFile &operator=(const StdoutToFile &) = delete;

 private:
  int saved_ = -1;  // the descriptor standard output had
};

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SUPPORT_SCOPED_ENV_H
