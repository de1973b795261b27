// Reading and writing blocks through tOSFILE against the system's own calls
// on the same file: read/write on POSIX systems, ReadFile/WriteFile on
// Windows. The operating-system file is meant to be a thin layer, so the
// pairs should be within a few percent of each other.
//
// Opening and creating as well: opening an existing file by its exact name
// (on POSIX systems, where names match without regard to case, only a miss
// looks at the directory), and creating 10,000 new files in one directory,
// where every creation asks the directory for a name of another case.
//
// Each benchmark walks an 8 MiB file (kept in the page cache) block by
// block and starts again at the beginning when it reaches the end, so
// the figures measure the calls, not the disk. The tOSFILE path goes
// through the I/O facet's virtual interface, as the logical file uses it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "kelcore/physical/os/os_file.h"

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace {

const unsigned long kFileSize = 8ul << 20;

const std::string &BenchFile() {
  static const std::string path = [] {
    std::filesystem::path p = std::filesystem::temp_directory_path() /
                              ("kelcore-os-file-bench-" + std::to_string(
#if defined(_WIN32)
                                                              GetCurrentProcessId()
#else
                                                              getpid()
#endif
                                                                  ) +
                               ".dat");
    std::FILE *f = std::fopen(p.string().c_str(), "wb");
    std::vector<char> block(1 << 16, 'k');
    for (unsigned long done = 0; f != nullptr && done < kFileSize; done += block.size()) {
      std::fwrite(block.data(), 1, block.size(), f);
    }
    if (f != nullptr) std::fclose(f);
    return p.string();
  }();
  return path;
}

struct RemoveBenchFile {
  ~RemoveBenchFile() { std::remove(BenchFile().c_str()); }
} removeAtExit;

// The walk every benchmark makes: `transfer` moves one block and returns
// how many bytes it moved; `rewind` goes back to the start of the file.
template <class Rewind, class Transfer>
void WalkFile(benchmark::State &state, Rewind rewind, Transfer transfer) {
  unsigned long pos = 0;
  for (auto _ : state) {
    if (pos == kFileSize) {
      rewind();
      pos = 0;
    }
    pos += transfer();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// --- tOSFILE -------------------------------------------------------------------

void Kel_OsFile_Read(benchmark::State &state) {
  const unsigned long block = static_cast<unsigned long>(state.range(0));
  std::vector<char> buf(block);
  tOSFILE file;
  file.SetName(BenchFile().c_str());
  tPHYFILEIOOBJ *io = &file;
  benchmark::DoNotOptimize(io);
  if (io->OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYNONE) != 0) {
    state.SkipWithError("cannot open the file");
    return;
  }
  WalkFile(state, [io] { io->Seek(0, tFILEDEFS::SEEK_FROM_START, nullptr); }, [&] {
    unsigned long done = 0;
    io->Read(buf.data(), block, &done);
    benchmark::DoNotOptimize(buf.data());
    return done;
  });
  io->Close();
}

void Kel_OsFile_Write(benchmark::State &state) {
  const unsigned long block = static_cast<unsigned long>(state.range(0));
  std::vector<char> buf(block, 'w');
  tOSFILE file;
  file.SetName(BenchFile().c_str());
  tPHYFILEIOOBJ *io = &file;
  benchmark::DoNotOptimize(io);
  if (io->OpenExisting(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYNONE) != 0) {
    state.SkipWithError("cannot open the file");
    return;
  }
  WalkFile(state, [io] { io->Seek(0, tFILEDEFS::SEEK_FROM_START, nullptr); }, [&] {
    unsigned long done = 0;
    io->Write(buf.data(), block, &done);
    return done;
  });
  io->Close();
}

// A fresh directory for one run of a creation benchmark, emptied and
// removed when the run ends.
struct ScratchDir {
  ScratchDir() : path(BenchFile() + ".dir." + std::to_string(++runs)) {
    std::filesystem::create_directory(path);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::string Name(int64_t n) const { return path + "/f" + std::to_string(n) + ".dat"; }
  std::string path;
  static int runs;
};
int ScratchDir::runs = 0;

const int64_t kCreations = 10000;

void Kel_OsFile_OpenExisting(benchmark::State &state) {
  tOSFILE file;
  file.SetName(BenchFile().c_str());
  for (auto _ : state) {
    if (file.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYNONE) != 0) {
      state.SkipWithError("cannot open the file");
      return;
    }
    file.Close();
  }
}

void Kel_OsFile_CreateNew(benchmark::State &state) {
  ScratchDir dir;
  tOSFILE file;
  int64_t n = 0;
  for (auto _ : state) {
    file.SetName(dir.Name(n++).c_str());
    if (file.CreateNew(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYNONE, 0666) != 0) {
      state.SkipWithError("cannot create the file");
      return;
    }
    file.Close();
  }
}

// --- the system's calls ------------------------------------------------------

#if defined(_WIN32)
HANDLE SysOpen(const std::string &name, DWORD disposition) {
  return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void Sys_OpenExisting(benchmark::State &state) {
  for (auto _ : state) {
    HANDLE h = SysOpen(BenchFile(), OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
      state.SkipWithError("cannot open the file");
      return;
    }
    CloseHandle(h);
  }
}

void Sys_CreateNew(benchmark::State &state) {
  ScratchDir dir;
  int64_t n = 0;
  for (auto _ : state) {
    HANDLE h = SysOpen(dir.Name(n++), CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) {
      state.SkipWithError("cannot create the file");
      return;
    }
    CloseHandle(h);
  }
}

void Sys_ReadFile(benchmark::State &state) {
  const DWORD block = static_cast<DWORD>(state.range(0));
  std::vector<char> buf(block);
  HANDLE h = CreateFileA(BenchFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    state.SkipWithError("cannot open the file");
    return;
  }
  WalkFile(state, [h] { SetFilePointer(h, 0, nullptr, FILE_BEGIN); }, [&] {
    DWORD done = 0;
    ReadFile(h, buf.data(), block, &done, nullptr);
    benchmark::DoNotOptimize(buf.data());
    return done;
  });
  CloseHandle(h);
}

void Sys_WriteFile(benchmark::State &state) {
  const DWORD block = static_cast<DWORD>(state.range(0));
  std::vector<char> buf(block, 'w');
  HANDLE h = CreateFileA(BenchFile().c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    state.SkipWithError("cannot open the file");
    return;
  }
  WalkFile(state, [h] { SetFilePointer(h, 0, nullptr, FILE_BEGIN); }, [&] {
    DWORD done = 0;
    WriteFile(h, buf.data(), block, &done, nullptr);
    return done;
  });
  CloseHandle(h);
}
#else
void Sys_OpenExisting(benchmark::State &state) {
  for (auto _ : state) {
    int fd = ::open(BenchFile().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      state.SkipWithError("cannot open the file");
      return;
    }
    ::close(fd);
  }
}

void Sys_CreateNew(benchmark::State &state) {
  ScratchDir dir;
  int64_t n = 0;
  for (auto _ : state) {
    int fd = ::open(dir.Name(n++).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      state.SkipWithError("cannot create the file");
      return;
    }
    ::close(fd);
  }
}

// The bytes a read or write moved; nothing for a failure.
unsigned long Moved(ssize_t n) { return n > 0 ? static_cast<unsigned long>(n) : 0; }

void Sys_Read(benchmark::State &state) {
  const size_t block = static_cast<size_t>(state.range(0));
  std::vector<char> buf(block);
  int fd = ::open(BenchFile().c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    state.SkipWithError("cannot open the file");
    return;
  }
  WalkFile(state, [fd] { ::lseek(fd, 0, SEEK_SET); }, [&] {
    ssize_t n = ::read(fd, buf.data(), block);
    benchmark::DoNotOptimize(buf.data());
    return Moved(n);
  });
  ::close(fd);
}

void Sys_Write(benchmark::State &state) {
  const size_t block = static_cast<size_t>(state.range(0));
  std::vector<char> buf(block, 'w');
  int fd = ::open(BenchFile().c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    state.SkipWithError("cannot open the file");
    return;
  }
  WalkFile(state, [fd] { ::lseek(fd, 0, SEEK_SET); },
           [&] { return Moved(::write(fd, buf.data(), block)); });
  ::close(fd);
}
#endif

}  // namespace

// Side by side: each size of the library's path next to the system's.
BENCHMARK(Kel_OsFile_Read)->Arg(4096)->Arg(65536);
#if defined(_WIN32)
BENCHMARK(Sys_ReadFile)->Arg(4096)->Arg(65536);
#else
BENCHMARK(Sys_Read)->Arg(4096)->Arg(65536);
#endif
BENCHMARK(Kel_OsFile_Write)->Arg(4096)->Arg(65536);
#if defined(_WIN32)
BENCHMARK(Sys_WriteFile)->Arg(4096)->Arg(65536);
#else
BENCHMARK(Sys_Write)->Arg(4096)->Arg(65536);
#endif
BENCHMARK(Kel_OsFile_OpenExisting);
BENCHMARK(Sys_OpenExisting);
// 10,000 files into one directory per run.
BENCHMARK(Kel_OsFile_CreateNew)->Iterations(kCreations)->Repetitions(3);
BENCHMARK(Sys_CreateNew)->Iterations(kCreations)->Repetitions(3);

BENCHMARK_MAIN();
