// Error lists: both ends, Reset, ownership, and writing to the log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/error_list.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"

namespace {

tMSG *Text(const char *text) { return new tMSGSTR(text, "test error", tMSG::eERROR); }

TEST(ErrorListTest, EmptyListHasNothingAtEitherEnd) {
  tERROR_LIST list;
  EXPECT_EQ(nullptr, list.PeekFirst());
  EXPECT_EQ(nullptr, list.PeekLast());
  EXPECT_EQ(nullptr, list.RemoveFirst());
  EXPECT_EQ(nullptr, list.RemoveLast());
  list.Reset(nullptr);
  EXPECT_EQ(nullptr, list.PeekFirst());
}

TEST(ErrorListTest, MessagesKeepTheirOrder) {
  tERROR_LIST list;
  tMSG *a = Text("a");
  tMSG *b = Text("b");
  tMSG *c = Text("c");
  list.Add(*a);
  list.Add(*b);
  list.Add(*c);
  EXPECT_EQ(a, list.PeekFirst());
  EXPECT_EQ(c, list.PeekLast());
  // Peeking leaves the messages in the list.
  EXPECT_EQ(a, list.PeekFirst());
}

TEST(ErrorListTest, BothEndsStayRightAfterRemovals) {
  tERROR_LIST list;
  tMSG *m[5];
  for (int i = 0; i < 4; ++i) {
    m[i] = Text("m");
    list.Add(*m[i]);
  }
  tMSG *first = list.RemoveFirst();
  tMSG *last = list.RemoveLast();
  EXPECT_EQ(m[0], first);
  EXPECT_EQ(m[3], last);
  EXPECT_EQ(m[1], list.PeekFirst());
  EXPECT_EQ(m[2], list.PeekLast());
  tMSG *second_last = list.RemoveLast();
  EXPECT_EQ(m[2], second_last);
  EXPECT_EQ(m[1], list.PeekFirst());
  EXPECT_EQ(m[1], list.PeekLast());
  tMSG *only = list.RemoveFirst();
  EXPECT_EQ(m[1], only);
  EXPECT_EQ(nullptr, list.PeekFirst());
  EXPECT_EQ(nullptr, list.PeekLast());
  // The list still works after running empty.
  m[4] = Text("again");
  list.Add(*m[4]);
  EXPECT_EQ(m[4], list.PeekFirst());
  EXPECT_EQ(m[4], list.PeekLast());
  // Removed messages belong to the caller.
  tMSG::Dispose(first);
  tMSG::Dispose(last);
  tMSG::Dispose(second_last);
  tMSG::Dispose(only);
}

TEST(ErrorListTest, RemoveFirstOfOneLeavesBothEndsEmpty) {
  tERROR_LIST list;
  tMSG *a = Text("a");
  list.Add(*a);
  EXPECT_EQ(a, list.RemoveFirst());
  EXPECT_EQ(nullptr, list.PeekLast());
  EXPECT_EQ(nullptr, list.PeekFirst());
  tMSG::Dispose(a);
}

TEST(ErrorListTest, ResetToAKeptMessageDropsOnlyLaterOnes) {
  tERROR_LIST list;
  tMSG *a = Text("a");
  tMSG *b = Text("b");
  list.Add(*a);
  list.Add(*b);
  list.Add(*Text("c"));
  list.Reset(b);
  EXPECT_EQ(a, list.PeekFirst());
  EXPECT_EQ(b, list.PeekLast());
  EXPECT_EQ(b, list.RemoveLast());
  EXPECT_EQ(a, list.PeekLast());
  tMSG::Dispose(b);
  // Reset to the last message changes nothing.
  list.Reset(a);
  EXPECT_EQ(a, list.PeekLast());
}

TEST(ErrorListTest, ResetToAMessageNotInTheListEmptiesIt) {
  tERROR_LIST list;
  list.Add(*Text("a"));
  list.Add(*Text("b"));
  tMSG *outsider = Text("outsider");
  list.Reset(outsider);
  EXPECT_EQ(nullptr, list.PeekFirst());
  EXPECT_EQ(nullptr, list.PeekLast());
  // The outsider is not the list's to dispose of.
  EXPECT_STREQ("outsider", outsider->Format());
  tMSG::Dispose(outsider);
}

TEST(ErrorListTest, StaticMessagesSurviveTheList) {
  {
    tERROR_LIST list;
    list.Add(tERRMSG::OutOfMemory);
    list.Add(*kelos::NewLibraryError(1));
    list.Add(tERRMSG::OutOfMemory);
    list.Reset(nullptr);
    list.Add(tERRMSG::OutOfMemory);
  }
  EXPECT_STREQ("Out of memory", tERRMSG::OutOfMemory.Format());
}

TEST(ErrorListTest, WithoutMemoryForTheNodeTheMessageStaysWithTheCaller) {
  tERROR_LIST list;
  tMSG *msg = Text("kept by caller");
  {
    kelcore_test::ScopedAllocFailure fail(1);
    list.Add(*msg);
    EXPECT_TRUE(fail.Triggered());
  }
  EXPECT_EQ(nullptr, list.PeekLast());
  tMSG::Dispose(msg);
}

TEST(ErrorListTest, NullReferenceIsIgnored) {
#if defined(KELCORE_TEST_UBSAN)
  GTEST_SKIP() << "binds a null reference on purpose";
#else
  tERROR_LIST list;
  tMSG *none = nullptr;
  list.Add(*none);
  EXPECT_EQ(nullptr, list.PeekFirst());
#endif
}

// --- Log

class ErrorListLogTest : public ::testing::Test {
 protected:
  void Fill(tERROR_LIST &list, int count) {
    const char *texts[] = {"first %0", "second %0", "third %0"};
    for (int i = 0; i < count; ++i) {
      tMSG *msg = Text(texts[i]);
      *msg << i;
      list.Add(*msg);
    }
  }
};

TEST_F(ErrorListLogTest, EmptyListWritesNothing) {
  kelcore_test::LogCapture log;
  tERROR_LIST list;
  list.Log();
  EXPECT_EQ("", log.Text());
}

TEST_F(ErrorListLogTest, OneMessageHasNoSeparators) {
  kelcore_test::LogCapture log;
  tERROR_LIST list;
  Fill(list, 1);
  list.Log();
  EXPECT_EQ(std::vector<std::string>({"first 0"}), log.Lines());
}

TEST_F(ErrorListLogTest, ThreeMessagesAreFramedBySeparators) {
  kelcore_test::LogCapture log;
  tERROR_LIST list;
  Fill(list, 3);
  list.Log();
  EXPECT_EQ(std::vector<std::string>(
                {"----------", "first 0", "second 1", "third 2", "----------"}),
            log.Lines());
}

TEST_F(ErrorListLogTest, SeparatorsFollowTheirLevelAndLabel) {
  tERROR_LIST list;
  Fill(list, 2);
  {
    // Level 0xC0 not enabled: only the messages, which ask for no level.
    kelcore_test::LogCapture log(0x01);
    list.Log();
    EXPECT_EQ(std::vector<std::string>({"first 0", "second 1"}), log.Lines());
  }
  {
    // Label "error" not accepted: the messages have no label.
    kelcore_test::LogCapture log(0xFFFFFFFFu, "os;thread");
    list.Log();
    EXPECT_EQ(std::vector<std::string>({"first 0", "second 1"}), log.Lines());
  }
}

TEST_F(ErrorListLogTest, CatalogMessagesAreLoggedWithTheirTexts) {
  kelcore_test::LogCapture log;
  tERROR_LIST list;
  list.Add(*kelos::NewLibraryError(4));
  list.Add(tERRMSG::OutOfMemory);
  list.Log();
  EXPECT_EQ(std::vector<std::string>(
                {"----------", "Message file not opened (OS library message catalog, set:0, msg:4)",
                 "Out of memory", "----------"}),
            log.Lines());
}

TEST_F(ErrorListLogTest, NothingIsWrittenWhileLoggingIsOff) {
  tERROR_LIST list;
  Fill(list, 3);
  {
    kelcore_test::LogCapture log;
    tLOGMGR::Suspend();
    list.Log();
    tLOGMGR::Resume();
    EXPECT_EQ("", log.Text());
  }
  list.Log();  // no log stream at all
}

}  // namespace
