// The local-error guard keeps the thread's error out of a block of work.
#include <gtest/gtest.h>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/error_list.h"
#include "kelcore/error/os_error.h"
#include "kelcore/sync/thread.h"

namespace {

class LocalErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
  void TearDown() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
};

TEST_F(LocalErrorsTest, GuardPutsTheErrorAsideAndBringsItBack) {
  tMSG *before = tOSERR::Make(1, 2);
  tTHREAD::SetLastError(before);
  {
    tLOCAL_ERRORS guard;
    EXPECT_EQ(nullptr, tTHREAD::GetLastError());
    tTHREAD::SetLastError(kelrec::NewLibraryError(5));
    EXPECT_NE(nullptr, tTHREAD::GetLastError());
  }
  EXPECT_EQ(before, tTHREAD::GetLastError());
}

TEST_F(LocalErrorsTest, GuardAroundAFailingOperation) {
  tMSG *before = kelapp::NewLibraryError(0);
  tTHREAD::SetLastError(before);
  {
    tLOCAL_ERRORS guard;
    tMSGCAT cat("Some catalog", "A.00.00", nullptr);
    char *text = nullptr;
    EXPECT_EQ(0xFFFFFFFFu, cat.GetMsg(0, 0, &text));
  }
  EXPECT_EQ(before, tTHREAD::GetLastError());
}

TEST_F(LocalErrorsTest, WithoutAnErrorBeforeTheGuardThereIsNoneAfter) {
  {
    tLOCAL_ERRORS guard;
    tTHREAD::SetLastError(kelrec::NewLibraryError(5));
  }
  EXPECT_EQ(nullptr, tTHREAD::GetLastError());
}

TEST_F(LocalErrorsTest, GuardsNestAndEachRestoresWhatItFound) {
  tMSG *outer = kelos::NewLibraryError(1);
  tTHREAD::SetLastError(outer);
  {
    tLOCAL_ERRORS first;
    tMSG *middle = kelos::NewLibraryError(2);
    tTHREAD::SetLastError(middle);
    {
      tLOCAL_ERRORS second;
      EXPECT_EQ(nullptr, tTHREAD::GetLastError());
      tTHREAD::SetLastError(kelos::NewLibraryError(3));
      {
        tLOCAL_ERRORS third;
        tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
      }
      EXPECT_EQ(3u, static_cast<tCATMSG *>(tTHREAD::GetLastError())->GetMsgId());
    }
    EXPECT_EQ(middle, tTHREAD::GetLastError());
  }
  EXPECT_EQ(outer, tTHREAD::GetLastError());
}

TEST_F(LocalErrorsTest, AStaticErrorSurvivesTheGuard) {
  tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
  {
    tLOCAL_ERRORS guard;
    tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
    tTHREAD::SetLastError(kelos::NewLibraryError(2));
  }
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
  EXPECT_STREQ("Out of memory", tTHREAD::GetLastError()->Format());
}

TEST_F(LocalErrorsTest, ErrorsCanBeCollectedFromGuardedSteps) {
  tERROR_LIST errors;
  for (unsigned int step = 0; step < 3; ++step) {
    tLOCAL_ERRORS guard;
    tTHREAD::SetLastError(kelfilesys::NewLibraryError(step));
    errors.Add(*tTHREAD::TakeOwnershipOfLastError());
  }
  EXPECT_EQ(nullptr, tTHREAD::GetLastError());
  EXPECT_EQ(0u, static_cast<tCATMSG *>(errors.PeekFirst())->GetMsgId());
  EXPECT_EQ(2u, static_cast<tCATMSG *>(errors.PeekLast())->GetMsgId());
}

}  // namespace
