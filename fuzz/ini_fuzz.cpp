// INI files on arbitrary bytes: load, save, load again.
//
// Besides the sanitizers' checks, the target traps when the second load
// differs from the first (raw entries, sections, keys, comments, values and
// order), when saving the second load writes other bytes than the first
// save, or when a save leaves its side copy behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_file.h"
#include "fuzz/ini_dump.h"
#include "kelcore/files/ini_file.h"
#include "kelcore/physical/os/os_file.h"

using kelcore_fuzz::Check;
using kelcore_fuzz::DumpIni;

namespace {

// Loads the file, dumps it and saves it; returns the dump.
std::string LoadAndSave(const std::string &name) {
  tINIFILE ini(*new tOSFILE, 1);
  ini.SetName(name.c_str());
  std::string dump = DumpIni(ini);
  ini.SetModified(1);
  ini.Save();
  Check(!ini.Modified());
  return dump;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &name = kelcore_fuzz::ScratchName(".ini");
  if (!kelcore_fuzz::WriteScratch(name, data, size)) return 0;
  std::string first = LoadAndSave(name);
  std::string saved = kelcore_fuzz::ReadScratch(name);
  std::string second = LoadAndSave(name);
  Check(first == second);
  Check(saved == kelcore_fuzz::ReadScratch(name));
  FILE *side = std::fopen((name + ".sav").c_str(), "rb");
  Check(side == nullptr);
  return 0;
}
