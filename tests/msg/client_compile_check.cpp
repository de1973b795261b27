// A small client of the message and 16-bit string headers that must compile
// warning-free as C++11, C++17 and C++20 (the build compiles it in each
// mode; the msg test program also includes it and runs it once).
//
// It covers the two traps of these headers: C++20's reversed operator==
// candidates between message or parameter classes at different depths, and
// the 16-bit overloads of the C string and character functions next to the
// C library's own declarations.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctype.h>
#include <string.h>

#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "kelcore/text/nls_string.h"

// Classes with their own operator==, as a catalog message or a system-error
// parameter has.
struct tCLIENT_MSG : tMSGSTR {
  explicit tCLIENT_MSG(const char *id) : tMSGSTR("client", id, eERROR) {}
  int operator==(const tMSG &other) const { return tMSG::operator==(other); }
  KELCORE_MSG_EQUALITY(tCLIENT_MSG)
};

const char kClientParmTag = 0;  // the class's identity
struct tCLIENT_PARM : tPARAMETER {
  tCLIENT_PARM() : tPARAMETER(&kClientParmTag) {}
  void Format(char *buf, const char *) const { buf[0] = 0; }
  int operator==(const tPARAMETER &other) const { return tPARAMETER::operator==(other); }
  KELCORE_PARM_EQUALITY(tCLIENT_PARM)
};

// The number of checks that failed (0 when all hold).
inline int KelcoreClientCompileCheck() {
  static const char kId[] = "client";
  tMSGSTR a("a", kId, tMSG::eERROR);
  tTRACEMSG t("t");
  tCLIENT_MSG c(kId);
  const tMSG &base = a;
  tPARM_INT i(5);
  tPARM_UINT u(5u);
  tCLIENT_PARM cp;
  const tPARAMETER &pi = i, &pcp = cp;
  // 8-bit calls keep reaching the C library; 16-bit and mixed ones reach the overloads.
  char buf[16] = "abc", out[8];
  const char *cbuf = buf;
  unsigned short w[16];
  const unsigned short unit = 0x162;
  strcat(strcpy(w, "ab"), "c");
  strncat(strcat(strcpy(out, "x"), "y"), "z", 2);
  // Each comparison between two classes, in both orders, then the string and character functions.
  const int holds[] = {
      base == a, a == base, base == c, c == base, c == c, i == pi, pi == i, cp == pcp, pcp == cp, !(a == t), !(t == a),
      !(base == t), !(c == t), !(t == c), !(i == u), !(pi == u), !(cp == i), !(i == cp), std::strlen(buf) == 3,
      strchr(buf, 'b') == buf + 1, strchr(cbuf, 'c') == cbuf + 2, strrchr(buf, 0x61) == buf, strncmp(buf, "abd", 2) == 0,
      toupper('a') == 'A', isalpha('a') != 0, std::isdigit('7') != 0, CharLen(w) == 3, strchr(w, 0) == w + 3,
      strchr(w, 'b') == w + 1, strchr(w, unit) == nullptr, strchr(buf, unit) == nullptr, strcmp("abc", w) == 0,
      toupper(static_cast<unsigned short>(0x61)) == 0x41, !(isascii)(unit), std::strcmp(out, "xyz") == 0};
  return static_cast<int>(std::count(holds, holds + sizeof holds / sizeof holds[0], 0));
}
