// fork() from a busy process (POSIX only; Windows has no fork()): while two
// threads start short threads, open files under names that need the
// case-insensitive lookup and make and drop messages, the main thread forks
// again and again. Every child makes library calls that take each lock the
// library holds process-wide (the thread list, the open-file table, the
// directory cache, the static messages' format cache) and must end within
// its time limit: a lock inherited in the locked state would hang it.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"
#include "tests/support/temp_dir.h"

namespace {

// Opens and closes the file through a name spelled in another case.
[[maybe_unused]] unsigned int OpenAndClose(const std::string &name) {
  tOSFILE f;
  f.SetName(name.c_str());
  unsigned int status = f.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYNONE);
  if (status == 0) status = f.Close();
  return status;
}

// A message made, set as the last error, formatted and dropped.
[[maybe_unused]] void UseMessages() {
  tTHREAD::SetLastError(tOSERR::Make(0, 2));
  const tMSG *msg = tTHREAD::GetLastError();
  if (msg != nullptr) const_cast<tMSG *>(msg)->Format();
  tERRMSG::OutOfMemory.Format();
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
}

TEST(Fork, AChildOfABusyProcessNeverHangsOnItsFirstLibraryCalls) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer refuses threads after a threaded fork()";
#else
  kelcore_test::TempDir tmp;
  std::string file = tmp.File("Probe.dat");
  FILE *made = std::fopen(file.c_str(), "w");
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  const std::string other = tmp.File("PROBE.DAT");  // found through the directory cache
  ASSERT_EQ(0u, OpenAndClose(other));

  std::atomic<bool> stop{false};
  auto busy = [&](int kind) {
    while (!stop.load()) {
      if (kind == 0) {
        std::thread([] { UseMessages(); }).join();  // a short thread: listed, then gone
      } else {
        OpenAndClose(other);
        UseMessages();
      }
    }
  };
  std::thread a(busy, 0), b(busy, 1);
  const int kChildren = 1000;
  int stuck = 0, failed = 0;
  for (int i = 0; i < kChildren; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      alarm(10);  // a child that hangs is killed, and counted as stuck
      UseMessages();
      int bad = OpenAndClose(other) != 0;
      bad |= (OpenAndClose(tmp.File("probe.dat")) != 0) << 1;
#if !defined(__SANITIZE_ADDRESS__)  // whose thread registry a threaded fork() may leave locked
      std::thread([] { UseMessages(); }).join();
#endif
      delete new tTHREAD;
      _exit(bad);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) {
      ++stuck;
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++failed;
    }
  }
  stop = true;
  a.join();
  b.join();
  EXPECT_EQ(0, stuck) << "children stuck in a library call, of " << kChildren;
  EXPECT_EQ(0, failed) << "children whose calls failed, of " << kChildren;
#endif
}

}  // namespace
#endif  // !_WIN32
