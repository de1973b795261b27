// Logical files and record files against what a program would use instead.
//
//   one byte at a time over a 64 MiB file: tLOGICAL_FILE::Read / Write with
//     a 512-byte and a 4 KiB window, against fgetc / fputc and
//     getc_unlocked / putc_unlocked on a FILE* (stdio's own 4 KiB buffer);
//     the 4 KiB read also over a class derived from tOSFILE (whose lock
//     facet the logical file must call) without and with a real lock;
//   64 KiB calls over the same file: the logical file (unbuffered, and with
//     a 4 KiB window) against read / write on a descriptor;
//   1 million records of 32 bytes: tRECFILE::WriteRec / ReadRec with a
//     4 KiB window against fwrite / fread of the same bytes (header, body).
//
// Each iteration is one whole pass over the file, kept in the page cache,
// so the figures measure the calls and the copies, not the disk.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "kelcore/files/record_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/lock.h"

#if defined(_WIN32)
#  include <io.h>
#  define KEL_GETC_UNLOCKED _getc_nolock
#  define KEL_PUTC_UNLOCKED _putc_nolock
#else
#  include <fcntl.h>
#  include <unistd.h>
#  define KEL_GETC_UNLOCKED getc_unlocked
#  define KEL_PUTC_UNLOCKED putc_unlocked
#endif

namespace {

const unsigned long kFileSize = 64ul << 20;
const unsigned long kBlock = 64ul << 10;
const unsigned int kRecords = 1000000, kRecordBody = 32;

std::string TempPath(const char *what) {
  return (std::filesystem::temp_directory_path() /
          ("kelcore-file-bench-" + std::to_string(static_cast<long>(getpid())) + what))
      .string();
}

const std::string &BenchFile() {
  static const std::string path = [] {
    std::string p = TempPath(".dat");
    std::FILE *f = std::fopen(p.c_str(), "wb");
    std::vector<char> block(kBlock, 'k');
    for (unsigned long done = 0; f != nullptr && done < kFileSize; done += block.size()) {
      std::fwrite(block.data(), 1, block.size(), f);
    }
    if (f != nullptr) std::fclose(f);
    return p;
  }();
  return path;
}

const std::string &RecordFile() {
  static const std::string path = TempPath(".rec");
  return path;
}

struct RemoveAtExit {
  ~RemoveAtExit() {
    std::remove(BenchFile().c_str());
    std::remove(RecordFile().c_str());
  }
} removeAtExit;

void Bytes(benchmark::State &state, unsigned long perPass) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(perPass));
}

// --- one byte at a time ------------------------------------------------------------

void Kel_ReadByte(benchmark::State &state) {
  tFILE f;
  f.SetName(BenchFile().c_str());
  f.SetBuffer(static_cast<unsigned int>(state.range(0)), nullptr);
  if (f.OpenExisting(tFILEDEFS::MODE_READ, 0) != 0) return state.SkipWithError("open");
  for (auto _ : state) {
    f.Rewind();
    unsigned long sum = 0, got = 1;
    char c;
    while (f.Read(&c, 1, &got) == 0 && got == 1) sum += static_cast<unsigned char>(c);
    benchmark::DoNotOptimize(sum);
  }
  f.Close();
  Bytes(state, kFileSize);
}

// A class derived from tOSFILE: the logical file calls its lock facet,
// which here does nothing (kReal false) or is an in-process lock.
template <bool kReal>
struct DerivedFile : tOSFILE {
  tINTRA_PROCESS_LOCK lock;
  void LockObject() override {
    if (kReal) lock.LockObject();
  }
  void UnlockObject() override {
    if (kReal) lock.UnlockObject();
  }
};

template <bool kReal>
void Kel_ReadByte_Derived(benchmark::State &state) {
  tFILE f(new DerivedFile<kReal>, 1);
  f.SetName(BenchFile().c_str());
  f.SetBuffer(4096, nullptr);
  if (f.OpenExisting(tFILEDEFS::MODE_READ, 0) != 0) return state.SkipWithError("open");
  for (auto _ : state) {
    f.Rewind();
    unsigned long sum = 0, got = 1;
    char c;
    while (f.Read(&c, 1, &got) == 0 && got == 1) sum += static_cast<unsigned char>(c);
    benchmark::DoNotOptimize(sum);
  }
  f.Close();
  Bytes(state, kFileSize);
}

template <bool kUnlocked>
void Stdio_ReadByte(benchmark::State &state) {
  std::FILE *f = std::fopen(BenchFile().c_str(), "rb");
  if (f == nullptr) return state.SkipWithError("open");
  for (auto _ : state) {
    std::rewind(f);
    unsigned long sum = 0;
    int c;
    while ((c = kUnlocked ? KEL_GETC_UNLOCKED(f) : std::fgetc(f)) != EOF) sum += c;
    benchmark::DoNotOptimize(sum);
  }
  std::fclose(f);
  Bytes(state, kFileSize);
}

void Kel_WriteByte(benchmark::State &state) {
  tFILE f;
  f.SetName(BenchFile().c_str());
  f.SetBuffer(static_cast<unsigned int>(state.range(0)), nullptr);
  if (f.OpenExisting(tFILEDEFS::MODE_READWRITE, 0) != 0) return state.SkipWithError("open");
  for (auto _ : state) {
    f.Rewind();
    for (unsigned long i = 0; i < kFileSize; ++i) {
      const char c = static_cast<char>('a' + (i & 15));
      f.Write(&c, 1, nullptr);
    }
    f.Flush(0);
  }
  f.Close();
  Bytes(state, kFileSize);
}

template <bool kUnlocked>
void Stdio_WriteByte(benchmark::State &state) {
  std::FILE *f = std::fopen(BenchFile().c_str(), "r+b");
  if (f == nullptr) return state.SkipWithError("open");
  for (auto _ : state) {
    std::rewind(f);
    for (unsigned long i = 0; i < kFileSize; ++i) {
      const int c = 'a' + static_cast<int>(i & 15);
      if (kUnlocked) {
        KEL_PUTC_UNLOCKED(c, f);
      } else {
        std::fputc(c, f);
      }
    }
    std::fflush(f);
  }
  std::fclose(f);
  Bytes(state, kFileSize);
}

// --- 64 KiB calls --------------------------------------------------------------------

void Kel_Block(benchmark::State &state) {
  const bool write = state.range(0) != 0;
  tFILE f;
  f.SetName(BenchFile().c_str());
  f.SetBuffer(static_cast<unsigned int>(state.range(1)), nullptr);
  if (f.OpenExisting(tFILEDEFS::MODE_READWRITE, 0) != 0) return state.SkipWithError("open");
  std::vector<char> block(kBlock, 'w');
  for (auto _ : state) {
    f.Rewind();
    for (unsigned long done = 0; done < kFileSize; done += kBlock) {
      unsigned long n = 0;
      if (write) {
        f.Write(block.data(), kBlock, &n);
      } else {
        f.Read(block.data(), kBlock, &n);
      }
    }
    f.Flush(0);
    benchmark::DoNotOptimize(block.data());
  }
  f.Close();
  Bytes(state, kFileSize);
}

#if !defined(_WIN32)
void Sys_Block(benchmark::State &state) {
  const bool write = state.range(0) != 0;
  int fd = open(BenchFile().c_str(), O_RDWR);
  if (fd < 0) return state.SkipWithError("open");
  std::vector<char> block(kBlock, 'w');
  for (auto _ : state) {
    lseek(fd, 0, SEEK_SET);
    for (unsigned long done = 0; done < kFileSize; done += kBlock) {
      ssize_t n = write ? ::write(fd, block.data(), kBlock) : ::read(fd, block.data(), kBlock);
      benchmark::DoNotOptimize(n);
    }
    benchmark::DoNotOptimize(block.data());
  }
  close(fd);
  Bytes(state, kFileSize);
}
BENCHMARK(Sys_Block)->ArgNames({"write"})->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

// --- records ----------------------------------------------------------------------------

void Kel_Records(benchmark::State &state) {
  const bool write = state.range(0) != 0;
  char body[kRecordBody + 1] = "a record of thirty-two bytes....";
  if (!write) {  // something to read
    tRECFILE f;
    f.SetBuffer(4096, nullptr);
    f.SetFile(RecordFile().c_str(), nullptr, nullptr, nullptr);
    f.Create(tFILEDEFS::MODE_READWRITE, 0, 0666);
    for (unsigned int i = 0; i < kRecords; ++i) f.WriteRec(body, 1, kRecordBody);
    f.Close();
  }
  for (auto _ : state) {
    tRECFILE f;
    f.SetBuffer(4096, nullptr);
    f.SetFile(RecordFile().c_str(), nullptr, nullptr, nullptr);
    if (write) {
      f.Create(tFILEDEFS::MODE_READWRITE, 0, 0666);
      for (unsigned int i = 0; i < kRecords; ++i) f.WriteRec(body, 1, kRecordBody);
    } else {
      f.OpenExisting(tFILEDEFS::MODE_READ, 0);
      unsigned int type = 0, length = 0, n = 0;
      while (f.ReadRec(body, kRecordBody, &type, &length) == 0) ++n;
      if (n != kRecords) state.SkipWithError("short");
    }
    f.Close();
    benchmark::DoNotOptimize(body);
  }
  Bytes(state, kRecords * (8ul + kRecordBody));
}

void Stdio_Records(benchmark::State &state) {
  const bool write = state.range(0) != 0;
  char body[kRecordBody + 1] = "a record of thirty-two bytes....";
  unsigned char header[8] = {1, 0, 0, 0, kRecordBody, 0, 0, 0};
  for (auto _ : state) {
    std::FILE *f = std::fopen(RecordFile().c_str(), write ? "wb" : "rb");
    if (f == nullptr) return state.SkipWithError("open");
    if (write) {
      for (unsigned int i = 0; i < kRecords; ++i) {
        std::fwrite(header, 1, sizeof header, f);
        std::fwrite(body, 1, kRecordBody, f);
      }
    } else {
      unsigned int n = 0;
      while (std::fread(header, 1, sizeof header, f) == sizeof header &&
             std::fread(body, 1, kRecordBody, f) == kRecordBody) {
        ++n;
      }
      if (n != kRecords) state.SkipWithError("short");
    }
    std::fclose(f);
    benchmark::DoNotOptimize(body);
  }
  Bytes(state, kRecords * (8ul + kRecordBody));
}

}  // namespace

BENCHMARK(Kel_ReadByte)->ArgNames({"window"})->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Kel_ReadByte_Derived, false)->Name("Kel_ReadByte_DerivedNoLock/window:4096")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Kel_ReadByte_Derived, true)->Name("Kel_ReadByte_DerivedRealLock/window:4096")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Stdio_ReadByte, false)->Name("Stdio_ReadByte_fgetc")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Stdio_ReadByte, true)->Name("Stdio_ReadByte_getc_unlocked")->Unit(benchmark::kMillisecond);
BENCHMARK(Kel_WriteByte)->ArgNames({"window"})->Arg(512)->Arg(4096)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Stdio_WriteByte, false)->Name("Stdio_WriteByte_fputc")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Stdio_WriteByte, true)->Name("Stdio_WriteByte_putc_unlocked")->Unit(benchmark::kMillisecond);
BENCHMARK(Kel_Block)->ArgNames({"write", "window"})->ArgsProduct({{0, 1}, {0, 4096}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Kel_Records)->ArgNames({"write"})->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(Stdio_Records)->ArgNames({"write"})->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
