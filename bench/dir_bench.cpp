// Listing a directory of 100,000 files, asking whether it is empty, creating
// files in N directories in turn (N = 1, 17, 1000: the name cache must hold
// them all) and deleting a tree of 10,000 files through tOSDIR and tOSFILE,
// beside what users would write instead: readdir (bare names; and names
// with lstat, which is what it takes to know kinds and sizes as a listing
// does), opendir and the first readdir, open with O_CREAT, FindFirstFile on
// Windows, and std::filesystem's directory_iterator and remove_all.
//
// Std_ReaddirLstatXattr adds the extended attribute a POSIX listing reads
// for the archive flag: what tOSDIR's listing cannot go below there.
//
// The listing benchmarks walk the same directory (kept in the page cache)
// and count the entries they see; the deletion benchmarks rebuild the tree
// outside the timed part of each iteration.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kelcore/dirs/os_dir.h"
#include "kelcore/physical/os/os_file.h"

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#else
#  include <dirent.h>
#  include <fcntl.h>
#  include <sys/stat.h>
#  include <unistd.h>
#  if defined(__linux__)
#    include <sys/xattr.h>
#  endif
#endif

namespace {

namespace fs = std::filesystem;

const int kListed = 100000;
const int kDeleted = 10000;

// prefix followed by the number. Appending, because GCC 12 at -O3 warns
// falsely (-Wrestrict) about "text" + std::to_string(n).
std::string Numbered(const char *prefix, int n) {
  std::string name(prefix);
  name += std::to_string(n);
  return name;
}

int ProcessId() {
#if defined(_WIN32)
  return static_cast<int>(GetCurrentProcessId());
#else
  return static_cast<int>(getpid());
#endif
}

fs::path BenchRoot() {
  static const fs::path root =
      fs::temp_directory_path() / Numbered("kelcore-dir-bench-", ProcessId());
  return root;
}

// Holds its own copy of the root: function statics made later are gone
// by the time this one goes.
struct RemoveBenchRoot {
  fs::path root = BenchRoot();
  ~RemoveBenchRoot() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
} removeAtExit;

// `count` empty files in `dir`, spread over `subdirs` subdirectories when
// that is not 0.
void MakeFiles(const fs::path &dir, int count, int subdirs) {
  fs::create_directories(dir);
  for (int i = 0; i < count; ++i) {
    fs::path where = dir;
    if (subdirs != 0) {
      where /= Numbered("d", i % subdirs);
      if (i < subdirs) fs::create_directory(where);
    }
    std::FILE *f = std::fopen((where / Numbered("file", i)).string().c_str(), "wb");
    if (f != nullptr) std::fclose(f);
  }
}

const std::string &ListedDir() {
  static const std::string path = [] {
    fs::path p = BenchRoot() / "listed";
    MakeFiles(p, kListed, 0);
    return p.string();
  }();
  return path;
}

void Report(benchmark::State &state, long entries) {
  state.counters["entries"] = static_cast<double>(entries);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kListed);
}

// --- listing -------------------------------------------------------------------------

void Kel_OsDir_List(benchmark::State &state) {
  tOSDIR dir;
  dir.SetName(ListedDir().c_str());
  tDIRFINDINFO info;
  long entries = 0;
  for (auto _ : state) {
    entries = 0;
    dir.Open();
    while (dir.Read(info) == 0) ++entries;
    dir.Close();
  }
  Report(state, entries);
}
BENCHMARK(Kel_OsDir_List)->Unit(benchmark::kMillisecond);

#if defined(_WIN32)
void Std_FindFirstFile(benchmark::State &state) {
  const std::string pattern = ListedDir() + "\\*";
  long entries = 0;
  for (auto _ : state) {
    entries = 0;
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &data)) ++entries;
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
  }
  Report(state, entries);
}
BENCHMARK(Std_FindFirstFile)->Unit(benchmark::kMillisecond);
#else
void Std_Readdir(benchmark::State &state) {
  long entries = 0;
  for (auto _ : state) {
    entries = 0;
    DIR *d = opendir(ListedDir().c_str());
    while (struct dirent *e = readdir(d)) entries += e->d_name[0] != '.';
    closedir(d);
  }
  Report(state, entries);
}
BENCHMARK(Std_Readdir)->Unit(benchmark::kMillisecond);

void Std_ReaddirLstat(benchmark::State &state) {
  long entries = 0;
  for (auto _ : state) {
    entries = 0;
    DIR *d = opendir(ListedDir().c_str());
    struct stat st;
    while (struct dirent *e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) ++entries;
    }
    closedir(d);
  }
  Report(state, entries);
}
BENCHMARK(Std_ReaddirLstat)->Unit(benchmark::kMillisecond);

#if defined(__linux__)
// The system calls a POSIX listing cannot do without: the names, lstat for
// kind, size, times and read-only, and the extended attribute that keeps
// the archive flag. The floor of Kel_OsDir_List.
void Std_ReaddirLstatXattr(benchmark::State &state) {
  long entries = 0;
  const std::string dir = ListedDir() + "/";
  for (auto _ : state) {
    entries = 0;
    DIR *d = opendir(dir.c_str());
    struct stat st;
    char value[16];
    std::string path;
    while (struct dirent *e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      path.assign(dir).append(e->d_name);
      getxattr(path.c_str(), "user.kelcore.attrib", value, sizeof value);
      ++entries;
    }
    closedir(d);
  }
  Report(state, entries);
}
BENCHMARK(Std_ReaddirLstatXattr)->Unit(benchmark::kMillisecond);
#endif
#endif

void Std_DirectoryIterator(benchmark::State &state) {
  long entries = 0;
  for (auto _ : state) {
    entries = 0;
    for (const fs::directory_entry &e : fs::directory_iterator(ListedDir())) {
      entries += e.is_directory() ? 0 : 1;
    }
  }
  Report(state, entries);
}
BENCHMARK(Std_DirectoryIterator)->Unit(benchmark::kMillisecond);

// --- emptiness ----------------------------------------------------------------------

// IsEmpty on the directory of 100,000 entries, beside opendir and the first
// readdir that counts: the answer needs one entry, whatever the size.
void Kel_OsDir_IsEmpty(benchmark::State &state) {
  tOSDIR dir;
  dir.SetName(ListedDir().c_str());
  int empty = 1;
  for (auto _ : state) {
    if (dir.IsEmpty(&empty) != 0 || empty) state.SkipWithError("IsEmpty failed");
  }
}
BENCHMARK(Kel_OsDir_IsEmpty)->Unit(benchmark::kMicrosecond);

#if defined(_WIN32)
void Std_FindFirstFileOnce(benchmark::State &state) {
  const std::string pattern = ListedDir() + "\\*";
  for (auto _ : state) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA(pattern.c_str(), &data);
    BOOL more = h != INVALID_HANDLE_VALUE;
    while (more && data.cFileName[0] == '.') more = FindNextFileA(h, &data);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    benchmark::DoNotOptimize(more);
  }
}
BENCHMARK(Std_FindFirstFileOnce)->Unit(benchmark::kMicrosecond);
#else
void Std_OpendirFirstReaddir(benchmark::State &state) {
  for (auto _ : state) {
    DIR *d = opendir(ListedDir().c_str());
    struct dirent *e;
    while ((e = readdir(d)) != nullptr && e->d_name[0] == '.') {
    }
    benchmark::DoNotOptimize(e);
    closedir(d);
  }
}
BENCHMARK(Std_OpendirFirstReaddir)->Unit(benchmark::kMicrosecond);
#endif

// --- creating files in N directories -------------------------------------------------

// N directories of existing files (2,000 each, fewer when N is large so that
// the whole stays at 200,000), filled in turn with new files: each create
// looks for a name that differs only in case in its directory.
const std::vector<std::string> &CreateDirs(int n) {
  static std::map<int, std::vector<std::string>> made;
  std::vector<std::string> &dirs = made[n];
  if (dirs.empty()) {
    const int perDir = std::min(2000, 200000 / n);
    for (int i = 0; i < n; ++i) {
      fs::path p = BenchRoot() / Numbered("create-", n) / Numbered("d", i);
      MakeFiles(p, perDir, 0);
      dirs.push_back(p.string() + "/");
    }
  }
  return dirs;
}

template <class Create>
void CreateRoundRobin(benchmark::State &state, const char *tag, Create create) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<std::string> &dirs = CreateDirs(n);
  static long i = 0;  // names never repeat, across repetitions too
  for (auto _ : state) {
    std::string name = dirs[i % n];
    name += tag;
    name += std::to_string(i++);
    if (!create(name)) {
      state.SkipWithError("create failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void Kel_OsFile_CreateInNDirs(benchmark::State &state) {
  CreateRoundRobin(state, "kel", [](const std::string &name) {
    tOSFILE file;
    file.SetName(name.c_str());
    if (file.CreateNew(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYNONE, 0666) != 0) {
      return false;
    }
    return file.Close() == 0;
  });
}

#if !defined(_WIN32)
void Std_OpenCreatInNDirs(benchmark::State &state) {
  CreateRoundRobin(state, "std", [](const std::string &name) {
    int fd = open(name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    return fd >= 0 && close(fd) == 0;
  });
}
#endif

// Each N for both in turn, so that the two of a pair see the same machine.
void CreateInNDirsArgs() {
  for (int n : {1, 17, 1000}) {
    benchmark::RegisterBenchmark("Kel_OsFile_CreateInNDirs", Kel_OsFile_CreateInNDirs)
        ->Arg(n)->Iterations(20000)->Unit(benchmark::kMicrosecond);
#if !defined(_WIN32)
    benchmark::RegisterBenchmark("Std_OpenCreatInNDirs", Std_OpenCreatInNDirs)
        ->Arg(n)->Iterations(20000)->Unit(benchmark::kMicrosecond);
#endif
  }
}
const bool createInNDirsRegistered = (CreateInNDirsArgs(), true);

// --- deleting a tree ------------------------------------------------------------------

// The tree: 10,000 files in 100 subdirectories.
template <class Remove>
void DeleteTree(benchmark::State &state, Remove remove) {
  const fs::path tree = BenchRoot() / "tree";
  for (auto _ : state) {
    state.PauseTiming();
    MakeFiles(tree, kDeleted, 100);
    state.ResumeTiming();
    remove(tree);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kDeleted);
}

void Kel_OsDir_DeleteTree(benchmark::State &state) {
  DeleteTree(state, [&](const fs::path &tree) {
    tOSDIR dir;
    dir.SetName(tree.string().c_str());
    if (dir.DeleteFiles(tDIRDEFS::DELETE_SUBDIRS | tDIRDEFS::DELETE_DIR) != 0) {
      state.SkipWithError("DeleteFiles failed");
    }
  });
}
BENCHMARK(Kel_OsDir_DeleteTree)->Unit(benchmark::kMillisecond);

void Std_RemoveAll(benchmark::State &state) {
  DeleteTree(state, [&](const fs::path &tree) {
    std::error_code ec;
    if (fs::remove_all(tree, ec) != static_cast<std::uintmax_t>(kDeleted + 101)) {
      state.SkipWithError("remove_all failed");
    }
  });
}
BENCHMARK(Std_RemoveAll)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
