// INI changes on arbitrary names and values: save then load gives back
// what was set.
//
// The input is a list of changes (an operation byte, then a section, a key
// and a value, each ended by a 0x00 byte), applied to an INI file that
// starts with content of its own (raw lines and a section). Changes whose
// names or values the file cannot hold are refused with a message and
// leave the content alone. After the changes the file is saved and loaded
// into a new object; the target traps when the two differ in any entry,
// key, comment, value or order (a key without value reads back empty), when
// the save leaves its side copy behind, or when a refused change changed
// something.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_file.h"
#include "fuzz/ini_dump.h"
#include "kelcore/files/ini_file.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"

using kelcore_fuzz::Check;
using kelcore_fuzz::DumpIni;

namespace {

// The next text ended by 0x00 (or by the end of the input).
std::string Next(const uint8_t *&p, const uint8_t *end) {
  std::string s;
  while (p < end && *p) s += static_cast<char>(*p++);
  if (p < end) ++p;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string &name = kelcore_fuzz::ScratchName(".ini");
  static const char kStart[] = "; first\n\n[Main]\nk=1\n; note\n";
  if (!kelcore_fuzz::WriteScratch(name, reinterpret_cast<const uint8_t *>(kStart),
                                  sizeof kStart - 1)) {
    return 0;
  }
  std::string set;
  {
    tINIFILE ini(*new tOSFILE, 1);
    ini.SetName(name.c_str());
    ini.Load();
    const uint8_t *p = data, *end = data + size;
    for (int n = 0; p < end && n < 64; ++n) {
      const uint8_t op = *p++;
      std::string section = Next(p, end), key = Next(p, end), value = Next(p, end);
      const std::string before = DumpIni(ini);
      tTHREAD::SetLastError(nullptr);
      switch (op % 5) {
        case 0: ini.Add(section.c_str(), key.c_str(), value.c_str()); break;
        case 1: ini.Replace(section.c_str(), key.c_str(), value.c_str()); break;
        case 2: ini.Insert(section.c_str(), key.c_str(), value.c_str(), nullptr); break;
        case 3: ini.Add(section.c_str()); break;
        default: ini.Replace(section.c_str(), key.c_str(), static_cast<const char *>(nullptr)); break;
      }
      if (tTHREAD::GetLastError() != nullptr) Check(before == DumpIni(ini));
    }
    // A key without value reads back empty.
    set = DumpIni(ini);
    ini.Save();
    Check(!ini.Modified());
  }
  tINIFILE again(*new tOSFILE, 1);
  again.SetName(name.c_str());
  Check(set == DumpIni(again));
  std::FILE *side = std::fopen((name + ".sav").c_str(), "rb");
  Check(side == nullptr);
  return 0;
}
