// Helpers shared by the message tests.
#ifndef KELCORE_TESTS_MSG_MSG_TEST_UTIL_H
#define KELCORE_TESTS_MSG_MSG_TEST_UTIL_H

#include <cstring>
#include <string>

#include "kelcore/msg/message.h"
#include "kelcore/msg/parameter.h"
#include "tests/support/alloc_failure.h"

namespace kelcore_test {

// The text a parameter formats into a 1024-byte buffer; checks that the
// buffer was terminated inside its 1024 bytes.
inline std::string Text(const tPARAMETER &parm, const char *spec) {
  char buf[1100];
  std::memset(buf, '#', sizeof buf);
  parm.Format(buf, spec);
  const void *nul = std::memchr(buf, 0, 1024);
  if (nul == nullptr) return "<unterminated>";
  return std::string(buf);
}

// The text of the static Format, released with delete[] as documented.
inline std::string Formatted(char *text) {
  if (text == nullptr) return "<null>";
  std::string s(text);
  delete[] text;
  return s;
}

// A parameter that counts live instances, to check who destroys what.
class CountingParm : public tPARAMETER {
 public:
  static int live;
  CountingParm() : tPARAMETER(&live) { ++live; }
  ~CountingParm() { --live; }
  void Format(char *buf, const char *) const { std::strcpy(buf, "counting"); }
};

// A message that counts live instances.
class TrackedMsg : public tMSGSTR {
 public:
  static int live;
  explicit TrackedMsg(const char *format) : tMSGSTR(format, "tracked", eERROR) { ++live; }
  ~TrackedMsg() { --live; }
};

// Hides a pointer's value from the optimiser, so that calls through a null
// object reach the library as written.
template <class T> T *Opaque(T *p) {
  T *volatile hidden = p;
  return hidden;
}

// The address of a reference that may be null, read back through volatile:
// compilers fold `&ref == nullptr` to false in code built without
// -fno-delete-null-pointer-checks, as these tests are.
template <class T> const T *AddressOf(const T &ref) {
  const T *volatile address = &ref;
  return address;
}

}  // namespace kelcore_test

#endif  // KELCORE_TESTS_MSG_MSG_TEST_UTIL_H
