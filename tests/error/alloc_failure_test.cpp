// Every Nth allocation failing, over whole scenarios: the last error, the
// guards and the error list never leak and never crash.
#include <gtest/gtest.h>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/error_list.h"
#include "kelcore/error/os_error.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"

namespace {

class AllocFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The thread's object exists before the sweeps, as in any thread that
    // has used the library once.
    ASSERT_NE(nullptr, tTHREAD::LocateThreadObj());
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }
  void TearDown() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
};

void RaiseAndReadErrors() {
  tTHREAD::SetLastError(*kelrec::NewLibraryError(5) << "file.rec" << 7u);
  tTHREAD::SetLastError(*tOSERR::Make(3, 2) << "C:\\data\\file.dat");
  tTHREAD::SetLastError(kelcstream::NewLibraryError(0, 2));
  tMSG *error = tTHREAD::GetLastError();
  ASSERT_NE(nullptr, error);
  EXPECT_NE(nullptr, error->Format());
  tMSG *taken = tTHREAD::TakeOwnershipOfLastError();
  EXPECT_EQ(nullptr, tTHREAD::GetLastError());
  tTHREAD::SetLastError(taken);
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

TEST_F(AllocFailureTest, SetLastErrorWithFactoryMessages) {
  EXPECT_GT(kelcore_test::SweepAllocFailures(RaiseAndReadErrors), 0u);
  EXPECT_GT(kelcore_test::SweepAllocFailures(RaiseAndReadErrors, true), 0u);
}

TEST_F(AllocFailureTest, SetLastErrorWhileLogging) {
  kelcore_test::LogCapture log;
  EXPECT_GT(kelcore_test::SweepAllocFailures(RaiseAndReadErrors), 0u);
}

void GuardedWork() {
  tMSG *before = kelos::NewLibraryError(1);
  tTHREAD::SetLastError(before);
  {
    tLOCAL_ERRORS outer;
    tTHREAD::SetLastError(tOSERR::Make(2, 5));
    {
      tLOCAL_ERRORS inner;
      tTHREAD::SetLastError(*kelmsgfile::NewLibraryError1(0) << "catalog");
      tTHREAD::GetLastError()->Format();
    }
    tTHREAD::GetLastError()->Format();
  }
  EXPECT_EQ(before, tTHREAD::GetLastError());
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

TEST_F(AllocFailureTest, Guards) {
  EXPECT_GT(kelcore_test::SweepAllocFailures(GuardedWork), 0u);
  EXPECT_GT(kelcore_test::SweepAllocFailures(GuardedWork, true), 0u);
}

void CollectAndLog() {
  tERROR_LIST list;
  for (unsigned int i = 0; i < 3; ++i) {
    tMSG *msg = tOSERR::Make(i, 2);
    list.Add(*msg);
    // A message the list could not take stays with us.
    if (list.PeekLast() != msg) tMSG::Dispose(msg);
  }
  list.Log();
  tMSG *first = list.RemoveFirst();
  tMSG::Dispose(first);
  list.Reset(list.PeekFirst());
}

TEST_F(AllocFailureTest, ErrorListWhileLogging) {
  kelcore_test::LogCapture log;
  EXPECT_GT(kelcore_test::SweepAllocFailures(CollectAndLog), 0u);
  EXPECT_GT(kelcore_test::SweepAllocFailures(CollectAndLog, true), 0u);
}

}  // namespace
