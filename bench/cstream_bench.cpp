// Reading a 64 MiB file in 4 KiB calls through a logical file over a C
// stream against plain fread on the same kind of stream; text lines read
// from a pipe through a text file over a C stream against fgets on the
// same kind of stream; and catgets of the library against the C library's
// (Linux) on the same texts.
//
// The file stays in the page cache: the figures measure the layers, not the
// disk. Each read pass starts again at the beginning when it reaches the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kelcore/catalog/nls_catalog.h"
#include "kelcore/files/logical_file.h"
#include "kelcore/files/text_file.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "tools/kelmsgc/msgc.h"

namespace {

const unsigned long kFileSize = 64ul << 20;
const unsigned long kBlock = 4096;

std::string TempPath(const char *name) {
  return (std::filesystem::temp_directory_path() / name).string();
}

const std::string &BenchFile() {
  static const std::string path = [] {
    std::string p = TempPath("kelcore-cstream-bench.dat");
    std::FILE *f = std::fopen(p.c_str(), "wb");
    std::vector<char> block(1 << 16, 'c');
    for (unsigned long done = 0; f != nullptr && done < kFileSize; done += block.size()) {
      std::fwrite(block.data(), 1, block.size(), f);
    }
    if (f != nullptr) std::fclose(f);
    return p;
  }();
  return path;
}

void Stdio_Fread(benchmark::State &state) {
  std::FILE *f = std::fopen(BenchFile().c_str(), "rb");
  std::vector<char> buf(kBlock);
  for (auto _ : state) {
    if (std::fread(buf.data(), 1, kBlock, f) < kBlock) std::rewind(f);
    benchmark::DoNotOptimize(buf.data());
  }
  std::fclose(f);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(Stdio_Fread);

void Kel_LogicalFileOverCStream(benchmark::State &state) {
  std::FILE *f = std::fopen(BenchFile().c_str(), "rb");
  tLOGICAL_FILE file(new tCSTREAM(f), 1);
  std::vector<char> buf(kBlock);
  for (auto _ : state) {
    unsigned long got = 0;
    file.Read(buf.data(), kBlock, &got);
    if (got < kBlock) file.Rewind();
    benchmark::DoNotOptimize(buf.data());
  }
  std::fclose(f);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}
BENCHMARK(Kel_LogicalFileOverCStream);

// --- text lines over a pipe -------------------------------------------------------

// 8 MiB of lines of 0 to 120 characters, CR LF ended, as a text file
// writes them.
const std::string &PipeText() {
  static const std::string text = [] {
    std::string t;
    for (unsigned int i = 0; t.size() < (8u << 20); ++i) {
      t.append((i * 37) % 121, static_cast<char>('a' + i % 26));
      t += "\r\n";
    }
    return t;
  }();
  return text;
}

// Runs `read` on the read end of a pipe, as a stream, while a thread writes
// PipeText into the other end; the result is the number of lines read.
template <typename Reader>
void OverAPipe(benchmark::State &state, Reader read) {
  const std::string &text = PipeText();
  for (auto _ : state) {
    int ends[2];
    if (pipe(ends) != 0) {
      state.SkipWithError("pipe");
      return;
    }
    std::thread writer([&] {
      for (size_t at = 0; at < text.size();) {
        ssize_t n = write(ends[1], text.data() + at, text.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(ends[1]);
    });
    std::FILE *in = fdopen(ends[0], "rb");
    benchmark::DoNotOptimize(read(in));
    std::fclose(in);
    writer.join();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void Stdio_FgetsOverAPipe(benchmark::State &state) {
  OverAPipe(state, [](std::FILE *in) {
    char line[256];
    long lines = 0;
    while (std::fgets(line, sizeof line, in) != nullptr) ++lines;
    return lines;
  });
}
BENCHMARK(Stdio_FgetsOverAPipe)->Unit(benchmark::kMillisecond);

// The reference constructor's window of 512 bytes.
void Kel_ReadLineOverAPipe(benchmark::State &state) {
  OverAPipe(state, [](std::FILE *in) {
    tTXTFILE file(*new tCSTREAM(in), 1);
    char line[256];
    long lines = 0;
    while (file.ReadLine(line, sizeof line) == 0) ++lines;
    return lines;
  });
}
BENCHMARK(Kel_ReadLineOverAPipe)->Unit(benchmark::kMillisecond);

// --- catgets ------------------------------------------------------------------

const int kTexts = 100;

void Kel_Catgets(benchmark::State &state) {
  std::string source = "$catalog NLS message catalog\n$version A.00.00\n$set 1\n";
  for (int i = 1; i <= kTexts; ++i) source += std::to_string(i) + " Text number " + std::to_string(i) + "\n";
  std::string path = TempPath("kelcore-nls-bench.cat");
  std::string bytes;
  kelmsgc::tCOMPILER compiler;
  if (!compiler.AddSource("bench", source) || !compiler.Write(&bytes)) {
    state.SkipWithError(compiler.Error().c_str());
    return;
  }
  std::FILE *f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  if (catopen(path.c_str(), 0) != 0) {
    state.SkipWithError("catopen");
    return;
  }
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(catgets(0, 1, 1 + (i++ % kTexts), "x"));
  catclose(0);
  std::remove(path.c_str());
}
BENCHMARK(Kel_Catgets);

#if defined(KELCORE_LIBC_HAS_CATGETS)
void Libc_Catgets(benchmark::State &state) {
  std::string src = TempPath("kelcore-nls-bench.msg"), cat = TempPath("kelcore-nls-bench.gcat");
  std::string source = "$set 1\n";
  for (int i = 1; i <= kTexts; ++i) source += std::to_string(i) + " Text number " + std::to_string(i) + "\n";
  std::FILE *f = std::fopen(src.c_str(), "wb");
  std::fwrite(source.data(), 1, source.size(), f);
  std::fclose(f);
  if (std::system(("gencat " + cat + " " + src).c_str()) != 0) {
    state.SkipWithError("no gencat");
    return;
  }
  nl_catd c = (catopen)(cat.c_str(), NL_CAT_LOCALE);
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize((catgets)(c, 1, 1 + (i++ % kTexts), "x"));
  (catclose)(c);
  std::remove(src.c_str());
  std::remove(cat.c_str());
}
BENCHMARK(Libc_Catgets);
#endif

struct RemoveAtExit {
  ~RemoveAtExit() { std::remove(BenchFile().c_str()); }
} removeAtExit;

}  // namespace

BENCHMARK_MAIN();
