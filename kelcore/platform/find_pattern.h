// The Win32 rules by which FindFirstFileA matches the last component of
// its pattern, for systems whose listing the library emulates. Pure C++,
// no system call: the tests compare it with the system's own listing
// where there is one.
//
// Internal to the library; nothing here is public API.
#ifndef KELCORE_PLATFORM_FIND_PATTERN_H
#define KELCORE_PLATFORM_FIND_PATTERN_H

#include <cstddef>
#include <cstring>

namespace kelsys {
// A pattern is matched as Windows matches it once FindFirstFile has turned
// it into the system's wildcards: `?` is DOS_QM, `*` before a dot DOS_STAR,
// a dot before `?`, `*` or the end DOS_DOT, any other `*` a plain star;
// letters compare without regard to case. "*" and "*.*" match every name.
class FindPattern {
 public:
  // False when the pattern is longer than a name can be.
  bool Set(const char *mask) {
    std::size_t n = std::strlen(mask);
    if (n >= sizeof ops_) return false;
    all_ = std::strcmp(mask, "*") == 0 || std::strcmp(mask, "*.*") == 0;
    len_ = n;
    for (std::size_t i = 0; i < n; ++i) {
      char c = mask[i], next = mask[i + 1];
      if (c == '?') {
        ops_[i] = kDosQm;
      } else if (c == '*') {
        ops_[i] = next == '.' ? kDosStar : kStar;
      } else if (c == '.' && (next == '?' || next == '*' || next == '\0')) {
        ops_[i] = kDosDot;
      } else {
        ops_[i] = Lower(c);
      }
    }
    return true;
  }

  bool Matches(const char *name) const {
    if (all_) return true;
    std::size_t len = std::strlen(name);
    if (len >= sizeof ops_) return false;
    const char *dot = std::strrchr(name, '.');
    // Positions already known not to match: at most one visit each, so the
    // time is bounded by the product of the lengths whatever the pattern.
    unsigned char failed[(sizeof ops_ + 1) * (sizeof ops_ + 1) / 8 + 1];
    std::size_t bits = (len_ + 1) * (len + 1);
    std::memset(failed, 0, bits / 8 + 1);
    return Match(0, 0, name, len, dot != nullptr ? static_cast<std::size_t>(dot - name) : len,
                 failed);
  }

 private:
  bool Match(std::size_t p, std::size_t n, const char *name, std::size_t len,
             std::size_t lastDot, unsigned char *failed) const {
    std::size_t bit = p * (len + 1) + n;
    if (failed[bit / 8] & (1u << (bit % 8))) return false;
    bool ok;
    if (p == len_) {
      ok = n == len;
    } else {
      char op = ops_[p];
      if (op == kStar || op == kDosStar) {
        // A DOS_STAR never consumes the name's last dot.
        ok = Match(p + 1, n, name, len, lastDot, failed) ||
             (n < len && !(op == kDosStar && n == lastDot) &&
              Match(p, n + 1, name, len, lastDot, failed));
      } else if (op == kDosQm) {
        if (n == len || name[n] == '.') {
          std::size_t q = p;
          while (q < len_ && ops_[q] == kDosQm) ++q;
          ok = Match(q, n, name, len, lastDot, failed);
        } else {
          ok = Match(p + 1, n + 1, name, len, lastDot, failed);
        }
      } else if (op == kDosDot) {
        ok = n == len ? Match(p + 1, n, name, len, lastDot, failed)
             : name[n] == '.' && Match(p + 1, n + 1, name, len, lastDot, failed);
      } else {
        ok = n < len && Lower(name[n]) == op && Match(p + 1, n + 1, name, len, lastDot, failed);
      }
    }
    if (!ok) failed[bit / 8] = static_cast<unsigned char>(failed[bit / 8] | (1u << (bit % 8)));
    return ok;
  }

  enum : char { kStar = 1, kDosStar = 2, kDosQm = 3, kDosDot = 4 };
  static char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }

  char ops_[260];  // MAX_PATH
  std::size_t len_ = 0;
  bool all_ = false;
};

}  // namespace kelsys

#endif  // KELCORE_PLATFORM_FIND_PATTERN_H
