// Every name operation on arbitrary bytes, in both conventions.
//
// Input: one byte of switches, then up to four texts separated by NUL
// bytes: a name, a pattern or location, a file name and an extension.
// Besides the sanitizers' checks, the target traps when a name outgrows its
// convention, when a getter points outside the name, when a location is not
// a prefix of its name, or when the matcher disagrees with a plain
// recursive statement of the matching rules (on inputs short enough for it).
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/names/unix_file_name.h"
#include "kelcore/sync/thread.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool RefSep(char c, bool dos) { return c == '/' || (dos && c == '\\'); }

bool RefWhole(const char *t, const char *p, bool dos) {
  while (*p != '\0' && *t != '\0') {
    if (*p == '?') {
      ++p;
      ++t;
    } else if (*p == '*') {
      ++p;
      for (;;) {
        if (RefWhole(t, p, dos)) return true;
        if (RefSep(*t, dos)) return false;
        if (*t == '\0') break;
        ++t;
      }
    } else {
      if (std::tolower(static_cast<unsigned char>(*p)) !=
          std::tolower(static_cast<unsigned char>(*t))) {
        return false;
      }
      ++p;
      ++t;
    }
  }
  return *p == '\0' && *t == '\0';
}

int RefMatches(const char *name, const char *pattern, bool dos) {
  if (name[0] == '\0') return 0;
  for (const char *t = name;;) {
    if (RefWhole(t, pattern, dos)) return 1;
    while (*t != '\0' && !RefSep(*t, dos)) ++t;
    if (*t == '\0' || t[1] == '\0') return 0;
    ++t;
  }
}

// Small enough for the exponential reference to stay quick.
bool SmallForReference(const std::string &name, const std::string &pattern) {
  std::size_t stars = 0;
  for (char c : pattern) stars += (c == '*');
  return name.size() <= 24 && pattern.size() <= 16 && stars <= 5;
}

void CheckShape(tPHYFILENAMEOBJ &n) {
  const char *name = n.GetName();
  const std::size_t len = std::strlen(name);
  Check(len <= n.GetMaxLen());
  const char *file = n.GetFileName();
  const char *ext = n.GetExtension();
  Check(file >= name && file <= name + len);
  Check(ext >= file && ext <= name + len);
  Check((n.HasExtension() != 0) == (ext[0] != '\0'));
  tPHYFILENAMEOBJ *loc = n.GetLocation();
  if (loc != nullptr) {
    const std::size_t loc_len = std::strlen(loc->GetName());
    Check(loc_len <= len && std::memcmp(loc->GetName(), name, loc_len) == 0);
    loc->GetLocation();
  }
  n.IsRoot();
  n.HasDir();
  Check(n.IsAbsolute() + n.IsRelative() == 1);
}

void Exercise(tPHYFILENAMEOBJ &n, tPHYFILENAMEOBJ &other, const std::string *s, std::uint8_t flags,
              bool dos) {
  n.SetName(s[0].c_str());
  CheckShape(n);

  const int match = n.NameMatches(s[1].c_str());
  const int static_match = dos ? tPCFILENAME::NameMatches(s[0].c_str(), s[1].c_str())
                               : tUNIXFILENAME::NameMatches(s[0].c_str(), s[1].c_str());
  if (std::strlen(n.GetName()) == s[0].size() && std::strcmp(n.GetName(), s[0].c_str()) == 0) {
    Check(match == static_match);
  }
  if (SmallForReference(s[0], s[1])) {
    Check(static_match == RefMatches(s[0].c_str(), s[1].c_str(), dos));
  }

  n.SetLocation(s[1].c_str(), flags & 0x02);
  CheckShape(n);
  n.SetFileName(s[2].c_str());
  CheckShape(n);
  n.SetExtension(s[3].c_str());
  CheckShape(n);

  other.SetName(s[1].c_str());
  n.SetName(other);
  CheckShape(n);
  n.SetLocation(other, flags & 0x04);
  CheckShape(n);
  if (n.GetLocation() != nullptr) {
    n.SetName(*n.GetLocation());
    CheckShape(n);
  }
  if (flags & 0x08) {
    n.FullyQualify();
    CheckShape(n);
  }
#if !defined(_WIN32)
  if (flags & 0x10) {
    setenv("KELCORE_FUZZ_NAME", s[2].c_str(), 1);
    n.SetName("KELCORE_FUZZ_NAME", s[3].c_str());
    CheckShape(n);
    unsetenv("KELCORE_FUZZ_NAME");
    n.SetName("KELCORE_FUZZ_NAME", s[3].c_str());
    CheckShape(n);
  }
#endif
  n.NameMatches(n.GetFileName());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  std::string s[4];
  std::size_t field = 0;
  for (std::size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      if (++field == 4) break;
    } else {
      s[field] += static_cast<char>(data[i]);
    }
  }

  tPCFILENAME dos;
  tUNIXFILENAME unix_name;
  if (flags & 0x01) {
    Exercise(dos, unix_name, s, flags, true);
    Exercise(unix_name, dos, s, flags, false);
  } else {
    Exercise(unix_name, dos, s, flags, false);
    Exercise(dos, unix_name, s, flags, true);
  }
  // Refusals leave messages behind as the last error; do not let them pile
  // up as the only thing the fuzzer sees.
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  return 0;
}
