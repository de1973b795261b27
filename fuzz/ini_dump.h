// A loaded INI file as one text, for the INI fuzz targets to compare:
// every entry (raw line or section) and every key or comment, in order.
#ifndef KELCORE_FUZZ_INI_DUMP_H
#define KELCORE_FUZZ_INI_DUMP_H

#include <string>

#include "kelcore/files/ini_file.h"

namespace kelcore_fuzz {

inline std::string DumpIni(tINIFILE &ini) {
  std::string out;
  for (tINIFILE::tSECTION *s = ini.GetFirstEntry(); s; s = s->GetNextEntry()) {
    out += s->IsRaw() ? "R" : "S";
    out += s->GetName();
    out += '\n';
    for (tINIFILE::tKEY *k = s->GetFirstKey(); k; k = k->GetNext()) {
      out += k->IsComment() ? "C" : std::string("K") + k->GetName() + '\x01';
      out += k->GetValue() ? k->GetValue() : "";
      out += '\n';
    }
  }
  return out;
}

}  // namespace kelcore_fuzz

#endif  // KELCORE_FUZZ_INI_DUMP_H
