// tMSGCAT::GetMsg against glibc's catgets, on the same 10,000 texts (10
// sets of 1,000), compiled by kelmsgc and by gencat. Two patterns: random
// ids over the whole catalog, and ids inside the current window of ten
// index entries (the library's fast path: no index read, only the text).
// The message file is a tSTDMSGFILE (512-byte buffer), as applications
// open it. Linux only: catgets is the peer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <nl_types.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/message_file.h"
#include "tools/kelmsgc/msgc.h"

namespace {

const unsigned int kSets = 10, kPerSet = 1000;

struct Fixture {
  std::string source, ours, peer;
  tSTDMSGFILE *file = nullptr;
  tMSGCAT *cat = nullptr;
  nl_catd catd = reinterpret_cast<nl_catd>(-1);
  std::vector<std::pair<unsigned int, unsigned int>> random_ids;

  Fixture() {
    const std::string base = "/tmp/kelcore-catalog-bench-" + std::to_string(getpid());
    for (unsigned int s = 1; s <= kSets; ++s) {
      source += "$set " + std::to_string(s) + "\n";
      for (unsigned int m = 1; m <= kPerSet; ++m) {
        source += std::to_string(m) + " Message " + std::to_string(m) + " of set " +
                  std::to_string(s) + ": cannot do what was asked of %0\n";
      }
    }
    kelmsgc::tCOMPILER compiler;
    std::string bytes;
    if (!compiler.AddSource("bench.msg", "$catalog Bench\n" + source) || !compiler.Write(&bytes)) {
      std::fprintf(stderr, "%s\n", compiler.Error().c_str());
      std::exit(1);
    }
    ours = base + ".cat";
    peer = base + ".gencat";
    std::FILE *f = std::fopen(ours.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    f = std::fopen((base + ".msg").c_str(), "wb");
    std::fwrite(source.data(), 1, source.size(), f);
    std::fclose(f);
    if (std::system(("gencat " + peer + " " + base + ".msg").c_str()) != 0) std::exit(1);
    std::remove((base + ".msg").c_str());
    file = new tSTDMSGFILE;
    file->SetFile(ours.c_str(), nullptr, nullptr, nullptr);
    cat = new tMSGCAT("Bench", nullptr, nullptr);
    catd = catopen(peer.c_str(), NL_CAT_LOCALE);
    std::mt19937 rng(42);
    for (int i = 0; i < 4096; ++i) {
      random_ids.emplace_back(1 + rng() % kSets, 1 + rng() % kPerSet);
    }
  }
  ~Fixture() {
    catclose(catd);
    delete cat;
    delete file;
    std::remove(ours.c_str());
    std::remove(peer.c_str());
  }
};

Fixture &Get() {
  static Fixture fixture;
  return fixture;
}

void BM_GetMsg_Random(benchmark::State &state) {
  Fixture &f = Get();
  std::size_t i = 0;
  for (auto _ : state) {
    const auto &id = f.random_ids[i++ % f.random_ids.size()];
    char *text = nullptr;
    if (f.cat->GetMsg(id.first, id.second, &text) != 0) state.SkipWithError("GetMsg failed");
    benchmark::DoNotOptimize(text);
    delete[] text;
  }
}

void BM_Catgets_Random(benchmark::State &state) {
  Fixture &f = Get();
  std::size_t i = 0;
  for (auto _ : state) {
    const auto &id = f.random_ids[i++ % f.random_ids.size()];
    benchmark::DoNotOptimize(catgets(f.catd, static_cast<int>(id.first),
                                     static_cast<int>(id.second), nullptr));
  }
}

// Ids 501 to 510 of set 5: one window of ten index entries.
void BM_GetMsg_Window(benchmark::State &state) {
  Fixture &f = Get();
  unsigned int i = 0;
  for (auto _ : state) {
    char *text = nullptr;
    if (f.cat->GetMsg(5, 501 + i++ % 10, &text) != 0) state.SkipWithError("GetMsg failed");
    benchmark::DoNotOptimize(text);
    delete[] text;
  }
}

void BM_Catgets_Window(benchmark::State &state) {
  Fixture &f = Get();
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(catgets(f.catd, 5, 501 + i++ % 10, nullptr));
  }
}

BENCHMARK(BM_GetMsg_Random);
BENCHMARK(BM_Catgets_Random);
BENCHMARK(BM_GetMsg_Window);
BENCHMARK(BM_Catgets_Window);

}  // namespace

BENCHMARK_MAIN();
