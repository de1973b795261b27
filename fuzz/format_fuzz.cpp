// Formats fuzz-chosen message texts against a fixed parameter list: one
// parameter of each argument type the placeholder specs meet (text, int,
// unsigned, double, long, long double, char, a message) and a null one.
// Whatever the text's specs ask for, the result must be a NUL-terminated
// text of at most 1023 characters, and nothing may be read or written
// outside its buffers (the sanitizers watch).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelcore/msg/message.h"

namespace {

const tPARMLIST &Parameters() {
  static tPARMLIST *list = [] {
    static tMSGSTR inner("inner %0'%5d'", "fuzz inner", tMSG::eERROR);
    inner << 7;
    tPARMLIST *l = new tPARMLIST;
    l->Add(new tPARM_STRING("text"));                // %0
    l->Add(new tPARM_INT(-42));                      // %1
    l->Add(new tPARM_UINT(0xC4u));                   // %2
    l->Add(new tPARM_DOUBLE(3.25e300));              // %3
    l->Add(nullptr);                                 // %4
    l->Add(new tPARM_LONG(-1L));                     // %5
    l->Add(new tPARM_LDOUBLE(1.0e-300L));            // %6
    l->Add(new tPARM_CHAR('\xE9'));                  // %7
    l->Add(new tPARM_MSG(inner));                    // %8
    l->Add(new tPARM_STRING(nullptr));               // %9
    return l;
  }();
  return *list;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back(0);
  char *out = tMSG::Format(text.data(), Parameters());
  if (out == nullptr) return 0;  // out of memory
  if (std::memchr(out, 0, 1024) == nullptr || std::strlen(out) > 1023) std::abort();
  delete[] out;
  return 0;
}
