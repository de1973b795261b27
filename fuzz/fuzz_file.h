// A scratch file for the fuzz targets whose readers work on files: each
// input is written to one file per process, under the system's temporary
// directory (/dev/shm where there is one), and removed at exit.
#ifndef KELCORE_FUZZ_FUZZ_FILE_H
#define KELCORE_FUZZ_FUZZ_FILE_H

#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define KELCORE_FUZZ_GETPID _getpid
#else
#include <unistd.h>
#define KELCORE_FUZZ_GETPID getpid
#endif

namespace kelcore_fuzz {

// The scratch file's name, with `suffix`; created on first use.
inline const std::string &ScratchName(const char *suffix) {
  static const std::string name = [&] {
    // Memory-backed when the system has it: saves flush to the device.
    const char *dir = std::getenv("TMPDIR");
    if (!dir || !*dir) {
      std::FILE *probe = std::fopen("/dev/shm/.", "rb");
      dir = probe ? "/dev/shm" : "/tmp";
      if (probe) std::fclose(probe);
    }
    std::string n = std::string(dir) + "/kelcore-fuzz-" +
                    std::to_string(KELCORE_FUZZ_GETPID()) + suffix;
    return n;
  }();
  static const struct tREMOVER {
    std::string path;
    ~tREMOVER() { std::remove(path.c_str()); }
  } remover = {name};
  return name;
}

inline bool WriteScratch(const std::string &name, const unsigned char *data, size_t size) {
  FILE *f = std::fopen(name.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

inline std::string ReadScratch(const std::string &name) {
  std::string out;
  FILE *f = std::fopen(name.c_str(), "rb");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  std::fclose(f);
  return out;
}

inline void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace kelcore_fuzz

#endif  // KELCORE_FUZZ_FUZZ_FILE_H
