// Status codes and the translation tables.
#include <gtest/gtest.h>

#include "kelcore/error/os_error.h"
#include "kelcore/error/status.h"
#include "kelcore/error/util.h"

namespace {

TEST(StatusTest, CodesHaveTheirNumbers) {
  EXPECT_EQ(0u, tSTATUS::cSUCCESS);
  EXPECT_EQ(1u, tSTATUS::cNOT_FOUND);
  EXPECT_EQ(2u, tSTATUS::cALREADY_EXISTS);
  EXPECT_EQ(3u, tSTATUS::cACCESS_DENIED);
  EXPECT_EQ(4u, tSTATUS::cEND_OF_FILE);
  EXPECT_EQ(5u, tSTATUS::cINTERRUPTED);
  EXPECT_EQ(6u, tSTATUS::cLOCKED);
  EXPECT_EQ(7u, tSTATUS::cVERSION_MISMATCH);
  EXPECT_EQ(8u, tSTATUS::cRECORD_TOO_LONG);
  EXPECT_EQ(9u, tSTATUS::cRECORD_TOO_SHORT);
  EXPECT_EQ(10u, tSTATUS::cCATALOG_NOT_FOUND);
  EXPECT_EQ(0xFFFFFFFFu, tSTATUS::cFAILURE);
  unsigned int status = tSTATUS::cFAILURE;  // an unsigned int result as it is
  EXPECT_EQ(0xFFFFFFFFu, status);
}

TEST(XlateTest, FirstMatchingRowWins) {
  const tUTIL::tXLATETBL table[] = {{7, 70}, {8, 80}, {7, 71}, {0, 99}};
  EXPECT_EQ(70u, tUTIL::Xlate(7, table));
  EXPECT_EQ(80u, tUTIL::Xlate(8, table));
}

TEST(XlateTest, UnknownValuesAndZeroGiveTheDefault) {
  const tUTIL::tXLATETBL table[] = {{7, 70}, {0, 99}, {5, 50}};
  EXPECT_EQ(99u, tUTIL::Xlate(6, table));
  EXPECT_EQ(99u, tUTIL::Xlate(0, table));
  // Rows after the end row are never reached.
  EXPECT_EQ(99u, tUTIL::Xlate(5, table));
}

TEST(XlateTest, EmptyTableAndNullTable) {
  const tUTIL::tXLATETBL empty[] = {{0, 3}};
  EXPECT_EQ(3u, tUTIL::Xlate(1, empty));
  EXPECT_EQ(0xFFFFFFFFu, tUTIL::Xlate(1, nullptr));
}

struct Row {
  int code;
  unsigned int status;
};

TEST(OsErrorTest, Win32CodesTranslateRowByRow) {
  const Row rows[] = {
      {2, 1},      {3, 1},      {5, 3},      {19, 3},     {32, 3},     {33, 6},
      {80, 2},     {145, 3},    {183, 2},    {18, 1},     {0xF002, 3}, {0xF004, 3},
      {0xF005, 3}, {0xF000, 2}, {0xF006, 3},
  };
  for (const Row &r : rows) EXPECT_EQ(r.status, tOSERR::ToStatus(r.code)) << r.code;
}

TEST(OsErrorTest, OtherWin32CodesAreFailures) {
  const int others[] = {0, 1, 4, 6, 8, 87, 112, 0xF001, 0xF003, 0xF007, 0xF009, -1};
  for (int code : others) EXPECT_EQ(0xFFFFFFFFu, tOSERR::ToStatus(code)) << code;
}

TEST(ErrnoTest, ErrnoValuesTranslateRowByRow) {
  const Row rows[] = {{2, 1}, {13, 3}, {17, 2}, {4, 5}, {0xF000, 2}, {0xF006, 3}};
  for (const Row &r : rows) EXPECT_EQ(r.status, tERRNO::ToStatus(r.code)) << r.code;
}

TEST(ErrnoTest, OtherErrnoValuesAreFailures) {
  const int others[] = {0, 1, 5, 22, 28, 0xF002, -2};
  for (int err : others) EXPECT_EQ(0xFFFFFFFFu, tERRNO::ToStatus(err)) << err;
}

}  // namespace
