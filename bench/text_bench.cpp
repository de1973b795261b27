// Text files and INI files against what users would pick instead.
//
// ReadLine over a 64 MiB text file (lines of 0 to 120 characters, kept in
// the page cache) beside fgets and std::getline: once with the text file's
// default 512-byte buffer, once with a 64 KiB buffer given by SetBuffer.
// Each iteration reads the whole file, so the figures are per file.
//
// INI: loading a file of 10,000 keys (100 sections of 100) and looking each
// key up once, beside the inih library parsing the same file into a hash
// map, which is how its users query it.
#include <benchmark/benchmark.h>

#include <ini.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelcore/files/ini_file.h"
#include "kelcore/files/text_file.h"
#include "kelcore/physical/os/os_file.h"

namespace {

const unsigned long kTextSize = 64ul << 20;
const int kSections = 100, kKeysPerSection = 100;

std::string TempName(const char *what) {
  return (std::filesystem::temp_directory_path() /
          ("kelcore-text-bench-" + std::to_string(std::hash<std::string>()(
                                       std::filesystem::current_path().string())) +
           what))
      .string();
}

const std::string &TextFile() {
  static const std::string path = [] {
    std::string p = TempName(".txt");
    std::FILE *f = std::fopen(p.c_str(), "wb");
    unsigned int seed = 1;
    std::string line;
    for (unsigned long done = 0; f != nullptr && done < kTextSize; done += line.size()) {
      seed = seed * 1103515245u + 12345u;
      line.assign((seed >> 16) % 121, static_cast<char>('a' + seed % 26));
      line += "\r\n";
      std::fwrite(line.data(), 1, line.size(), f);
    }
    if (f != nullptr) std::fclose(f);
    return p;
  }();
  return path;
}

std::string SectionName(int s) { return "Section" + std::to_string(s); }
std::string KeyName(int k) { return "key" + std::to_string(k); }

const std::string &IniFile() {
  static const std::string path = [] {
    std::string p = TempName(".ini");
    std::FILE *f = std::fopen(p.c_str(), "wb");
    for (int s = 0; f != nullptr && s < kSections; ++s) {
      std::fprintf(f, "[%s]\r\n", SectionName(s).c_str());
      for (int k = 0; k < kKeysPerSection; ++k) {
        std::fprintf(f, "%s = value %d of %d\r\n", KeyName(k).c_str(), k, s);
      }
      std::fprintf(f, "\r\n");
    }
    if (f != nullptr) std::fclose(f);
    return p;
  }();
  return path;
}

struct RemoveBenchFiles {
  ~RemoveBenchFiles() {
    std::remove(TextFile().c_str());
    std::remove(IniFile().c_str());
  }
} removeAtExit;

void ReadLines(benchmark::State &state, unsigned int buffer) {
  std::vector<char> memory(buffer);
  char line[256];
  for (auto _ : state) {
    tTXTFILE txt(*new tOSFILE, 1);
    if (buffer != 512) txt.SetBuffer(buffer, memory.data());
    txt.SetName(TextFile().c_str());
    if (txt.OpenExisting(1, 1) != 0) {
      state.SkipWithError("cannot open");
      break;
    }
    unsigned long lines = 0;
    while (txt.ReadLine(line, sizeof line) == 0) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextSize));
}

void BM_ReadLine_Buffer512(benchmark::State &state) { ReadLines(state, 512); }
void BM_ReadLine_Buffer64K(benchmark::State &state) { ReadLines(state, 65536); }

void BM_fgets(benchmark::State &state) {
  char line[256];
  for (auto _ : state) {
    std::FILE *f = std::fopen(TextFile().c_str(), "rb");
    unsigned long lines = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) ++lines;
    std::fclose(f);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextSize));
}

void BM_getline(benchmark::State &state) {
  std::string line;
  for (auto _ : state) {
    std::ifstream in(TextFile(), std::ios::binary);
    unsigned long lines = 0;
    while (std::getline(in, line)) ++lines;
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTextSize));
}

void BM_Ini_LoadAndLookUp(benchmark::State &state) {
  char value[64];
  for (auto _ : state) {
    tINIFILE ini(*new tOSFILE, 1);
    ini.SetName(IniFile().c_str());
    ini.Load();
    for (int s = 0; s < kSections; ++s) {
      std::string section = SectionName(s);
      for (int k = 0; k < kKeysPerSection; ++k) {
        ini.Get(section.c_str(), KeyName(k).c_str(), value, sizeof value - 1, "");
        benchmark::DoNotOptimize(value[0]);
      }
    }
  }
}

typedef std::unordered_map<std::string, std::string> tINIH_MAP;

int InihHandler(void *user, const char *section, const char *name, const char *value) {
  // Lower case, as inih's users do for case-blind lookups.
  std::string key = std::string(section) + '\x01' + name;
  for (char &c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  static_cast<tINIH_MAP *>(user)->emplace(std::move(key), value);
  return 1;
}

void BM_Inih_LoadAndLookUp(benchmark::State &state) {
  for (auto _ : state) {
    tINIH_MAP map;
    if (ini_parse(IniFile().c_str(), InihHandler, &map) != 0) {
      state.SkipWithError("inih failed");
      break;
    }
    for (int s = 0; s < kSections; ++s) {
      std::string section = SectionName(s);
      for (int k = 0; k < kKeysPerSection; ++k) {
        std::string key = section + '\x01' + KeyName(k);
        for (char &c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        auto it = map.find(key);
        benchmark::DoNotOptimize(it);
      }
    }
  }
}

}  // namespace

BENCHMARK(BM_ReadLine_Buffer512)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLine_Buffer64K)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_fgets)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_getline)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ini_LoadAndLookUp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inih_LoadAndLookUp)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
