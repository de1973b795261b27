// Shared main() of every test program: runs a child entry point when asked
// to (see child_process.h), otherwise the GoogleTest suite.
#include <gtest/gtest.h>

#include "tests/support/child_process.h"

int main(int argc, char **argv) {
  kelcore_test::SetSelfPath(argv[0]);
  int code = 0;
  if (kelcore_test::MaybeRunChild(argc, argv, &code)) return code;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
