// Message files for tests, compiled from catalog source with the catalog
// compiler (tools/kelmsgc) in process.
#ifndef KELCORE_TESTS_SUPPORT_MESSAGE_FILE_H
#define KELCORE_TESTS_SUPPORT_MESSAGE_FILE_H

#include <memory>
#include <string>
#include <vector>

#include "kelcore/catalog/message_file.h"

namespace kelcore_test {

// The message file's bytes for `sources` (compiled in order); on a compile
// error, fails the current test and returns what was compiled (nothing).
std::string CompileCatalogs(const std::vector<std::string> &sources);

// Writes the compiled `sources` to `path` and registers a tMSGFILE for it
// (no identification or versions expected) for this object's life.
class RegisteredMessageFile {
 public:
  RegisteredMessageFile(const std::string &path, const std::vector<std::string> &sources);
  // Registers `path` as it is.
  explicit RegisteredMessageFile(const std::string &path);
  tMSGFILE &file() { return *file_; }

 private:
  std::unique_ptr<tMSGFILE> file_;
};

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_SUPPORT_MESSAGE_FILE_H
