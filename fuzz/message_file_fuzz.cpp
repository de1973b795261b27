// The library's message-file reader on arbitrary bytes: register the file,
// locate every catalog in it (walking with FindNextCatalog, then by name
// through catalog handles) and read every message each set index names,
// plus ids around them. Nothing may crash, leak or read outside its
// buffers; every failure must leave a message as the thread's last error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "kelcore/catalog/message_file.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/sync/thread.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

std::string TempName() {
  static const std::string name = "/tmp/kelcore-msgfile-fuzz-" + std::to_string(getpid()) + ".cat";
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string path = TempName();
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  tMSGFILE file;
  file.SetFile(path.c_str(), nullptr, nullptr, nullptr);
  std::string names[8];
  int count = 0;
  unsigned long at = 0;
  // The catalogs' names, read as FindCatalog reads them.
  while (count < 8 && file.FindCatalog(nullptr, at, nullptr) == 0) {
    char id[128];
    if (file.ReadId(id) != 0) break;
    names[count++] = id;
    unsigned long next = 0;
    if (file.FindNextCatalog(at) != 0 || file.GetPos(&next) != 0 || next <= at) break;
    at = next;
  }
  for (int c = 0; c < count; ++c) {
    tMSGCAT cat(names[c].c_str(), nullptr, nullptr);
    unsigned int set = 0;
    for (int s = 0; s < 16 && cat.GetNextSetId(set, &set) == 0; ++s, ++set) {
      unsigned int msg = 0;
      for (int m = 0; m < 64 && cat.GetNextMsgId(set, msg, &msg) == 0; ++m, ++msg) {
        char *text = nullptr;
        unsigned int rc = cat.GetMsg(set, msg, &text);
        Check((rc == 0) == (text != nullptr));
        Check(rc == 0 || tTHREAD::GetLastError() != nullptr);
        delete[] text;
        if (msg == 0xFFFFFFFFu) break;
      }
      if (set == 0xFFFFFFFFu) break;
    }
    char *text = nullptr;
    cat.GetMsg(0xFFFFFFFFu, 0, &text);
    delete[] text;
  }
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  return 0;
}
