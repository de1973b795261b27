// Log records through the gate.
//
// Refused: logging is active but the record's level is not enabled, the
// case every module pays for on every logged operation. Kel_Log_Refused
// against Plain_Branch (the test a hand-written "if (enabled)" costs) gives
// the gate's price in nanoseconds.
//
// Granted with a stamp: Kel_Log_StampedRecord writes the stamp (process
// id, thread id, local date and time) and a record's text to a file stream;
// Fprintf_StampedLine writes the very same line with fprintf, reading the
// ids and the time the way a program would. The ratio is the figure.
// The unstamped pair shows the gate without the stamp.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "kelcore/log/log_manager.h"
#include "kelcore/sync/lock.h"

#if defined(_WIN32)
#  include <process.h>
#  include <windows.h>
#else
#  include <sys/syscall.h>
#  include <unistd.h>
#endif

namespace {

const char kText[] = "SetLastError(\"cannot open a.txt\")";
const char kStamp[] = "%0 %1 %2'%04u'-%3'%02u'-%4'%02u' %5'%02u':%6'%02u':%7'%02u' ";

std::string TempLog(const char *name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("kelcore-log-bench-") + name + "-" + std::to_string(
#if defined(_WIN32)
                                                               _getpid()
#else
                                                               getpid()
#endif
                                                                   ) +
           ".log"))
      .string();
}

int ProcessId() {
#if defined(_WIN32)
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

int ThreadId() {
#if defined(_WIN32)
  return static_cast<int>(GetCurrentThreadId());
#else
  return static_cast<int>(syscall(SYS_gettid));
#endif
}

bool LocalNow(std::tm *out) {
  std::time_t now = std::time(nullptr);
#if defined(_WIN32)
  return localtime_s(out, &now) == 0;
#else
  return localtime_r(&now, out) != nullptr;
#endif
}

// Logging to `stream` with the given levels and stamp, through a lock as an
// application's log has one; everything is put back afterwards.
class ActiveLog {
 public:
  ActiveLog(std::ostream *stream, unsigned int levels, const char *stamp) {
    tLOGMGR::SetSyncObj(new tINTRA_PROCESS_LOCK());
    tLOGMGR::SetStampFmt(stamp);
    tLOGMGR::LevelMask = levels;
    tLOGMGR::pClassNames = nullptr;
    tLOGMGR::pLogFile = stream;
  }
  ~ActiveLog() {
    tLOGMGR::pLogFile = nullptr;
    tLOGMGR::LevelMask = 0;
    tLOGMGR::SetStampFmt(nullptr);
    tLOGMGR::SetSyncObj(nullptr);
  }
};

void Kel_Log_Refused(benchmark::State &state) {
  std::ostringstream sink;
  ActiveLog log(&sink, 0xC0, nullptr);
  for (auto _ : state) {
    if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("thread", 0xC4)) {
      *tLOGMGR::pLogFile << kText << '\n';
      tLOGMGR::End();
    }
  }
  if (!sink.str().empty()) state.SkipWithError("a refused record was written");
}
BENCHMARK(Kel_Log_Refused);

void Plain_Branch(benchmark::State &state) {
  unsigned int mask = 0xC0;
  std::FILE *sink = stdout;
  for (auto _ : state) {
    benchmark::DoNotOptimize(mask);
    if ((mask & 0xC4u) == 0xC4u) std::fprintf(sink, "%s\n", kText);
  }
}
BENCHMARK(Plain_Branch);

void Kel_Log_StampedRecord(benchmark::State &state) {
  std::string path = TempLog("kel");
  {
    std::ofstream file(path);
    ActiveLog log(&file, 0xC4, kStamp);
    for (auto _ : state) {
      if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("thread", 0xC4)) {
        *tLOGMGR::pLogFile << kText << '\n';
        tLOGMGR::End();
      }
    }
  }
  std::remove(path.c_str());
}
BENCHMARK(Kel_Log_StampedRecord);

void Fprintf_StampedLine(benchmark::State &state) {
  std::string path = TempLog("stdio");
  std::FILE *file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    state.SkipWithError("cannot create the log file");
    return;
  }
  for (auto _ : state) {
    std::tm now;
    if (!LocalNow(&now)) continue;
    std::fprintf(file, "%d %d %04u-%02u-%02u %02u:%02u:%02u %s\n", ProcessId(), ThreadId(),
                 static_cast<unsigned>(now.tm_year + 1900), static_cast<unsigned>(now.tm_mon + 1),
                 static_cast<unsigned>(now.tm_mday), static_cast<unsigned>(now.tm_hour),
                 static_cast<unsigned>(now.tm_min), static_cast<unsigned>(now.tm_sec), kText);
  }
  std::fclose(file);
  std::remove(path.c_str());
}
BENCHMARK(Fprintf_StampedLine);

void Kel_Log_PlainRecord(benchmark::State &state) {
  std::string path = TempLog("kelplain");
  {
    std::ofstream file(path);
    ActiveLog log(&file, 0xC4, nullptr);
    for (auto _ : state) {
      if (tLOGMGR::pLogFile != nullptr && tLOGMGR::Begin("thread", 0xC4)) {
        *tLOGMGR::pLogFile << kText << '\n';
        tLOGMGR::End();
      }
    }
  }
  std::remove(path.c_str());
}
BENCHMARK(Kel_Log_PlainRecord);

void Fprintf_PlainLine(benchmark::State &state) {
  std::string path = TempLog("stdioplain");
  std::FILE *file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    state.SkipWithError("cannot create the log file");
    return;
  }
  for (auto _ : state) std::fprintf(file, "%s\n", kText);
  std::fclose(file);
  std::remove(path.c_str());
}
BENCHMARK(Fprintf_PlainLine);

}  // namespace

BENCHMARK_MAIN();
