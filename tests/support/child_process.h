// Running a second process in tests.
//
// Every test program can act as its own child: a test registers a child
// entry point with KELCORE_CHILD_MAIN(name) and starts it with
// ChildProcess::Start("name", {args...}). The program is re-run with
// "--kelcore-child=name args..." and the shared main() (tests/support/main.cpp)
// calls the entry point instead of GoogleTest; its result is the exit code.
//
// Parent and child rendezvous through files: the child creates a file when
// it reaches a point (TouchFile), the parent waits for it (WaitForFile).
#ifndef KELCORE_TESTS_SUPPORT_CHILD_PROCESS_H
#define KELCORE_TESTS_SUPPORT_CHILD_PROCESS_H

#include <string>
#include <vector>

namespace kelcore_test {

typedef int (*ChildMain)(const std::vector<std::string> &args);

// Registers a child entry point; used by KELCORE_CHILD_MAIN.
bool RegisterChildMain(const char *name, ChildMain fn);

// Called from main(): if argv asks for a child, runs it and stores its exit
// code in *exit_code, returning true.
bool MaybeRunChild(int argc, char **argv, int *exit_code);

// Remembers argv[0] so that children can be started.
void SetSelfPath(const char *argv0);

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills the child if it is still running
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;

  bool Start(const std::string &name, const std::vector<std::string> &args);
  // Waits for the child to end; returns its exit code, or -1 on failure or
  // when it was killed.
  int Wait();
  // The same within `timeout_ms`; a child still running then is killed and
  // the result is -2, so that a hang fails a test instead of the suite.
  int WaitFor(int timeout_ms);
  // Ends the child abruptly, as a crash would (SIGKILL / TerminateProcess).
  void Kill();
  bool Running() const { return started_; }

 private:
  bool started_ = false;
#if defined(_WIN32)
  void *process_ = nullptr;
#else
  int pid_ = -1;
#endif
};

void TouchFile(const std::string &path);
// Polls for `path` to exist; false after `timeout_ms`.
bool WaitForFile(const std::string &path, int timeout_ms = 20000);
void SleepMs(int ms);

}  // namespace kelcore_test

#define KELCORE_CHILD_MAIN(name)                                                  \
  static int kelcore_child_##name(const std::vector<std::string> &args);          \
  static const bool kelcore_child_registered_##name =                            \
      ::kelcore_test::RegisterChildMain(#name, &kelcore_child_##name);            \
  static int kelcore_child_##name(const std::vector<std::string> &args)

#endif  // KELCORE_TESTS_SUPPORT_CHILD_PROCESS_H
