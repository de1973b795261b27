// The application object: the run sequence, the environment, the console
// display and the command-line splitter.
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#  include <pthread.h>
#  include <signal.h>
#  include <sys/time.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "kelcore/app/application.h"
#include "kelcore/app/os_calls.h"
#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/error/os_error.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/names/file_name.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/child_process.h"
#include "tests/support/log_capture.h"
#include "tests/support/message_file.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

using kelcore_test::ScopedEnv;
using Lines = std::vector<std::string>;
using kelcore_test::SplitLines;

tMSG *NewError(const char *text) { return new tMSGSTR(text, "test error", tMSG::eERROR); }

// The system's words for an error code, as a message shows them (the
// library's table on POSIX systems, the system's own text on Windows).
std::string SystemText(int code) {
  char buf[1024];
  tPARM_SYSERR(code).Format(buf, nullptr);
  return buf;
}

enum Step { kNone, kCatalog, kLog, kInit, kMain, kMainSilent };

// Text 0 of set 0 of `catalog` in the registered message files, or "none".
std::string CatalogText(const std::string &catalog) {
  tMSGCAT cat(catalog.c_str(), "A.01.00", nullptr);
  char *text = nullptr;
  std::string found = cat.GetMsg(0, 0, &text) == 0 ? text : "none";
  delete[] text;
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  return found;
}

// Records what it is asked to display; fails at one step.
class TestApp : public tCONSOLE_APP {
 public:
  explicit TestApp(Step fail = kNone, const char *name = "tool")
      : tCONSOLE_APP(0, nullptr, name, nullptr, "A.01.00"), fail_(fail) {}
  void Display(const char *text, tMSG::eSEVERITY severity) const {
    shown.push_back(std::to_string(severity) + " " + text);
    // A failure raised while the last error is shown.
    tTHREAD::SetLastError(NewError("raised by the display"));
  }
  unsigned int OpenLogFile(tSTDLOGFILE &log) {
    tAPP::OpenLogFile(log);
    return Fail(kLog, "no log");
  }
  unsigned int Initialize() { return Fail(kInit, "no init"); }
  unsigned int Main() {
    catalog_text = CatalogText(std::string(pAppName) + " message catalog");
    if (fail_ == kMainSilent) return 5;  // fails without a last error
    return Fail(kMain, "no main");
  }
  mutable Lines shown;
  std::string catalog_text;  // while Main runs

 private:
  unsigned int Fail(Step step, const char *text) {
    if (step != fail_) return 0;
    tTHREAD::SetLastError(NewError(text));
    return 3;
  }
  Step fail_;
};

class Application : public kelcore_test::TempDirTest {
 protected:
  Application() {
    env.Set("MSGFILE", nullptr).Set("LOGFILE", nullptr).Set("TRACELEVEL", nullptr)
        .Set("TRACELABELS", nullptr);
  }
  ScopedEnv env;
};

TEST_F(Application, RunShowsTheLastErrorOfTheFailingStepAndStopsTheLog) {
  const std::string log_name = tmp.File("run.log"), cat_name = tmp.File("tool.cat");
  env.Set("LOGFILE", log_name.c_str()).Set("TRACELEVEL", "1");
  const std::string source = "$catalog tool message catalog\n$version A.01.00\n$set 0\n0 hello\n";
  ASSERT_TRUE(kelcore_test::WriteWholeFile(cat_name, kelcore_test::CompileCatalogs({source})));
  const struct {
    Step fail;
    int result;
    Lines shown;
  } cases[] = {{kNone, 0, {}},
               // The fixed line, then the reason in words that need no catalog.
               {kCatalog, 1, {"0 Unable to open message catalog",
                              "0 Cannot open " + tmp.File("missing.cat") + ": " +
                                  SystemText(2)}},
               {kLog, 1, {"2 no log"}},
               {kInit, 1, {"2 no init"}},
               {kMain, 1, {"2 no main"}},
               {kMainSilent, 1, {}}};
  for (const auto &c : cases) {
    env.Set("MSGFILE", (c.fail == kCatalog ? tmp.File("missing.cat") : cat_name).c_str());
    TestApp app(c.fail);
    EXPECT_EQ(c.result, app.Run()) << c.fail;
    EXPECT_EQ(c.shown, app.shown) << c.fail;
    // The program's last error is the one it left, not the display's.
    tMSG *last = tTHREAD::GetLastError();
    if (c.fail != kCatalog) {
      EXPECT_STREQ(c.shown.empty() ? nullptr : c.shown[0].c_str() + 2, last ? last->Format() : nullptr);
    } else {
      // The catalog's failure itself, not what the display raised.
      char *said = tMSGFILE::DescribeFailure(last);
      EXPECT_STREQ(c.shown[1].c_str() + 2, said);
      delete[] said;
    }
    // The message file was open while Main ran, and is closed now; the log
    // is stopped.
    EXPECT_EQ(c.fail == kCatalog || c.fail == kLog || c.fail == kInit ? "" : "hello",
              app.catalog_text);
    EXPECT_EQ("none", CatalogText("tool message catalog"));
    EXPECT_EQ(nullptr, tLOGMGR::pLogFile);
  }
  // A name of 100 characters: the catalog's title is its first 79.
  const std::string name(100, 'n');
  ASSERT_TRUE(kelcore_test::WriteWholeFile(
      cat_name, kelcore_test::CompileCatalogs({"$catalog " + name.substr(0, 79) + "\n$version A.01.00\n"})));
  EXPECT_EQ(0, TestApp(kNone, name.c_str()).Run());
  // Every run that got past the catalog appended its own block to the one
  // file.
  std::string text;
  ASSERT_TRUE(kelcore_test::ReadWholeFile(log_name, &text));
  const Lines lines = SplitLines(text);
  ASSERT_EQ(3u * 6, lines.size()) << text;
  for (std::size_t i = 0; i < lines.size(); i += 3) {
    EXPECT_EQ(">>>>>>>>>> ", lines[i].substr(0, 11));
    EXPECT_EQ("Logging level: 0x00000001", lines[i + 1]);
    EXPECT_EQ("<<<<<<<<<< ", lines[i + 2].substr(0, 11));
  }
}

TEST_F(Application, TakesFileNamesAndLoggingFromTheEnvironment) {
  TestApp app;
  // Without variables: named after the program, next to the executable.
  const std::string dir = tOSSYSCALLS::GetExecDir().GetName();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir, std::string(app.GetMsgFileName()).substr(0, dir.size()));
  EXPECT_STREQ("tool.cat", app.GetMsgFileName() + dir.size() + 1);
  EXPECT_STREQ("tool.log", app.GetLogFileName() + dir.size() + 1);
  EXPECT_EQ(0u, static_cast<unsigned int>(app.GetLogLevels()));
  EXPECT_EQ(nullptr, app.GetLogClasses());
  EXPECT_EQ(&app, &GetKelApplication());

  env.Set("MSGFILE", "C:\\cats\\my.cat").Set("LOGFILE", "logs/my.log").Set("TRACELABELS", "os;app");
  EXPECT_STREQ("C:\\cats\\my.cat", app.GetMsgFileName());
  EXPECT_STREQ("logs/my.log", app.GetLogFileName());
  EXPECT_STREQ("os;app", app.GetLogClasses());
  const struct {
    const char *value;
    unsigned int levels;
  } levels[] = {{"196", 0xC4}, {"-1", 0xFFFFFFFF}, {"0x10", 0}, {"abc", 0}, {"12abc", 12},
                {"+5", 0},     {" 5", 0},          {"4294967295", 0xFFFFFFFF}, {"4294967297", 1}};
  for (const auto &l : levels) {
    env.Set("TRACELEVEL", l.value);
    EXPECT_EQ(l.levels, static_cast<unsigned int>(app.GetLogLevels())) << l.value;
  }
}

#if !defined(_WIN32)
// Linux: a copy of this program under a long path, run for this one test
// with KELCORE_TEST_EXECDIR set, writes its GetExecDir and its default
// message file name there. A path longer than a name object holds (260
// bytes) still gives the program's own directory when that fits; a
// directory that does not fit gives none, and no default file name (no
// stray file of the current directory is taken for the program's).
TEST_F(Application, LongExecutablePaths) {
  if (const char *out = std::getenv("KELCORE_TEST_EXECDIR")) {
    TestApp app;
    std::FILE *f = std::fopen(out, "w");
    ASSERT_NE(nullptr, f);
    std::fprintf(f, "%s\n%s\n", tOSSYSCALLS::GetExecDir().GetName(), app.GetMsgFileName());
    std::fclose(f);
    return;
  }
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) GTEST_SKIP() << "no /proc/self/exe here";
  self[n] = '\0';
  kelcore_test::TempDir tmp;
  std::string dir = tmp.path();
  const struct {
    std::size_t dir_length;
    bool known;
  } cases[] = {{230, true}, {300, false}};
  for (const auto &c : cases) {
    while (dir.size() < c.dir_length) {
      dir += "/" + std::string(std::min<std::size_t>(60, c.dir_length - dir.size() + 1), 'd');
      ASSERT_TRUE(mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST) << dir;
    }
    const std::string program = dir + "/" + std::string(50, 'p');
    // A hard link, or a copy across file systems (a symbolic link would
    // show the original's path).
    if (link(self, program.c_str()) != 0) {
      ASSERT_EQ(0, std::system(("cp '" + std::string(self) + "' '" + program + "'").c_str()));
    }
    const std::string result = tmp.path() + "/execdir.txt";
    const std::string command = "unset MSGFILE; KELCORE_TEST_EXECDIR='" + result + "' '" +
                                program +
                                "' --gtest_filter=Application.LongExecutablePaths >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    std::string text;
    ASSERT_TRUE(kelcore_test::ReadWholeFile(result, &text));
    EXPECT_EQ(c.known ? dir + "\n" + dir + "/tool.cat\n" : std::string("\n\n"), text)
        << dir.size();
    std::remove(program.c_str());
  }
}
#endif

TEST_F(Application, LogsToTheStandardStreamsOrRunsWithoutALog) {
  TestApp app;
  env.Set("TRACELEVEL", "196");
  for (std::ostream *stream : {&std::cout, &std::cerr}) {
    std::ostringstream captured;
    std::streambuf *saved = stream->rdbuf(captured.rdbuf());
    env.Set("LOGFILE", stream == &std::cout ? "$stdout" : "$stderr");
    {
      tSTDLOGFILE log;
      EXPECT_EQ(0u, app.OpenLogFile(log));
      EXPECT_EQ(stream, tLOGMGR::pLogFile);
    }
    stream->rdbuf(saved);
    const Lines lines = SplitLines(captured.str());
    ASSERT_EQ(3u, lines.size()) << captured.str();
    EXPECT_EQ("Logging level: 0x000000C4", lines[1]);
  }
  // No log, and no error: a log file that cannot be opened, or no TRACELEVEL.
  const std::string unopenable = tmp.File("no-such-dir/x.log");
  for (const char *level : {"196", static_cast<const char *>(nullptr)}) {
    env.Set("TRACELEVEL", level).Set("LOGFILE", level ? unopenable.c_str() : "$stdout");
    tSTDLOGFILE log;
    EXPECT_EQ(0u, app.OpenLogFile(log)) << !level;
    EXPECT_EQ(nullptr, tLOGMGR::pLogFile) << !level;
    EXPECT_EQ(nullptr, tTHREAD::GetLastError()) << !level;
  }
}

// The console application itself, not an override of its display.
class ConsoleApp : public tCONSOLE_APP {
 public:
  ConsoleApp() : tCONSOLE_APP(2, kArgs, "console", "file", "A.01.00") {}
  unsigned int Main() { return 0; }
  using tCONSOLE_APP::Write;
  static const char *kArgs[3];
};
const char *ConsoleApp::kArgs[3] = {"console", "one", nullptr};

TEST_F(Application, ConsoleDisplayReachesARedirectedStandardOutputAndTheLog) {
  const std::string out = tmp.File("out.txt");
  kelcore_test::LogCapture log(0x01, "app");
  {
    kelcore_test::StdoutToFile redirect(out);
    ConsoleApp app;  // takes the handle of the redirected output
    EXPECT_EQ(2u, app.ArgC());
    EXPECT_STREQ("one", app.ArgV(1));
    EXPECT_EQ(nullptr, app.ArgV(2));
    EXPECT_STREQ("file", tAPP::pAppFile);
    std::cout << "before ";  // the program's own output keeps its place
    tMSGSTR warning("disk %0 full", "test error", tMSG::eERROR);
    app.Display(warning << "C:");  // no catalog: the text alone
    app.Display("second", static_cast<tMSG::eSEVERITY>(7));
    tMSG *pending = NewError("pending");
    tTHREAD::SetLastError(pending);
    app.DisplayLastError();
    EXPECT_EQ(pending, tTHREAD::GetLastError());
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
    app.DisplayLastError();  // none: nothing shown
  }
  std::string text;
  ASSERT_TRUE(kelcore_test::ReadWholeFile(out, &text));
  EXPECT_EQ("before disk C: full\nsecond\npending\n", text);
  EXPECT_EQ(Lines({"Displayed \"disk C: full\"", "Displayed \"second\"", "Displayed \"pending\""}),
            log.Lines());
}

// With the library's English texts registered, each severity has its
// label. Run in a child process: a display keeps the texts it looked up for
// the life of the process.
KELCORE_CHILD_MAIN(labelled_display) {
  kelcore_test::RegisteredMessageFile english(args.at(0));
  kelcore_test::StdoutToFile redirect(args.at(1));
  ConsoleApp app;
  const char *const texts[] = {"plain", "stop", "failed", "careful", "by the way", "odd"};
  for (int severity : {0, 1, 2, 3, 4, 7}) {
    app.Display(texts[severity < 5 ? severity : 5], static_cast<tMSG::eSEVERITY>(severity));
  }
  return 0;
}

TEST_F(Application, ConsoleLabelsComeFromTheLibrarysEnglishTexts) {
  std::string source;
  ASSERT_TRUE(kelcore_test::ReadWholeFile(KELCORE_SOURCE_DIR "/kelcore/catalog/kelcore.msg", &source));
  const std::string cat = tmp.File("english.cat"), out = tmp.File("out.txt");
  ASSERT_TRUE(kelcore_test::WriteWholeFile(cat, kelcore_test::CompileCatalogs({source})));
  kelcore_test::ChildProcess child;
  ASSERT_TRUE(child.Start("labelled_display", {cat, out}));
  EXPECT_EQ(0, child.Wait());
  std::string text;
  ASSERT_TRUE(kelcore_test::ReadWholeFile(out, &text));
  EXPECT_EQ("plain\nFatal error: stop\nError: failed\nWarning: careful\nNote: by the way\nodd\n", text);
}

#if !defined(_WIN32)
volatile sig_atomic_t g_alarms = 0;
void CountAlarm(int) { g_alarms = g_alarms + 1; }

// POSIX: a pipe that its reader drains slowly takes a large text in many
// short writes, and a timer signal (installed without SA_RESTART)
// interrupts the blocked ones; every byte arrives, in order.
TEST(ConsoleOutput, PosixWritesEveryByteThroughShortAndInterruptedWrites) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  sigset_t alarm, old;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, &old);  // the reader inherits the block
  std::string received;
  std::thread reader([&] {
    // Emptied every 5 ms: between, the writer blocks on a full pipe and
    // the timer's signals interrupt it before it wrote anything.
    std::vector<char> buffer(1 << 16);
    for (ssize_t n; (n = read(fds[0], buffer.data(), buffer.size())) > 0;) {
      received.append(buffer.data(), static_cast<std::size_t>(n));
      usleep(5000);
    }
  });
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  struct sigaction action = {}, saved_action;
  action.sa_handler = CountAlarm;
  sigaction(SIGALRM, &action, &saved_action);
  itimerval every_ms = {{0, 1000}, {0, 1000}}, off = {};
  setitimer(ITIMER_REAL, &every_ms, nullptr);

  std::string text(1 << 20, ' ');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  std::fflush(stdout);
  int saved_out = dup(1);
  dup2(fds[1], 1);
  {
    ConsoleApp app;
    app.Write(text.c_str());
  }
  dup2(saved_out, 1);
  close(saved_out);
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &saved_action, nullptr);
  close(fds[1]);
  reader.join();
  close(fds[0]);
  EXPECT_GT(g_alarms, 0);
  EXPECT_TRUE(received == text) << received.size() << " of " << text.size() << " bytes";
}
#endif

TEST(ParseArgs, SplitsAtBlanksAndQuotesAsTheCommandLineRulesSay) {
  const struct {
    const char *line;
    Lines args;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"one two three", {"one", "two", "three"}},
      {"copy \"my file\" there", {"copy", "my file", "there"}},
      {"a\"b c\"", {"ab c"}},
      {"\"\" x", {"", "x"}},
      {"  lead\ttab\nline  ", {"lead", "tab", "line"}},
      {"open \"never closed  here", {"open", "never closed  here"}},
      {"back\\slash \\\"q", {"back\\slash", "\\q"}},
  };
  for (const auto &c : cases) {
    unsigned int argc = 99;
    char **argv = nullptr;
    ASSERT_EQ(0u, tAPP::ParseArgs(c.line, &argc, &argv)) << c.line;
    EXPECT_EQ(c.args, Lines(argv, argv + argc)) << c.line;
    EXPECT_EQ(nullptr, argv[argc]);
    tAPP::FreeArgs(argc, argv);
  }
  // Without memory at any point: nothing stored, nothing leaked.
  kelcore_test::SweepAllocFailures([] {
    unsigned int argc = 99;
    char **argv = nullptr;
    unsigned int status = tAPP::ParseArgs("a b", &argc, &argv);
    if (status == 0) {
      tAPP::FreeArgs(argc, argv);
    } else {
      EXPECT_EQ(0xFFFFFFFFu, status);
      EXPECT_EQ(99u, argc);
      EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
    }
  });
}

}  // namespace
