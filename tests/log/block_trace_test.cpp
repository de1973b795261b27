// Starting and stopping the log (start, level and stop lines, the clean-up
// that lets it start again) and block traces.
#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kelcore/app/os_calls.h"
#include "kelcore/log/block_trace.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"

namespace {

using kelcore_test::LogCapture;
using Lines = std::vector<std::string>;
using kelcore_test::SplitLines;

// The C library's ctime text of `t` without its line end. The log pads the
// day with a blank as the C standard's layout does; Microsoft's runtime
// pads it with a zero.
std::string CTime(std::time_t t) {
  std::string text = std::string(std::ctime(&t)).substr(0, 24);
  if (text[8] == '0') text[8] = ' ';
  return text;
}

// The line `prefix` + the local time, at `before` or a second after it.
bool IsTimeLine(const std::string &line, const char *prefix, std::time_t before) {
  return line == prefix + CTime(before) || line == prefix + CTime(before + 1);
}

TEST(LogManager, BracketsEachRunWithStartLevelAndStopLinesAndCleansUp) {
  std::ostringstream stream;
  std::time_t now = std::time(nullptr);
  tMSG *pending = new tMSGSTR("pending", "test error", tMSG::eERROR);
  tTHREAD::SetLastError(pending);
  for (int run = 0; run < 2; ++run) {  // the second Start works as the first
    tSTDLOGFILE log;
    tLOGMGR::Start(stream, 196, "app");
    EXPECT_NE(nullptr, tLOGMGR::pSyncObj);  // a lock of its own
    EXPECT_STREQ("Enter:%0:%1", tLOGMGR::pEnterStr);
    tLOGMGR::SetStampFmt("<%0> ");
    ASSERT_NE(0, tLOGMGR::Begin("app", 0x04));
    *tLOGMGR::pLogFile << "stamped\n";
    tLOGMGR::End();
    EXPECT_EQ(0, tLOGMGR::Begin("os", 0));  // refused by its label
    tLOGMGR::SetStampFmt(nullptr);
    ASSERT_NE(0, tLOGMGR::Begin(nullptr, 0xC0));
    *tLOGMGR::pLogFile << "plain\n";
    tLOGMGR::End();
  }
  // The destructor left nothing behind, and the last error is untouched.
  const void *left[] = {tLOGMGR::pLogFile, tLOGMGR::pSyncObj,  tLOGMGR::pStampStr,
                        tLOGMGR::pEnterStr, tLOGMGR::pLeaveStr, tLOGMGR::pClassNames};
  for (const void *&p : left) EXPECT_EQ(nullptr, p) << &p - left;
  EXPECT_EQ(pending, tTHREAD::GetLastError());
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  tLOGMGR::Stop();  // stopped already: nothing

  const Lines lines = SplitLines(stream.str());
  ASSERT_EQ(10u, lines.size()) << stream.str();
  const std::string stamp = "<" + std::to_string(tOSSYSCALLS::GetCurrentProcessId()) + "> stamped";
  for (const std::string *run = &lines[0]; run < &lines[0] + 10; run += 5) {
    EXPECT_TRUE(IsTimeLine(run[0], ">>>>>>>>>> ", now)) << run[0];
    EXPECT_EQ(Lines({"Logging level: 0x000000C4", stamp, "plain"}), Lines(run + 1, run + 4));
    EXPECT_TRUE(IsTimeLine(run[4], "<<<<<<<<<< ", now)) << run[4];
  }
}

// One trace configuration: the levels of nested traces, outermost first.
Lines Traced(unsigned int mask, std::vector<unsigned int> levels) {
  LogCapture log(mask, nullptr, "<stamp> ");  // trace lines carry no stamp
  std::vector<tBTRACE *> traces;
  for (std::size_t i = 0; i < levels.size(); ++i) {
    traces.push_back(new tBTRACE(std::string(1, static_cast<char>('a' + i)).c_str(), levels[i]));
  }
  while (!traces.empty()) {
    delete traces.back();
    traces.pop_back();
  }
  return log.Lines();
}

TEST(BlockTrace, WritesDepthsOfActiveTracesAndSilencesWithin0x20) {
  tTHREAD::LocateThreadObj();
  const struct {
    unsigned int mask;
    std::vector<unsigned int> levels;
    Lines lines;
  } cases[] = {
      {0x10, {0}, {"Enter:1:a", "Leave:1:a"}},
      {0, {0}, {}},
      {0x11, {0x01}, {"Enter:1:a", "Leave:1:a"}},
      {0x10, {0x01}, {}},
      {0x10, {0, 0, 0}, {"Enter:1:a", "Enter:2:b", "Enter:3:c", "Leave:3:c", "Leave:2:b", "Leave:1:a"}},
      // An inactive trace is not counted.
      {0x10, {0, 0x01, 0}, {"Enter:1:a", "Enter:2:c", "Leave:2:c", "Leave:1:a"}},
      // An inactive trace with 0x20 silences everything within it.
      {0x10, {0x21, 0, 0}, {}},
      {0x10, {0, 0x21, 0x20, 0}, {"Enter:1:a", "Leave:1:a"}},
      {0x30, {0x20, 0}, {"Enter:1:a", "Enter:2:b", "Leave:2:b", "Leave:1:a"}},
  };
  for (const auto &c : cases) EXPECT_EQ(c.lines, Traced(c.mask, c.levels)) << std::hex << c.mask;

  LogCapture log(0x10);
  {
    tBTRACE silencer("quiet", 0x21);
    tBTRACE inner("inner", 0);
  }
  tBTRACE after("after", 0);  // written again once the silencer ended
  EXPECT_EQ(Lines({"Enter:1:after"}), log.Lines());
}

// Trace lines are built without a message; they read as the message of
// the line format with %0 the depth and %1 the trace message would.
TEST(BlockTrace, LinesReadAsMessagesOfTheirFormats) {
  tTHREAD::LocateThreadObj();
  const std::string long_text(1100, 'x');
  const struct {
    const char *format;
    std::string text;
  } cases[] = {{"Enter:%0:%1", "block"},
               {"%1 at %0'%03u' %0'%s'", "spec"},       // specs: checked, or ignored
               {"%%%0%x%2%9|%1'%-9s'|%", "percent"},  // escapes, missing, a trailing '%'
               {"[%1]%0", long_text},                 // cut at 1023 characters
               {"", "empty"},
               {"%1%1%1", long_text}};
  char *const saved[2] = {tLOGMGR::pEnterStr, tLOGMGR::pLeaveStr};
  for (const auto &c : cases) {
    std::string format = c.format;
    tLOGMGR::pEnterStr = tLOGMGR::pLeaveStr = &format[0];
    LogCapture log(0x10);
    {
      tBTRACE outer(c.text.c_str(), 0);
      tBTRACE inner(c.text.c_str(), 0);
    }
    Lines expected;
    for (unsigned int depth : {1u, 2u, 2u, 1u}) {
      tTRACEMSG block("%0");
      tMSGSTR line(c.format, "test line", tMSG::eINFORMATION);
      line << depth << (block << c.text.c_str());
      expected.push_back(line.Format());
    }
    EXPECT_EQ(expected, log.Lines()) << c.format;
  }
  tLOGMGR::pEnterStr = saved[0];
  tLOGMGR::pLeaveStr = saved[1];
}

TEST(BlockTrace, MessageFormsRecordsInProgressAndMissingMemory) {
  tTHREAD::LocateThreadObj();
  LogCapture log(0x10);
  tMSG *taken = new tMSGSTR("copy %0", "test trace", tMSG::eINFORMATION);
  { tBTRACE trace(*taken << "a.txt", 0); }  // active: disposes of the message
  tMSGSTR kept("kept", "test trace", tMSG::eINFORMATION);
  { tBTRACE trace(kept, 0x01); }  // inactive: leaves it alone
  ASSERT_NE(0, tLOGMGR::Begin(nullptr, 0));
  { tBTRACE trace("inside a record", 0); }
  tLOGMGR::End();
  {
    tBTRACE trace(static_cast<const char *>(nullptr), 0);
    kelcore_test::ScopedAllocFailure fail(1);
    tBTRACE starved("starved", 0);  // active and counted, but silent
    tBTRACE counted("counted", 0);
  }
  EXPECT_EQ(Lines({"Enter:1:copy a.txt", "Leave:1:copy a.txt", "Enter:1:(null)", "Enter:3:counted",
                   "Leave:3:counted", "Leave:1:(null)"}),
            log.Lines());
  EXPECT_STREQ("kept", kept.Format());
}

TEST(BlockTrace, ThreadsTraceIndependentlyAndNeedTheirThreadObject) {
  LogCapture log(0x10);
  const int kThreads = 8, kRounds = 50;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([i] {
      tTHREAD::LocateThreadObj();
      const std::string name = "t" + std::to_string(i);
      for (int r = 0; r < kRounds; ++r) {
        tBTRACE outer(name.c_str(), 0);
        tBTRACE inner(name.c_str(), 0);
      }
      tTHREAD::DeleteAutoThreadObject();
    });
  }
  std::thread bare([] {  // never used the library: no thread object
    { tBTRACE trace("bare", 0); }
    EXPECT_EQ(nullptr, tTHREAD::GetThreadObj());
  });
  for (std::thread &t : threads) t.join();
  bare.join();
  std::vector<Lines> per_thread(kThreads);
  for (const std::string &line : log.Lines()) {
    std::size_t t = line.rfind(":t");
    ASSERT_NE(std::string::npos, t) << line;
    per_thread[std::stoi(line.substr(t + 2))].push_back(line.substr(0, t));
  }
  Lines rounds;
  for (int r = 0; r < kRounds; ++r)
    rounds.insert(rounds.end(), {"Enter:1", "Enter:2", "Leave:2", "Leave:1"});
  for (const Lines &lines : per_thread) EXPECT_EQ(rounds, lines);
}

TEST(BlockTrace, LoggingStoppedInsideABlockWritesNoExitLine) {
  LogCapture log(0x10);
  std::thread worker([] {  // its trace depth goes with it
    tTHREAD::LocateThreadObj();
    {
      tBTRACE trace("stopped", 0);
      tLOGMGR::Suspend();
    }
    tLOGMGR::Resume();
    { tBTRACE next("next", 0); }  // the depth was left as it was
    tTHREAD::DeleteAutoThreadObject();
  });
  worker.join();
  EXPECT_EQ(Lines({"Enter:1:stopped", "Enter:2:next", "Leave:2:next"}), log.Lines());
}

}  // namespace
