// Reporting an operating-system failure, and showing it as text.
//
// Kel_RaiseOsError is the library's failure path: an OS module message with
// the system code (tOSERR::Make) stored as the thread's last error and taken
// back, as a caller that handles the error does. Std_RaiseErrorCode is what
// a user would write instead: a std::error_code in a thread_local.
//
// Kel_FormatOsError builds and formats such a message while no message file
// is open (the catalog look-up fails and the built-in description is used),
// and Kel_FormatSysErrParm formats the system code's text through a
// tPARM_SYSERR; Std_SystemCategoryMessage gives the standard library's text
// for the same code.
#include <benchmark/benchmark.h>

#include <string>
#include <system_error>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/sync/thread.h"

namespace {

void Kel_RaiseOsError(benchmark::State &state) {
  tTHREAD::LocateThreadObj();
  for (auto _ : state) {
    tTHREAD::SetLastError(tOSERR::Make(3, 2));
    tMSG *error = tTHREAD::TakeOwnershipOfLastError();
    benchmark::DoNotOptimize(error);
    tMSG::Dispose(error);
  }
}
BENCHMARK(Kel_RaiseOsError);

thread_local std::error_code t_last_error;

void Std_RaiseErrorCode(benchmark::State &state) {
  for (auto _ : state) {
    t_last_error = std::error_code(2, std::system_category());
    std::error_code error = t_last_error;
    t_last_error.clear();
    benchmark::DoNotOptimize(error);
  }
}
BENCHMARK(Std_RaiseErrorCode);

void Kel_FormatOsError(benchmark::State &state) {
  tTHREAD::LocateThreadObj();
  for (auto _ : state) {
    tMSG *msg = tOSERR::Make(3, 2);
    benchmark::DoNotOptimize(msg->Format());
    tMSG::Dispose(msg);
  }
}
BENCHMARK(Kel_FormatOsError);

void Kel_FormatSysErrParm(benchmark::State &state) {
  tTHREAD::LocateThreadObj();
  tPARM_SYSERR parm(2);
  char buf[1024];
  for (auto _ : state) {
    parm.Format(buf, nullptr);
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(Kel_FormatSysErrParm);

void Std_SystemCategoryMessage(benchmark::State &state) {
  for (auto _ : state) {
    std::string text = std::system_category().message(2);
    benchmark::DoNotOptimize(text);
  }
}
BENCHMARK(Std_SystemCategoryMessage);

}  // namespace

BENCHMARK_MAIN();
