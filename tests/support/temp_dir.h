// A fresh, empty directory for one test, removed with everything in it when
// the test ends.
#ifndef KELCORE_TESTS_SUPPORT_TEMP_DIR_H
#define KELCORE_TESTS_SUPPORT_TEMP_DIR_H

#include <string>

#include <gtest/gtest.h>

namespace kelcore_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  // Native path of the directory, without a trailing separator.
  const std::string &path() const { return path_; }
  // path() + separator + name.
  std::string File(const std::string &name) const;

 private:
  std::string path_;
};

// GoogleTest fixture owning a TempDir as `tmp`.
class TempDirTest : public ::testing::Test {
 protected:
  TempDir tmp;
};

// Writes `bytes` to a new file (replacing any), returns false on failure.
bool WriteWholeFile(const std::string &path, const std::string &bytes);
// Reads a whole file; returns false when it cannot be opened.
bool ReadWholeFile(const std::string &path, std::string *bytes);

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SUPPORT_TEMP_DIR_H
