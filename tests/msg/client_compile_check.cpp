// A small client of the message and 16-bit string headers that must compile
// warning-free as C++11, C++17 and C++20 (the build compiles it in each
// mode; the msg test program also includes it and runs it once).
//
// It covers the two traps of these headers: C++20's reversed operator==
// candidates between message or parameter classes at different depths, and
// the 16-bit overloads of the C string and character functions next to the
// C library's own declarations.
#include <cctype>
#include <cstring>
#include <ctype.h>
#include <string.h>

#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/text/nls_string.h"

// Classes with their own operator==, as a catalog message or a system-error
// parameter has.
class tCLIENT_MSG : public tMSGSTR {
 public:
  explicit tCLIENT_MSG(const char *id) : tMSGSTR("client", id, eERROR) {}
  int operator==(const tMSG &other) const { return tMSG::operator==(other); }
  KELCORE_MSG_EQUALITY(tCLIENT_MSG)
};

class tCLIENT_PARM : public tPARAMETER {
 public:
  tCLIENT_PARM() : tPARAMETER(&kTag) {}
  void Format(char *buf, const char *) const { buf[0] = 0; }
  int operator==(const tPARAMETER &other) const { return tPARAMETER::operator==(other); }
  KELCORE_PARM_EQUALITY(tCLIENT_PARM)

 private:
  static const char kTag;
};
const char tCLIENT_PARM::kTag = 0;

// The number of checks that failed (0 when all hold).
inline int KelcoreClientCompileCheck() {
  int failures = 0;
  static const char kId[] = "client";

  tMSGSTR a("a", kId, tMSG::eERROR), b("b", kId, tMSG::eERROR);
  tTRACEMSG t("t");
  const tMSG &base = a;
  failures += (a == b) ? 0 : 1;
  failures += (a == t) ? 1 : 0;
  failures += (t == a) ? 1 : 0;
  failures += (base == a) ? 0 : 1;
  failures += (a == base) ? 0 : 1;
  failures += (base == t) ? 1 : 0;
  tCLIENT_MSG c(kId);
  failures += (base == c) ? 0 : 1;
  failures += (c == base) ? 0 : 1;
  failures += (c == t) ? 1 : 0;
  failures += (t == c) ? 1 : 0;
  failures += (c == c) ? 0 : 1;

  tPARM_INT i(5);
  tPARM_UINT u(5u);
  const tPARAMETER &pi = i;
  failures += (i == u) ? 1 : 0;
  failures += (i == pi) ? 0 : 1;
  failures += (pi == i) ? 0 : 1;
  failures += (pi == u) ? 1 : 0;
  tCLIENT_PARM cp;
  const tPARAMETER &pcp = cp;
  failures += (cp == pcp) ? 0 : 1;
  failures += (pcp == cp) ? 0 : 1;
  failures += (cp == i) ? 1 : 0;
  failures += (i == cp) ? 1 : 0;

  // 8-bit calls keep reaching the C library.
  char buf[16] = "abc";
  const char *cbuf = buf;
  failures += std::strlen(buf) == 3 ? 0 : 1;
  failures += strchr(buf, 'b') == buf + 1 ? 0 : 1;
  failures += strchr(cbuf, 'c') == cbuf + 2 ? 0 : 1;
  failures += strrchr(buf, 0x61) == buf ? 0 : 1;
  failures += strcmp(buf, "abc") == 0 ? 0 : 1;
  failures += strncmp(buf, "abd", 2) == 0 ? 0 : 1;
  strcpy(buf, "x");
  strcat(buf, "y");
  strncat(buf, "z", 2);
  failures += std::strcmp(buf, "xyz") == 0 ? 0 : 1;
  failures += toupper('a') == 'A' ? 0 : 1;
  failures += isalpha('a') ? 0 : 1;
  failures += std::isdigit('7') ? 0 : 1;

  // And 16-bit and mixed calls reach the overloads.
  unsigned short w[16];
  unsigned short unit = 0x162;
  strcpy(w, "ab");
  strcat(w, "c");
  failures += CharLen(w) == 3 ? 0 : 1;
  failures += strchr(w, 0) == w + 3 ? 0 : 1;
  failures += strchr(w, 'b') == w + 1 ? 0 : 1;
  failures += strchr(w, unit) == nullptr ? 0 : 1;
  failures += strchr(buf, unit) == nullptr ? 0 : 1;
  failures += strcmp(w, "abc") == 0 ? 0 : 1;
  failures += strcmp("abc", w) == 0 ? 0 : 1;
  failures += toupper(static_cast<unsigned short>(0x61)) == 0x41 ? 0 : 1;
  failures += (isascii)(unit) ? 1 : 0;
  return failures;
}
