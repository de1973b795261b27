// Block traces.
//
// Refused: Kel_Trace_Refused is a block trace while the log is active but
// the block-trace bit is not enabled, Kel_Trace_LogOff one while there is
// no log at all; Plain_FlagBranch is what a hand-written trace costs when
// it is off: an `if` on a global flag. The difference is the price of
// leaving block traces in shipped code.
//
// Granted: Kel_Trace_Granted writes a block's entry and exit lines
// ("Enter:1:block", "Leave:1:block") to a file stream; Fprintf_TraceLines
// writes the very same two lines with fprintf.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "kelcore/log/block_trace.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

namespace {

std::string TempLog(const char *name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("kelcore-trace-bench-") + name + ".log"))
      .string();
}

// Logging to `stream` with `levels`, through a lock as an application's log
// has one; put back afterwards.
class ActiveLog {
 public:
  ActiveLog(std::ostream *stream, unsigned int levels) {
    tTHREAD::LocateThreadObj();
    tLOGMGR::SetSyncObj(new tINTRA_PROCESS_LOCK());
    tLOGMGR::LevelMask = levels;
    tLOGMGR::pLogFile = stream;
  }
  ~ActiveLog() {
    tLOGMGR::pLogFile = nullptr;
    tLOGMGR::LevelMask = 0;
    tLOGMGR::SetSyncObj(nullptr);
  }
};

void Kel_Trace_Refused(benchmark::State &state) {
  std::ostringstream sink;
  ActiveLog log(&sink, 0xC4);
  for (auto _ : state) {
    tBTRACE trace("block", 0);
    benchmark::ClobberMemory();
  }
  if (!sink.str().empty()) state.SkipWithError("a refused trace was written");
}
BENCHMARK(Kel_Trace_Refused);

void Kel_Trace_LogOff(benchmark::State &state) {
  for (auto _ : state) {
    tBTRACE trace("block", 0);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Kel_Trace_LogOff);

bool g_trace_enabled = false;

void Plain_FlagBranch(benchmark::State &state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(g_trace_enabled);
    if (g_trace_enabled) std::fprintf(stdout, "Enter:%u:%s\n", 1u, "block");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Plain_FlagBranch);

void Kel_Trace_Granted(benchmark::State &state) {
  const std::string path = TempLog("kel");
  {
    std::ofstream file(path);
    ActiveLog log(&file, 0x10);
    for (auto _ : state) {
      tBTRACE trace("block", 0);
    }
  }
  std::remove(path.c_str());
}
BENCHMARK(Kel_Trace_Granted);

void Fprintf_TraceLines(benchmark::State &state) {
  const std::string path = TempLog("stdio");
  std::FILE *file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    state.SkipWithError("cannot create the log file");
    return;
  }
  unsigned int depth = 0;
  for (auto _ : state) {
    std::fprintf(file, "Enter:%u:%s\n", ++depth, "block");
    std::fprintf(file, "Leave:%u:%s\n", depth--, "block");
  }
  std::fclose(file);
  std::remove(path.c_str());
}
BENCHMARK(Fprintf_TraceLines);

}  // namespace

BENCHMARK_MAIN();
