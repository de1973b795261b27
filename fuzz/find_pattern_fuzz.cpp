// The Windows pattern rules of directory listings on arbitrary bytes.
//
// Input: a pattern, a NUL byte, a name. Besides the sanitizers' checks, the
// target traps when the matcher disagrees with a plain recursive statement
// of the rules (on inputs short enough for it), so that the bounded matcher
// the listings use stays the same function as the simple one.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "kelcore/platform/find_pattern.h"

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// p: the pattern as typed, n: the name; last: the name's last dot or npos.
bool Ref(const std::string &p, std::size_t pi, const std::string &n, std::size_t ni,
         std::size_t last) {
  if (pi == p.size()) return ni == n.size();
  char c = p[pi];
  char next = pi + 1 < p.size() ? p[pi + 1] : '\0';
  if (c == '*') {
    // A star before a dot never eats the name's last dot.
    bool dosStar = next == '.';
    if (Ref(p, pi + 1, n, ni, last)) return true;
    if (ni == n.size() || (dosStar && ni == last)) return false;
    return Ref(p, pi, n, ni + 1, last);
  }
  if (c == '?') {
    if (ni == n.size() || n[ni] == '.') {
      std::size_t q = pi;
      while (q < p.size() && p[q] == '?') ++q;
      return Ref(p, q, n, ni, last);
    }
    return Ref(p, pi + 1, n, ni + 1, last);
  }
  if (c == '.' && (next == '?' || next == '*' || next == '\0')) {
    if (ni == n.size()) return Ref(p, pi + 1, n, ni, last);
    return n[ni] == '.' && Ref(p, pi + 1, n, ni + 1, last);
  }
  return ni < n.size() && Lower(n[ni]) == Lower(c) && Ref(p, pi + 1, n, ni + 1, last);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *text = reinterpret_cast<const char *>(data);
  const char *nul = static_cast<const char *>(std::memchr(text, '\0', size));
  if (nul == nullptr) return 0;
  std::string pattern(text, nul);
  std::string name(nul + 1, text + size);
  if (name.find('\0') != std::string::npos) return 0;
  kelsys::FindPattern match;
  if (!match.Set(pattern.c_str())) return 0;
  bool got = match.Matches(name.c_str());
  // Control bytes 1 to 4 stand for the wildcards inside the matcher.
  for (char c : pattern) {
    if (c >= 1 && c <= 4) return 0;
  }
  if (pattern == "*" || pattern == "*.*") {
    if (!got) __builtin_trap();
    return 0;
  }
  if (pattern.size() <= 12 && name.size() <= 12 && name.size() < 260) {
    std::size_t last = name.rfind('.');
    if (Ref(pattern, 0, name, 0, last == std::string::npos ? name.size() : last) != got) {
      __builtin_trap();
    }
  }
  return 0;
}
