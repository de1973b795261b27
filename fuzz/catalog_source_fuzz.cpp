// The catalog compiler on arbitrary bytes, read both as catalog source and
// as a message file.
//
// Source: whatever the compiler accepts must compile, read back, dump and
// compile again to the same bytes; a refusal must say "file:line: ". As a
// message file: the reader refuses or reads, and what it reads dumps.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/kelmsgc/msgc.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);

  // The source always starts a catalog, so that the parser's rules are
  // reached rather than "message before any $catalog".
  kelmsgc::tCOMPILER compiler;
  std::string bytes;
  if (compiler.AddSource("a.msg", "$catalog Fuzz\n") && compiler.AddSource("b.msg", input)) {
    if (compiler.Write(&bytes)) {
      std::vector<kelmsgc::tCATALOG> catalogs;
      std::string error, source, again;
      Check(kelmsgc::ReadMessageFile(bytes, &catalogs, &error));
      Check(kelmsgc::Dump(catalogs, &source, &error));
      kelmsgc::tCOMPILER second;
      Check(second.AddSource("dump.msg", source));
      Check(second.Write(&again));
      Check(again == bytes);
    }
  } else {
    Check(compiler.Error().compare(0, 6, "b.msg:") == 0);
  }

  std::vector<kelmsgc::tCATALOG> catalogs;
  std::string error, source;
  if (kelmsgc::ReadMessageFile(input, &catalogs, &error)) {
    kelmsgc::Dump(catalogs, &source, &error);
    kelmsgc::List(catalogs);
  }
  return 0;
}
