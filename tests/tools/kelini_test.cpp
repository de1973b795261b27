// kelini as users run it, started with fork and exec: Linux (POSIX) only;
// elsewhere these skip. The tool itself is built on every system.
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

// The exit status, or -1; a hang past `seconds` is killed.
int WaitLimited(pid_t pid, int seconds) {
  int status = 0;
  for (int waited_ms = 0; waited_ms < seconds * 1000; waited_ms += 10) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    usleep(10 * 1000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

std::string Drain(int fd) {
  std::string bytes;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

// Output and errors come through pipes (no file-size limit there). With
// `fileSizeLimit`, a write past it fails with EFBIG as on a full disk;
// with `fullOut`, standard output is /dev/full.
struct Started {
  pid_t pid;
  int out;
  int err;
};

Started Start(const std::vector<std::string> &args, long fileSizeLimit = -1, bool fullOut = false) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return Started{-1, -1, -1};
  pid_t pid = fork();
  if (pid == 0) {
    int to = fullOut ? open("/dev/full", O_WRONLY) : out[1];
    if (to < 0 || dup2(to, 1) < 0 || dup2(err[1], 2) < 0) _exit(126);
    close(out[0]), close(out[1]), close(err[0]), close(err[1]);
    if (fileSizeLimit >= 0) {
      struct rlimit limit = {static_cast<rlim_t>(fileSizeLimit),
                             static_cast<rlim_t>(fileSizeLimit)};
      signal(SIGXFSZ, SIG_IGN);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    }
    std::vector<char *> argv = {const_cast<char *>(KELINI_PROGRAM)};
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

std::string Subst(std::string text, const std::string &file) {
  for (size_t at; (at = text.find("$F")) != std::string::npos;) text.replace(at, 2, file);
  return text;
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
  bool Exists(const char *suffix) const { return access((Ini() + suffix).c_str(), F_OK) == 0; }
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
    std::string line = "kelini";
    for (const std::string &a : step.args) {
      args.push_back(Subst(a, Ini()));
      line += " " + args.back();
    }
    SCOPED_TRACE(line);
    const std::string err = Subst(step.err, Ini());
    Result r = Kelini(args);
    EXPECT_EQ(step.status, r.status) << r.err;
    EXPECT_EQ(step.out, r.out);
    if (err.empty()) {
      EXPECT_EQ("", r.err);
    } else {
      EXPECT_NE(std::string::npos, r.err.find(err)) << r.err;
    }
  }
  // Comments stay, blanks around '=' go, CR LF line ends; no missing file
  // was created, not even by a refused set.
  EXPECT_EQ("; kept before any section\r\n"
            "[Main]\r\n"
            "; a comment\r\n"
            "\r\n"
            "[New]\r\n"
            "count=3\r\n"
            "empty=\r\n",
            Content());
  EXPECT_FALSE(Exists(".missing"));
  EXPECT_FALSE(Exists(".sav"));
}

TEST_F(KeliniTest, HelpNamesEveryCommandAndTheExitStatus) {
  Result r = Kelini({"--help"});
  EXPECT_EQ(0, r.status);
  for (const char *word : {"get FILE SECTION KEY", "set FILE SECTION KEY VALUE",
                           "list FILE [SECTION]", "remove FILE SECTION [KEY]", "Exit status"}) {
    EXPECT_NE(std::string::npos, r.out.find(word)) << word;
  }
}

// Two processes set keys of their own in one file at once (load, change,
// save need one lock across them): first released together from a held
// lock, on a long file that is slow to load; then as fast as they can.
TEST_F(KeliniTest, TwoConcurrentWritersLoseNothing) {
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
  usleep(300 * 1000);
  close(held);
  EXPECT_EQ(0, Finish(first).status);
  EXPECT_EQ(0, Finish(second).status);
  std::string both = Kelini({"list", Ini(), "shared"}).out;
  EXPECT_TRUE(both == "first=1\nsecond=2\n" || both == "second=2\nfirst=1\n") << both;

  const int kKeys = 25;
  pid_t writers[2];
  for (int w = 0; w < 2; ++w) {
    writers[w] = fork();
    if (writers[w] == 0) {
      std::string name = w == 0 ? "a" : "b";
      for (int i = 0; i < kKeys; ++i) {
        Result r =
            Kelini({"set", Ini(), "shared", name + std::to_string(i), std::to_string(i * 7)});
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
  EXPECT_FALSE(Exists(".sav"));
}

// A save past the file-size limit (a full disk) fails with status 1 and a
// sentence; the file keeps what it held, and later commands read it.
TEST_F(KeliniTest, FullDiskLeavesTheFileAsItWas) {
  const std::string before = "[s]\nk=old\n";
  ASSERT_TRUE(WriteWholeFile(Ini(), before));
  const long limit = static_cast<long>(before.size()) + 16;
  Result r = Kelini({"set", Ini(), "s", "k", std::string(4096, 'x')}, limit);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("could not be saved; it keeps its earlier content"))
      << r.err;
  // Or, where writing the old content back failed, its side copy.
  std::string side;
  if (ReadWholeFile(Ini() + ".sav", &side)) {
    EXPECT_EQ(before, side);
  } else {
    EXPECT_EQ(before, Content());
  }
  Result get = Kelini({"get", Ini(), "s", "k"});
  EXPECT_EQ(0, get.status);
  EXPECT_EQ("old\n", get.out);
  r = Kelini({"set", Ini(), "s", "k", "new"}, limit);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_EQ("[s]\r\nk=new\r\n", Content());
  EXPECT_FALSE(Exists(".sav"));
}

TEST_F(KeliniTest, UnwritableStandardOutputIsAnError) {
  ASSERT_TRUE(WriteWholeFile(Ini(), "[s]\nk=v\n"));
  EXPECT_EQ(1, Finish(Start({"get", Ini(), "s", "k"}, -1, true)).status);
}

#else

TEST(KeliniTest, RunsOnlyWhereProcessesAreForked) {
  GTEST_SKIP() << "kelini's command-line tests start it with fork and exec (Linux)";
}

#endif

}  // namespace
