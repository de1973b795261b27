#include "kelcore/names/wildcard_match.h"

#include <cctype>
#include <cstring>
#include <new>

#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

// The rules being implemented, as a recursive matcher would state them for
// text position j and pattern position q:
//   M(j, end)  = (j == end of text)
//   M(end, q)  = 0 while pattern is left (so a "*" cannot start at the end)
//   M(j, "?")  = M(j+1, q+1)                  (any character, separators too)
//   M(j, "*")  = M(j, q+1) or, if t[j] is not a separator, the "*" goes on
//                at j+1 (where reaching the end of text tries M(end, q+1))
//   M(j, c)    = tolower(t[j]) == tolower(c) and M(j+1, q+1)
// Written as recursion this backtracks exponentially on patterns such as
// "*a*a*a*a*b" against long components, and NameMatches repeats it for every
// tail of the name. A greedy two-pointer match is not enough either: "?"
// crosses separators while "*" cannot, so a later "*" blocked by a separator
// can need an earlier "*" to give up characters. Instead the pattern is
// walked once from its end, keeping for every text position j whether the
// rest of the pattern matches from j. One walk answers the whole name and
// every tail at once, in time proportional to name length times pattern
// length, with runs of "*" counted once (they match the same texts) and only
// the live range of positions visited. A first pass over the text before
// the first "*" settles patterns without "*" outright and rules out most
// starts of the others cheaply.

namespace kelnames {
namespace {

const unsigned int kStackPositions = 4096;

inline int IsSeparator(char c, int dos_separators) {
  return c == '/' || (dos_separators && c == '\\');
}

inline int Lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }

inline int CharMatches(char tc, char pc) {
  return pc == '?' || tc == pc || Lower(tc) == Lower(pc);
}

// The pattern's characters before its first "*" match the text at `j`.
int LeadMatches(const char *name, std::size_t n, std::size_t j, const char *pattern,
                std::size_t lead) {
  if (j + lead > n) return 0;
  for (std::size_t i = 0; i < lead; ++i) {
    if (!CharMatches(name[j + i], pattern[i])) return 0;
  }
  return 1;
}

}  // namespace

int MatchNameOrTail(const char *name, const char *pattern, int dos_separators) {
  if (name == nullptr || name[0] == '\0') return 0;
  if (pattern == nullptr) pattern = "";
  const std::size_t n = std::strlen(name);
  const std::size_t m = std::strlen(pattern);

  // Every pattern character but "*" takes exactly one character of text.
  std::size_t needed = 0;
  std::size_t lead = m;
  for (std::size_t q = 0; q < m; ++q) {
    if (pattern[q] != '*') {
      ++needed;
    } else if (lead == m) {
      lead = q;
    }
  }
  if (needed > n) return 0;

  // Cheap first pass over the places a match can start (the name and each
  // tail): the text before the first "*" must match there. Without a "*"
  // that is the whole question. Otherwise the earliest such start bounds
  // the positions the walk below needs to look at.
  if (lead == m) {
    // Only the start that leaves exactly the pattern's length can match.
    const std::size_t j = n - m;
    if (j == n || (j > 0 && !IsSeparator(name[j - 1], dos_separators))) return 0;
    return LeadMatches(name, n, j, pattern, m);
  }
  std::size_t first_start = n;
  for (std::size_t j = 0; j < n; ++j) {
    if (j > 0 && !IsSeparator(name[j - 1], dos_separators)) continue;
    if (LeadMatches(name, n, j, pattern, lead)) {
      first_start = j;
      break;
    }
  }
  if (first_start == n) return 0;

  unsigned char stack_col[kStackPositions];
  unsigned char *col = stack_col;
  unsigned char *heap_col = nullptr;
  if (n + 1 > kStackPositions) {
    heap_col = new (std::nothrow) unsigned char[n + 1];
    if (heap_col == nullptr) {
      tTHREAD::SetLastError(tERRMSG::OutOfMemory);
      return 0;
    }
    col = heap_col;
  }

  // col[j]: the pattern from q onwards matches the text from j onwards.
  // Only [lo, hi] can hold true entries; everything outside it is 0.
  // Positions below `floor` cannot be reached from any start by the
  // pattern before q, so they are never computed.
  std::memset(col, 0, n + 1);
  col[n] = 1;
  std::size_t lo = n;
  std::size_t hi = n;
  std::size_t before = needed;  // non-"*" characters in pattern[0, q)
  int alive = 1;

  for (std::size_t q = m; q-- > 0 && alive;) {
    const char pc = pattern[q];
    if (pc != '*') --before;
    const std::size_t floor = first_start + before;
    if (pc == '*') {
      if (q + 1 < m && pattern[q + 1] == '*') continue;
      // Right to left: s is "some position from j up to the end of j's
      // component lets the rest match".
      int s = 0;
      std::size_t new_lo = 0;
      std::size_t new_hi = 0;
      alive = 0;
      for (std::size_t j = hi + 1; j-- > floor;) {
        if (j == n) {
          s = col[n];
          col[n] = 0;
          continue;
        }
        s = col[j] || (s && !IsSeparator(name[j], dos_separators));
        col[j] = static_cast<unsigned char>(s);
        if (s) {
          if (!alive) new_hi = j;
          new_lo = j;
          alive = 1;
        } else if (j < lo) {
          break;  // left of the old range nothing can become true again
        }
      }
      lo = new_lo;
      hi = new_hi;
    } else {
      const int any = (pc == '?');
      const int lower = Lower(pc);
      std::size_t new_lo = 0;
      std::size_t new_hi = 0;
      alive = 0;
      // Left to right, so col[j + 1] is still the old value when read.
      std::size_t j = lo > 0 ? lo - 1 : 0;
      if (j < floor) j = floor;
      for (; j <= hi; ++j) {
        int v = 0;
        if (j < n && col[j + 1]) {
          const char tc = name[j];
          v = any || tc == pc || Lower(tc) == lower;
        }
        col[j] = static_cast<unsigned char>(v);
        if (v) {
          if (!alive) new_lo = j;
          new_hi = j;
          alive = 1;
        }
      }
      lo = new_lo;
      hi = new_hi;
    }
  }

  int result = 0;
  if (alive) {
    // The whole name, then each tail that starts after a separator.
    result = col[0];
    for (std::size_t j = 0; !result && j + 1 < n; ++j) {
      if (IsSeparator(name[j], dos_separators)) result = col[j + 1];
    }
  }
  delete[] heap_col;
  return result;
}

}  // namespace kelnames
