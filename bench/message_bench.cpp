// Message formatting against snprintf of the same text.
//
// The message "%0: %1 (%2'%08X')" with a text, an int and an unsigned gives
// the same line as snprintf "%s: %d (%08X)". Pairs to compare:
//   Kel_FreshMessage       builds a message, streams the three parameters,
//                          formats and disposes of it: what a library
//                          error costs from raise to text;
//   Kel_StaticFormat       tMSG::Format with a prebuilt parameter list and
//                          the heap text released;
//   Snprintf               snprintf into a stack buffer;
//   Snprintf_HeapCopy      snprintf plus the heap copy a caller keeping the
//                          text needs (the fair partner of Kel_StaticFormat).
// Kel_*_FloatSpec repeat the pairs with a double through "%.3f", which goes
// through vsnprintf in both.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "kelcore/msg/message.h"

namespace {

const char kFormat[] = "%0: %1 (%2'%08X')";
const char kPrintf[] = "%s: %d (%08X)";
const char kId[] = "bench message";

void Kel_FreshMessage(benchmark::State &state) {
  int n = 0;
  for (auto _ : state) {
    tMSG *msg = new tMSGSTR(kFormat, kId, tMSG::eERROR);
    *msg << "file.dat" << ++n << 196u;
    benchmark::DoNotOptimize(msg->Format());
    tMSG::Dispose(msg);
  }
}
BENCHMARK(Kel_FreshMessage);

void Kel_StaticFormat(benchmark::State &state) {
  tPARMLIST list;
  list.Add(new tPARM_STRING("file.dat"));
  list.Add(new tPARM_INT(12345));
  list.Add(new tPARM_UINT(196u));
  for (auto _ : state) {
    char *text = tMSG::Format(kFormat, list);
    benchmark::DoNotOptimize(text);
    delete[] text;
  }
}
BENCHMARK(Kel_StaticFormat);

void Snprintf(benchmark::State &state) {
  char buf[1024];
  int n = 0;
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, kPrintf, "file.dat", ++n, 196u);
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Snprintf);

void Snprintf_HeapCopy(benchmark::State &state) {
  char buf[1024];
  int n = 0;
  for (auto _ : state) {
    int len = std::snprintf(buf, sizeof buf, kPrintf, "file.dat", ++n, 196u);
    char *text = new (std::nothrow) char[len + 1];
    std::memcpy(text, buf, len + 1);
    benchmark::DoNotOptimize(text);
    delete[] text;
  }
}
BENCHMARK(Snprintf_HeapCopy);

void Kel_FreshMessage_FloatSpec(benchmark::State &state) {
  for (auto _ : state) {
    tMSG *msg = new tMSGSTR("%0: %1'%.3f'", kId, tMSG::eERROR);
    *msg << "ratio" << 0.125;
    benchmark::DoNotOptimize(msg->Format());
    tMSG::Dispose(msg);
  }
}
BENCHMARK(Kel_FreshMessage_FloatSpec);

void Snprintf_FloatSpec(benchmark::State &state) {
  char buf[1024];
  for (auto _ : state) {
    std::snprintf(buf, sizeof buf, "%s: %.3f", "ratio", 0.125);
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(Snprintf_FloatSpec);

}  // namespace

BENCHMARK_MAIN();
