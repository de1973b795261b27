// The order of the library's locks: traces, records and catalog reads of
// several threads together.
//
// A catalog read holds its message file's lock, and every physical read
// under it writes an "os" record, which takes the log's lock. Nothing may
// therefore take a message file's lock while it holds the log's: block
// traces, trace lines and records format their messages (catalog lookups)
// before they take it. The scenario runs in a child process with a time
// limit, so that a deadlock fails the test instead of hanging the suite;
// under ThreadSanitizer its deadlock detector also reports an inverted
// order that happened not to deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/error_list.h"
#include "kelcore/log/block_trace.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/sync/thread.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/message_file.h"
#include "tests/support/temp_dir.h"

namespace {

const unsigned int kRecMessages = 300;
const int kRounds = 400;
// Far more than the rounds take, even under ThreadSanitizer or Wine; a
// deadlock shows as no progress at all.
const int kLimitSeconds = 30;

// An OS catalog for the traces' messages, and a REC catalog large enough
// that reading its messages in a scattered order keeps reading the file.
std::vector<std::string> Sources() {
  std::string os = "$catalog OS library message catalog\n$version A.02.00\n$set 0\n";
  for (int n = 0; n < 20; ++n) os += std::to_string(n) + " os message " + std::to_string(n) + "\n";
  std::string rec = "$catalog REC library message catalog\n$version A.00.00\n$set 0\n";
  for (unsigned int n = 0; n < kRecMessages; ++n) {
    rec += std::to_string(n) + " rec message " + std::to_string(n) + " " + std::string(120, 'r') +
           "\n";
  }
  return {os, rec};
}

// Three threads on one message file with every level enabled: block traces
// under catalog messages, catalog reads (each physical read an "os"
// record), and last errors and error lists of catalog messages ("thread"
// and error-list records). Exit code 0 when all of them finish.
KELCORE_CHILD_MAIN(lock_order_traces_records_catalogs) {
  if (args.size() != 1) return 2;
  kelcore_test::RegisteredMessageFile file(args[0]);
  kelcore_test::LogCapture log(0xFFFFFFFFu);
  std::atomic<int> finished(0);
  std::thread watchdog([&finished] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kLimitSeconds);
    while (finished.load() < 3) {
      if (std::chrono::steady_clock::now() > until) {
        std::fprintf(stderr, "no progress within %d s: deadlock\n", kLimitSeconds);
        std::fflush(stderr);
        std::_Exit(3);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<std::thread> threads;
  threads.emplace_back([&finished] {
    tTHREAD::LocateThreadObj();
    for (int r = 0; r < kRounds; ++r) {
      tMSG *msg = kelos::NewLibraryError(static_cast<unsigned int>(r % 20));
      tBTRACE trace(*msg, 0);  // active with every level: takes the message
      tBTRACE inner("inner", 0);
    }
    tTHREAD::DeleteAutoThreadObject();
    ++finished;
  });
  threads.emplace_back([&finished] {
    tTHREAD::LocateThreadObj();
    for (int r = 0; r < kRounds; ++r) {
      char *text = nullptr;
      kelrec::Catalog().GetMsg(0, static_cast<unsigned int>(r * 37) % kRecMessages, &text);
      delete[] text;
    }
    tTHREAD::DeleteAutoThreadObject();
    ++finished;
  });
  threads.emplace_back([&finished] {
    tTHREAD::LocateThreadObj();
    for (int r = 0; r < kRounds; ++r) {
      tTHREAD::SetLastError(kelrec::NewLibraryError(static_cast<unsigned int>(r * 53) % kRecMessages));
      tERROR_LIST list;
      list.Add(*kelos::NewLibraryError(static_cast<unsigned int>(r % 20)));
      list.Add(*kelrec::NewLibraryError(static_cast<unsigned int>(r * 11) % kRecMessages));
      list.Log();
    }
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
    tTHREAD::DeleteAutoThreadObject();
    ++finished;
  });
  for (std::thread &t : threads) t.join();
  watchdog.join();
  // The traces' lines name their catalog texts.
  return log.Text().find("Enter:1:os message 7") != std::string::npos ? 0 : 4;
}

TEST(LockOrder, TracesRecordsAndCatalogReadsOfSeveralThreadsMakeProgress) {
  kelcore_test::TempDir tmp;
  const std::string path = tmp.File("locks.cat");
  { kelcore_test::RegisteredMessageFile compile(path, Sources()); }
  for (int run = 0; run < 3; ++run) {
    kelcore_test::ChildProcess child;
    ASSERT_TRUE(child.Start("lock_order_traces_records_catalogs", {path}));
    EXPECT_EQ(0, child.Wait()) << "run " << run;
  }
}

}  // namespace
