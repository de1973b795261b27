#include "tests/support/message_file.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tools/kelmsgc/msgc.h"

namespace kelcore_test {

std::string CompileCatalogs(const std::vector<std::string> &sources) {
  kelmsgc::tCOMPILER compiler;
  std::string bytes;
  for (const std::string &source : sources) {
    if (!compiler.AddSource("test.msg", source)) {
      ADD_FAILURE() << compiler.Error();
      return std::string();
    }
  }
  if (!compiler.Write(&bytes)) ADD_FAILURE() << compiler.Error();
  return bytes;
}

RegisteredMessageFile::RegisteredMessageFile(const std::string &path,
                                             const std::vector<std::string> &sources) {
  EXPECT_TRUE(WriteWholeFile(path, CompileCatalogs(sources)));
  file_.reset(new tMSGFILE);
  file_->SetFile(path.c_str(), nullptr, nullptr, nullptr);
}

RegisteredMessageFile::RegisteredMessageFile(const std::string &path) : file_(new tMSGFILE) {
  file_->SetFile(path.c_str(), nullptr, nullptr, nullptr);
}

}  // namespace kelcore_test
