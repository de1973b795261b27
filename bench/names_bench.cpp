// Wildcard matching of names: tUNIXFILENAME / tPCFILENAME::NameMatches
// against POSIX fnmatch on the same names and patterns.
//
// NameMatches accepts a match of the whole name or of any tail of whole
// components, so the fnmatch side does the same: it tries the whole name,
// then each text after a "/", with FNM_PATHNAME (a "*" never crosses "/")
// and FNM_CASEFOLD. Compare Kel_X with Fnmatch_X.
//
// Typical: 64 realistic paths against 8 patterns (final-component and
// multi-component). Hostile: one 64-character component against
// "*a*a...*a*b" with `stars` stars, which never matches; a plain
// backtracking matcher tries every way of spreading the stars (64^stars),
// glibc's fnmatch cuts that short, ours walks the pattern once. Worst: the
// case that costs us most, see below.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#if defined(__has_include)
#  if __has_include(<fnmatch.h>)
#    include <fnmatch.h>
#    define KELCORE_BENCH_HAVE_FNMATCH 1
#  endif
#endif

#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"

namespace {

struct Corpus {
  std::vector<std::string> unix_names;
  std::vector<std::string> dos_names;
  std::vector<std::string> unix_patterns;
  std::vector<std::string> dos_patterns;

  Corpus() {
    const char *dirs[] = {"/home/user/src/kelcore/names", "/usr/lib/x86_64-linux-gnu",
                          "/var/log", "/home/user/Documents/Reports/2024",
                          "/opt/app/share/locale/de/LC_MESSAGES", "/tmp"};
    const char *files[] = {"file_name.cpp", "libstdc++.so.6", "syslog.1", "Quarterly.DOCX",
                           "app.mo", "build-7f3a.log", "README", "pc_file_name.h"};
    std::uint32_t seed = 7;
    for (int i = 0; i < 64; ++i) {
      seed = seed * 1664525u + 1013904223u;
      std::string name = std::string(dirs[(seed >> 8) % 6]) + "/" + files[(seed >> 16) % 8];
      unix_names.push_back(name);
      std::string dos = "C:" + name;
      for (char &c : dos) {
        if (c == '/') c = '\\';
      }
      dos_names.push_back(dos);
    }
    const char *patterns[] = {"*.cpp",        "*.h",          "lib*.so.?", "*.docx",
                              "names/*.cpp",  "log/sys*",     "*_*.*",     "Reports/*/q*"};
    for (const char *p : patterns) {
      unix_patterns.push_back(p);
      std::string dos = p;
      for (char &c : dos) {
        if (c == '/') c = '\\';
      }
      dos_patterns.push_back(dos);
    }
  }
};

const Corpus &TheCorpus() {
  static const Corpus corpus;
  return corpus;
}

#if defined(KELCORE_BENCH_HAVE_FNMATCH)
// What a user would write with fnmatch to get the same answers: the whole
// name, then every tail after a separator.
int FnmatchNameOrTail(const char *name, const char *pattern) {
  const int flags = FNM_PATHNAME | FNM_CASEFOLD | FNM_NOESCAPE;
  if (name[0] == '\0') return 0;
  for (const char *t = name;;) {
    if (fnmatch(pattern, t, flags) == 0) return 1;
    t = std::strchr(t, '/');
    if (t == nullptr || t[1] == '\0') return 0;
    ++t;
  }
}
#endif

void Kel_Typical_Unix(benchmark::State &state) {
  const Corpus &c = TheCorpus();
  int hits = 0;
  for (auto _ : state) {
    for (const std::string &p : c.unix_patterns) {
      for (const std::string &n : c.unix_names) {
        hits += tUNIXFILENAME::NameMatches(n.c_str(), p.c_str());
      }
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * 64 * 8);
}
BENCHMARK(Kel_Typical_Unix);

void Kel_Typical_Dos(benchmark::State &state) {
  const Corpus &c = TheCorpus();
  int hits = 0;
  for (auto _ : state) {
    for (const std::string &p : c.dos_patterns) {
      for (const std::string &n : c.dos_names) {
        hits += tPCFILENAME::NameMatches(n.c_str(), p.c_str());
      }
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * 64 * 8);
}
BENCHMARK(Kel_Typical_Dos);

#if defined(KELCORE_BENCH_HAVE_FNMATCH)
void Fnmatch_Typical_Unix(benchmark::State &state) {
  const Corpus &c = TheCorpus();
  int hits = 0;
  for (auto _ : state) {
    for (const std::string &p : c.unix_patterns) {
      for (const std::string &n : c.unix_names) {
        hits += FnmatchNameOrTail(n.c_str(), p.c_str());
      }
    }
    benchmark::DoNotOptimize(hits);
  }
  state.SetItemsProcessed(state.iterations() * 64 * 8);
}
BENCHMARK(Fnmatch_Typical_Unix);
#endif

std::string HostilePattern(int stars) {
  std::string p;
  for (int i = 0; i < stars; ++i) p += "*a";
  return p + "*b";
}

const std::string &HostileName() {
  static const std::string name = "/dir/" + std::string(64, 'a');
  return name;
}

void Kel_Hostile(benchmark::State &state) {
  const std::string pattern = HostilePattern(static_cast<int>(state.range(0)));
  int hits = 0;
  for (auto _ : state) {
    hits += tUNIXFILENAME::NameMatches(HostileName().c_str(), pattern.c_str());
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(Kel_Hostile)->DenseRange(1, 5)->Arg(16)->Arg(60);

#if defined(KELCORE_BENCH_HAVE_FNMATCH)
void Fnmatch_Hostile(benchmark::State &state) {
  const std::string pattern = HostilePattern(static_cast<int>(state.range(0)));
  int hits = 0;
  for (auto _ : state) {
    hits += FnmatchNameOrTail(HostileName().c_str(), pattern.c_str());
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(Fnmatch_Hostile)->DenseRange(1, 5)->Arg(16)->Arg(60);
#endif

// The bound that holds for every pattern: a name of the longest UNIX
// length, 255 four-character components, and a pattern whose ends both
// match everywhere, so that every position stays alive through the whole
// pattern. Time is name length times pattern length, over 64: one bit per
// position.
const std::string &LongName() {
  static std::string name;
  if (name.empty()) {
    for (int i = 0; i < 255; ++i) name += "/aaa";
    name += "/aa";
  }
  return name;
}

std::string WorstPattern(int pairs) {
  std::string p = "a";
  for (int i = 0; i < pairs; ++i) p += "*?";
  return p + "*a";
}

void Kel_Worst(benchmark::State &state) {
  const std::string pattern = WorstPattern(static_cast<int>(state.range(0)));
  int hits = 0;
  for (auto _ : state) {
    hits += tUNIXFILENAME::NameMatches(LongName().c_str(), pattern.c_str());
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(Kel_Worst)->Arg(4)->Arg(64)->Arg(500);

#if defined(KELCORE_BENCH_HAVE_FNMATCH)
void Fnmatch_Worst(benchmark::State &state) {
  const std::string pattern = WorstPattern(static_cast<int>(state.range(0)));
  int hits = 0;
  for (auto _ : state) {
    hits += FnmatchNameOrTail(LongName().c_str(), pattern.c_str());
    benchmark::DoNotOptimize(hits);
  }
}
BENCHMARK(Fnmatch_Worst)->Arg(4)->Arg(64)->Arg(500);
#endif

}  // namespace

BENCHMARK_MAIN();
