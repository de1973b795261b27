// kelini as users run it: a table of command lines with their output,
// error text and exit status on one file; two processes changing one file
// at once; and a save that hits the file-size limit (a full disk). The
// program is started as a separate process with fork and exec, so these
// tests are for Linux (POSIX); elsewhere they skip. The tool itself is
// built on every system.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

#if defined(__unix__) && defined(KELINI_PROGRAM)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#define KELINI_TESTS 1
#endif

namespace {

using kelcore_test::ReadWholeFile;
using kelcore_test::TempDirTest;
using kelcore_test::WriteWholeFile;

#if KELINI_TESTS

struct Result {
  int status;  // exit status; -1 when killed or not run
  std::string out;
  std::string err;
};

// Waits for `pid` at most `seconds`, then kills it: a hang fails the test
// instead of the suite. The exit status, or -1.
int WaitLimited(pid_t pid, int seconds) {
  int status = 0;
  for (int waited_ms = 0;; waited_ms += 10) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    if (waited_ms >= seconds * 1000) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    struct timespec ts = {0, 10 * 1000 * 1000};
    nanosleep(&ts, nullptr);
  }
}

// Everything left in the pipe's read end, which is then closed.
std::string Drain(int fd) {
  std::string bytes;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

// Runs kelini with `args`; its output and errors come through pipes (a pipe
// has no file-size limit, and the outputs here stay far below a pipe's
// capacity). With `fileSizeLimit`, the child may write no file larger than
// that (SIGXFSZ ignored, so a write past it fails with EFBIG as on a full
// disk).
struct Started {
  pid_t pid;
  int out;
  int err;
};

Started Start(const std::vector<std::string> &args, long fileSizeLimit = -1) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return Started{-1, -1, -1};
  pid_t pid = fork();
  if (pid == 0) {
    if (dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0) _exit(126);
    close(out[0]), close(out[1]), close(err[0]), close(err[1]);
    if (fileSizeLimit >= 0) {
      struct rlimit limit = {static_cast<rlim_t>(fileSizeLimit),
                             static_cast<rlim_t>(fileSizeLimit)};
      signal(SIGXFSZ, SIG_IGN);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(KELINI_PROGRAM));
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execv(KELINI_PROGRAM, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  return Started{pid, out[0], err[0]};
}

Result Finish(const Started &run) {
  Result r = {run.pid > 0 ? WaitLimited(run.pid, 60) : -1, "", ""};
  if (run.out >= 0) r.out = Drain(run.out);
  if (run.err >= 0) r.err = Drain(run.err);
  return r;
}

Result Kelini(const std::vector<std::string> &args, long fileSizeLimit = -1) {
  return Finish(Start(args, fileSizeLimit));
}

class KeliniTest : public TempDirTest {
 protected:
  std::string Ini() const { return tmp.File("app.ini"); }
  std::string Content() const {
    std::string bytes;
    ReadWholeFile(Ini(), &bytes);
    return bytes;
  }
};

// One command after another on one file: "$F" stands for the file.
TEST_F(KeliniTest, CommandsInTurnGiveOutputErrorsAndExitStatus) {
  ASSERT_TRUE(WriteWholeFile(Ini(),
                             "; kept before any section\n"
                             "[Main]\n"
                             "; a comment\n"
                             "Name = first value \n"
                             "name=second of the name\n"
                             "[Empty]\n"));
  struct Step {
    std::vector<std::string> args;
    int status;
    const char *out;
    const char *err;  // what standard error holds (a part of it); "" none
  } const steps[] = {
      {{"get", "$F", "main", "NAME"}, 0, "first value\n", ""},
      {{"list", "$F"}, 0, "Main\nEmpty\n", ""},
      {{"list", "$F", "MAIN"}, 0, "Name=first value\nname=second of the name\n", ""},
      {{"set", "$F", "Main", "name", "changed = with equals"}, 0, "", ""},
      {{"get", "$F", "Main", "name"}, 0, "changed = with equals\n", ""},
      {{"set", "$F", "New", "count", "three"}, 0, "", ""},
      {{"set", "$F", "NEW", "Count", "THREE"}, 0, "", ""},  // only the case differs
      {{"get", "$F", "new", "count"}, 0, "THREE\n", ""},
      {{"set", "$F", "New", "count", "3"}, 0, "", ""},
      {{"set", "$F", "New", "empty", ""}, 0, "", ""},
      {{"get", "$F", "new", "empty"}, 0, "\n", ""},
      {{"remove", "$F", "Main", "name"}, 0, "", ""},
      {{"remove", "$F", "Empty"}, 0, "", ""},
      // Missing things: exit status 1, a catalogued sentence.
      {{"get", "$F", "Main", "name"}, 1, "", "kelini: $F: no key name in section [Main]\n"},
      {{"get", "$F", "Gone", "x"}, 1, "", "kelini: $F: no section [Gone]\n"},
      {{"list", "$F", "Empty"}, 1, "", "no section [Empty]"},
      {{"remove", "$F", "Main", "name"}, 1, "", "no key name"},
      {{"remove", "$F", "Empty"}, 1, "", "no section [Empty]"},
      {{"get", "$F.missing", "a", "b"}, 1, "", "kelini: $F.missing does not exist\n"},
      {{"list", "$F.missing"}, 1, "", "does not exist"},
      // Wrong command lines: exit status 2, nothing changed.
      {{}, 2, "", "kelini: Usage: kelini get|set|list|remove FILE"},
      {{"frobnicate", "$F"}, 2, "", "kelini: Unknown command frobnicate\n"},
      {{"get", "$F", "Main"}, 2, "", "kelini: Wrong number of arguments for get\n"},
      {{"set", "$F", "a", "b", "c", "d"}, 2, "", "Wrong number of arguments for set"},
      {{"list"}, 2, "", "Wrong number of arguments for list"},
      {{"set", "$F", "a]b", "k", "v"}, 2, "", "The section \"a]b\" cannot be stored"},
      {{"set", "$F", "s", "k=v", "v"}, 2, "", "The key \"k=v\" cannot be stored"},
      {{"set", "$F", "s", ";k", "v"}, 2, "", "The key \";k\" cannot be stored"},
      {{"set", "$F", "s", "", "v"}, 2, "", "The key \"\" cannot be stored"},
      {{"set", "$F", "s", "k", "two\nlines"}, 2, "", "The value \"two\nlines\" cannot"},
      {{"set", "$F", "s", "k", " padded"}, 2, "", "The value \" padded\" cannot"},
      {{"set", "$F.missing", "s", "k=v", "v"}, 2, "", "cannot be stored"},
      {{"--version"}, 0, "kelini " KELINI_VERSION_TEXT "\n", ""},
  };
  for (const Step &step : steps) {
    std::vector<std::string> args;
    std::string line;
    for (std::string a : step.args) {
      for (size_t at; (at = a.find("$F")) != std::string::npos;) a.replace(at, 2, Ini());
      args.push_back(a);
      line += " " + a;
    }
    std::string err = step.err;
    for (size_t at; (at = err.find("$F")) != std::string::npos;) err.replace(at, 2, Ini());
    Result r = Kelini(args);
    EXPECT_EQ(step.status, r.status) << "kelini" << line << "\n" << r.err;
    EXPECT_EQ(step.out, r.out) << "kelini" << line;
    if (err.empty()) {
      EXPECT_EQ("", r.err) << "kelini" << line;
    } else {
      EXPECT_NE(std::string::npos, r.err.find(err)) << "kelini" << line << "\n" << r.err;
    }
  }
  // The raw line and the comment stay; blanks around '=' go; a missing file
  // was never created, not even by a refused set.
  // Written as the library's text files are, with CR LF line ends.
  EXPECT_EQ("; kept before any section\r\n"
            "[Main]\r\n"
            "; a comment\r\n"
            "\r\n"
            "[New]\r\n"
            "count=3\r\n"
            "empty=\r\n",
            Content());
  EXPECT_NE(0, access((Ini() + ".missing").c_str(), F_OK));
  EXPECT_NE(0, access((Ini() + ".sav").c_str(), F_OK));
}

TEST_F(KeliniTest, HelpNamesEveryCommandAndTheExitStatus) {
  Result r = Kelini({"--help"});
  EXPECT_EQ(0, r.status);
  for (const char *word : {"get FILE SECTION KEY", "set FILE SECTION KEY VALUE",
                           "list FILE [SECTION]", "remove FILE SECTION [KEY]", "Exit status"}) {
    EXPECT_NE(std::string::npos, r.out.find(word)) << word;
  }
}

// Two processes set keys of their own in one file at once. Each set is
// load, change, save; without a lock held across the three, both load the
// same content and the second save drops the first one's key. First both
// start while the file is locked, so that they are released together;
// then both run as fast as they can.
TEST_F(KeliniTest, TwoConcurrentWritersLoseNothing) {
  // A long file, so that loading it takes a while: without the lock, both
  // writers are then well inside their loads at once.
  std::string filler = "[filler]\n";
  for (int i = 0; i < 20000; ++i) filler += "key" + std::to_string(i) + "=some value\n";
  ASSERT_TRUE(WriteWholeFile(Ini(), filler + "[shared]\n"));
  int held = open(Ini().c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  struct flock whole = {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  ASSERT_EQ(0, fcntl(held, F_OFD_SETLK, &whole));
  Started first = Start({"set", Ini(), "shared", "first", "1"});
  Started second = Start({"set", Ini(), "shared", "second", "2"});
  struct timespec ts = {0, 300 * 1000 * 1000};  // both reach the lock
  nanosleep(&ts, nullptr);
  close(held);
  EXPECT_EQ(0, Finish(first).status);
  EXPECT_EQ(0, Finish(second).status);
  // Either may win the lock; both keys must be there.
  std::string both = Kelini({"list", Ini(), "shared"}).out;
  EXPECT_TRUE(both == "first=1\nsecond=2\n" || both == "second=2\nfirst=1\n") << both;

  const int kKeys = 25;
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    if (writers[w] == 0) {
      std::string name = w == 0 ? "a" : "b";
      for (int i = 0; i < kKeys; ++i) {
        Result r = Kelini({"set", Ini(), "shared", name + std::to_string(i),
                                std::to_string(i * 7)});
        if (r.status != 0) _exit(1);
      }
      _exit(0);
    }
    ASSERT_GT(writers[w], 0);
  }
  EXPECT_EQ(0, WaitLimited(writers[0], 120));
  EXPECT_EQ(0, WaitLimited(writers[1], 120));
  Result list = Kelini({"list", Ini(), "shared"});
  ASSERT_EQ(0, list.status) << list.err;
  for (const char *name : {"a", "b"}) {
    for (int i = 0; i < kKeys; ++i) {
      std::string line = name + std::to_string(i) + "=" + std::to_string(i * 7) + "\n";
      EXPECT_NE(std::string::npos, list.out.find(line)) << "lost " << line;
    }
  }
  EXPECT_NE(0, access((Ini() + ".sav").c_str(), F_OK));
}

// A save that cannot write the new content (the file may not grow past its
// limit: a full disk for this process) fails with status 1 and a sentence,
// and the file keeps what it held; later commands read it as before.
TEST_F(KeliniTest, FullDiskLeavesTheFileAsItWas) {
  const std::string before = "[s]\nk=old\n";
  ASSERT_TRUE(WriteWholeFile(Ini(), before));
  const std::string big(4096, 'x');
  Result r = Kelini({"set", Ini(), "s", "k", big},
                    static_cast<long>(before.size()) + 16);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("could not be saved; it keeps its earlier content"))
      << r.err;
  // The file as it was; or, where even writing the old content back
  // failed, its side copy, which every later load reads instead.
  std::string side;
  if (ReadWholeFile(Ini() + ".sav", &side)) {
    EXPECT_EQ(before, side);
  } else {
    EXPECT_EQ(before, Content());
  }
  Result get = Kelini({"get", Ini(), "s", "k"});
  EXPECT_EQ(0, get.status);
  EXPECT_EQ("old\n", get.out);
  // A change that fits under the limit still goes through.
  r = Kelini({"set", Ini(), "s", "k", "new"}, static_cast<long>(before.size()) + 16);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("[s]\r\nk=new\r\n", Content());
  EXPECT_NE(0, access((Ini() + ".sav").c_str(), F_OK));
}

// Standard output that takes nothing is an error, not a silent success.
TEST_F(KeliniTest, UnwritableStandardOutputIsAnError) {
  ASSERT_TRUE(WriteWholeFile(Ini(), "[s]\nk=v\n"));
  pid_t pid = fork();
  if (pid == 0) {
    int full = open("/dev/full", O_WRONLY);
    int null = open("/dev/null", O_WRONLY);
    if (full < 0 || null < 0 || dup2(full, 1) < 0 || dup2(null, 2) < 0) _exit(126);
    execl(KELINI_PROGRAM, KELINI_PROGRAM, "get", Ini().c_str(), "s", "k", (char *)nullptr);
    _exit(127);
  }
  EXPECT_EQ(1, WaitLimited(pid, 60));
}

#else

TEST(KeliniTest, RunsOnlyWhereProcessesAreForked) {
  GTEST_SKIP() << "kelini's command-line tests start it with fork and exec (Linux)";
}

#endif

}  // namespace
