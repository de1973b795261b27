#include <gtest/gtest.h>

#include "tests/msg/client_compile_check.cpp"

TEST(ClientCompileCheck, HoldsInThisLanguageMode) { EXPECT_EQ(KelcoreClientCompileCheck(), 0); }
