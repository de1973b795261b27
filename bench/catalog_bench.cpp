// Catalog lookups beside glibc's catgets, on the same 10,000 texts in three
// shapes (10 sets of 1,000, 100 of 100, 3,000 of 3), compiled by kelmsgc
// and by gencat. Per shape, three readers: glibc catgets, tMSGCAT::GetMsg
// (which hands out a new copy of the text) and the library's catgets (the
// text in the catalog's view, which the thread holds; like glibc's, no
// copy). Two patterns: random ids over the whole catalog,
// and ten neighbouring ids of one set (the "window"). The message file is a
// tSTDMSGFILE (512-byte buffer), as applications open it. The benchmark
// names read Shape/Reader/Pattern, so each row's ratio to the glibc row of
// the same shape and pattern comes from one run. Linux only: glibc's
// catgets is the peer.
#include <benchmark/benchmark.h>

#include <nl_types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/nls_catalog.h"
#include "tools/kelmsgc/msgc.h"

namespace {

struct Shape {
  const char *name;
  unsigned int sets, per_set;
};
const Shape kShapes[] = {{"10x1000", 10, 1000}, {"100x100", 100, 100}, {"3000x3", 3000, 3}};
const unsigned int kShapeCount = sizeof kShapes / sizeof kShapes[0];

bool WriteFile(const std::string &path, const std::string &bytes) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// One shape: a message file holding catalog "Bench <shape>" (for tMSGCAT:
// every shape's file stays registered, and a handle binds to the first
// file holding its catalog's name) and one
// holding "NLS message catalog" first (for the library's catopen), the
// gencat file, and the ids to look up.
struct Fixture {
  std::string ours, nls, peer;
  tSTDMSGFILE *file = nullptr;
  tMSGCAT *cat = nullptr;
  nl_catd catd = reinterpret_cast<nl_catd>(-1);
  std::vector<std::pair<unsigned int, unsigned int>> random_ids, window_ids;

  explicit Fixture(const Shape &shape) {
    const std::string base = "/tmp/kelcore-catalog-bench-" + std::to_string(getpid()) + "-" +
                             shape.name;
    std::string source;
    for (unsigned int s = 1; s <= shape.sets; ++s) {
      source += "$set " + std::to_string(s) + "\n";
      for (unsigned int m = 1; m <= shape.per_set; ++m) {
        source += std::to_string(m) + " Message " + std::to_string(m) + " of set " +
                  std::to_string(s) + ": cannot do what was asked of %0\n";
      }
    }
    std::string bytes, nls_bytes;
    kelmsgc::tCOMPILER compiler, nls_compiler;
    if (!compiler.AddSource("bench.msg", "$catalog Bench " + std::string(shape.name) + "\n" + source) ||
        !compiler.Write(&bytes) ||
        !nls_compiler.AddSource("nls.msg", "$catalog NLS message catalog\n" + source) ||
        !nls_compiler.Write(&nls_bytes)) {
      std::fprintf(stderr, "%s%s\n", compiler.Error().c_str(), nls_compiler.Error().c_str());
      std::exit(1);
    }
    ours = base + ".cat";
    nls = base + ".nls.cat";
    peer = base + ".gencat";
    if (!WriteFile(ours, bytes) || !WriteFile(nls, nls_bytes) ||
        !WriteFile(base + ".msg", source) ||
        std::system(("gencat " + peer + " " + base + ".msg").c_str()) != 0) {
      std::fprintf(stderr, "cannot write the catalogs under /tmp\n");
      std::exit(1);
    }
    std::remove((base + ".msg").c_str());
    file = new tSTDMSGFILE;
    file->SetFile(ours.c_str(), nullptr, nullptr, nullptr);
    cat = new tMSGCAT(("Bench " + std::string(shape.name)).c_str(), nullptr, nullptr);
    catd = (catopen)(peer.c_str(), NL_CAT_LOCALE);
    std::mt19937 rng(42);
    for (int i = 0; i < 4096; ++i) {
      random_ids.emplace_back(1 + rng() % shape.sets, 1 + rng() % shape.per_set);
    }
    // Ten neighbours in the middle set (a set of fewer than ten: its ids
    // over and over).
    const unsigned int set = (shape.sets + 1) / 2;
    const unsigned int first = shape.per_set > 10 ? shape.per_set / 2 : 1;
    for (unsigned int i = 0; i < 10; ++i) {
      window_ids.emplace_back(set, first + i % (shape.per_set < 10 ? shape.per_set : 10));
    }
  }
  ~Fixture() {
    (catclose)(catd);
    delete cat;
    delete file;
    std::remove(ours.c_str());
    std::remove(nls.c_str());
    std::remove(peer.c_str());
  }
};

Fixture &Get(unsigned int shape) {
  static Fixture *fixtures[kShapeCount] = {};
  if (fixtures[shape] == nullptr) fixtures[shape] = new Fixture(kShapes[shape]);
  return *fixtures[shape];
}

const std::vector<std::pair<unsigned int, unsigned int>> &Ids(Fixture &f, bool window) {
  return window ? f.window_ids : f.random_ids;
}

void Glibc(benchmark::State &state, unsigned int shape, bool window) {
  Fixture &f = Get(shape);
  const auto &ids = Ids(f, window);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto &id = ids[i++ % ids.size()];
    benchmark::DoNotOptimize(
        (catgets)(f.catd, static_cast<int>(id.first), static_cast<int>(id.second), nullptr));
  }
}

void GetMsg(benchmark::State &state, unsigned int shape, bool window) {
  Fixture &f = Get(shape);
  const auto &ids = Ids(f, window);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto &id = ids[i++ % ids.size()];
    char *text = nullptr;
    if (f.cat->GetMsg(id.first, id.second, &text) != 0) state.SkipWithError("GetMsg failed");
    benchmark::DoNotOptimize(text);
    delete[] text;
  }
}

// The library's catgets reads the file its catopen opened: the NLS file of
// this shape, opened for the run and closed after it.
void OurCatgets(benchmark::State &state, unsigned int shape, bool window) {
  Fixture &f = Get(shape);
  if (kelcore_catopen(f.nls.c_str(), 0) != 0) {
    state.SkipWithError("catopen failed");
    return;
  }
  const auto &ids = Ids(f, window);
  std::size_t i = 0;
  for (auto _ : state) {
    const auto &id = ids[i++ % ids.size()];
    char *text = kelcore_catgets(0, static_cast<int>(id.first), static_cast<int>(id.second),
                                 "missing");
    benchmark::DoNotOptimize(text);
  }
  kelcore_catclose(0);
}

void Register() {
  for (unsigned int s = 0; s < kShapeCount; ++s) {
    for (int w = 1; w >= 0; --w) {
      const std::string suffix = w ? "/window" : "/random";
      const std::string shape = kShapes[s].name;
      benchmark::RegisterBenchmark((shape + "/glibc_catgets" + suffix).c_str(), Glibc, s, w != 0);
      benchmark::RegisterBenchmark((shape + "/GetMsg" + suffix).c_str(), GetMsg, s, w != 0);
      benchmark::RegisterBenchmark((shape + "/kelcore_catgets" + suffix).c_str(), OurCatgets, s,
                                   w != 0);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
