// Day arithmetic: tDATE against C++20's civil calendar in <chrono>.
//
// Each benchmark walks the same 4096 dates (1900 to 2100) and offsets
// (-1000 to +1000 days). Compare Kel_X with Chrono_X; YearWalk shows what
// converting a day number back by walking the years from year 0 would cost.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#if defined(__has_include)
#  if __has_include(<version>)
#    include <version>
#  endif
#endif
// libstdc++ has the civil calendar types from GCC 11 on, but announces
// them only with the time-zone database (GCC 14).
#if (defined(__cpp_lib_chrono) && __cpp_lib_chrono >= 201907L) || \
    (__cplusplus > 201703L && defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 11)
#  include <chrono>
#  define KELCORE_BENCH_HAVE_CIVIL_CHRONO 1
#endif

#include "kelcore/time/datetime.h"

namespace {

const int kCount = 4096;

struct Input {
  std::vector<tDATE> dates;
  std::vector<int> offsets;
  Input() {
    std::uint32_t seed = 2024;
    const auto next = [&seed]() {
      seed = seed * 1664525u + 1013904223u;
      return seed >> 8;
    };
    for (int i = 0; i < kCount; ++i) {
      tDATE d(1900 + next() % 200, 1 + next() % 12, 1);
      d.Day = 1 + next() % d.GetMaxDays();
      dates.push_back(d);
      offsets.push_back(static_cast<int>(next() % 2001) - 1000);
    }
  }
};

const Input &Inputs() {
  static const Input input;
  return input;
}

void Kel_AddDays(benchmark::State &state) {
  const Input &in = Inputs();
  std::uint64_t sink = 0;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) {
      tDATE d = in.dates[i];
      d.AddDays(in.offsets[i]);
      sink += d.Year + d.Month + d.Day;
    }
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(Kel_AddDays);

void Kel_GetDayOfWeek(benchmark::State &state) {
  const Input &in = Inputs();
  std::uint64_t sink = 0;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) sink += in.dates[i].GetDayOfWeek();
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(Kel_GetDayOfWeek);

#if defined(KELCORE_BENCH_HAVE_CIVIL_CHRONO)
std::vector<std::chrono::year_month_day> ChronoDates() {
  std::vector<std::chrono::year_month_day> out;
  for (const tDATE &d : Inputs().dates) {
    out.push_back(std::chrono::year_month_day{std::chrono::year{static_cast<int>(d.Year)},
                                              std::chrono::month{d.Month},
                                              std::chrono::day{d.Day}});
  }
  return out;
}

void Chrono_AddDays(benchmark::State &state) {
  using namespace std::chrono;
  const std::vector<year_month_day> dates = ChronoDates();
  const std::vector<int> &offsets = Inputs().offsets;
  std::uint64_t sink = 0;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) {
      const year_month_day r{sys_days{dates[i]} + days{offsets[i]}};
      sink += static_cast<unsigned>(static_cast<int>(r.year())) +
              static_cast<unsigned>(r.month()) + static_cast<unsigned>(r.day());
    }
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(Chrono_AddDays);

void Chrono_GetDayOfWeek(benchmark::State &state) {
  using namespace std::chrono;
  const std::vector<year_month_day> dates = ChronoDates();
  std::uint64_t sink = 0;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) sink += weekday{sys_days{dates[i]}}.c_encoding();
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(Chrono_GetDayOfWeek);
#endif

// Converting a day number back by walking from year 0, one loop turn per
// year: what AddDays would cost without the closed formulas.
void YearWalk_FromDayNumber(benchmark::State &state) {
  const Input &in = Inputs();
  std::vector<unsigned> numbers;
  for (int i = 0; i < kCount; ++i) {
    const tDATE &d = in.dates[i];
    unsigned n = d.Day - 1;
    for (unsigned y = 0; y < d.Year; ++y) n += tDATE(y, 1, 1).IsLeapYear() ? 366 : 365;
    for (unsigned m = 1; m < d.Month; ++m) n += tDATE(d.Year, m, 1).GetMaxDays();
    numbers.push_back(n);
  }
  std::uint64_t sink = 0;
  for (auto _ : state) {
    for (int i = 0; i < kCount; ++i) {
      unsigned rest = numbers[i];
      unsigned year = 0;
      for (;;) {
        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        const unsigned length = leap ? 366 : 365;
        if (rest < length) break;
        rest -= length;
        ++year;
      }
      sink += year + rest;
    }
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kCount);
}
BENCHMARK(YearWalk_FromDayNumber);

}  // namespace

BENCHMARK_MAIN();
