#include "kelcore/names/wildcard_match.h"

#include <cctype>
#include <cstdint>
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
// rest of the pattern matches from j, as one bit per position: a pattern
// character then costs a few word operations per 64 positions, so the worst
// case (every position alive through a long pattern) is name length times
// pattern length divided by 64. One walk answers the whole name and every
// tail at once, with runs of "*" counted once (they match the same texts).
//
// Cheap checks settle most names before that: the text after the last "*"
// must match the end of the name, the text before the first "*" must match
// at the start of the name or of a tail, and a pattern without "*" is
// settled by those alone.

namespace kelnames {
namespace {

typedef std::uint64_t tWORD;
const unsigned int kWordBits = 64;
// Words of bit sets kept on the stack; longer names take the heap.
const std::size_t kStackWords = 512;
// Patterns whose text before the first "*" is longer than this have it
// folded into the bit walk, so that checking it at every start of a tail
// never costs more than the walk.
const std::size_t kShortLead = 16;

inline int IsSeparator(char c, int dos_separators) {
  return c == '/' || (dos_separators && c == '\\');
}

inline int Lower(char c) { return std::tolower(static_cast<unsigned char>(c)); }

inline int CharMatches(char tc, char pc) {
  return pc == '?' || tc == pc || Lower(tc) == Lower(pc);
}

// The pattern's `count` characters from `pattern` match the text at `j`.
int RunMatches(const char *name, std::size_t n, std::size_t j, const char *pattern,
               std::size_t count) {
  if (j + count > n) return 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!CharMatches(name[j + i], pattern[i])) return 0;
  }
  return 1;
}

inline int StartsTail(const char *name, std::size_t j, int dos_separators) {
  return j == 0 || IsSeparator(name[j - 1], dos_separators);
}

inline void SetBit(tWORD *set, std::size_t r) { set[r / kWordBits] |= tWORD(1) << (r % kWordBits); }

inline int TestBit(const tWORD *set, std::size_t r) {
  return static_cast<int>((set[r / kWordBits] >> (r % kWordBits)) & 1u);
}

// Bit sets are indexed by r = n - j, the number of text characters left at
// position j, so that moving one character to the left is a shift towards
// the high bits and the spread of a "*" over its component runs the way an
// addition carries.

// col = (col << 1) & mask: one more pattern character, which takes the text
// character before each live position. Returns whether any bit is left.
int StepChar(tWORD *col, const tWORD *mask, std::size_t words) {
  tWORD carry = 0;
  tWORD any = 0;
  for (std::size_t w = 0; w < words; ++w) {
    const tWORD c = col[w];
    const tWORD v = ((c << 1) | carry) & mask[w];
    carry = c >> (kWordBits - 1);
    col[w] = v;
    any |= v;
  }
  return any != 0;
}

// A "*": a live position stays live, and so does every position to its left
// up to the start of its component (the "*" takes those characters). The
// spread is an addition: adding the seeds T to the run mask N carries each
// seed up through the rest of its run of N, so N & ((N + T) ^ N | T) holds
// every position a seed reaches. Position 0 (the end of the text) dies: a
// "*" needs a character where it starts.
int StepStar(tWORD *col, const tWORD *nonsep, std::size_t words) {
  tWORD shift_carry = 0;
  tWORD add_carry = 0;
  tWORD any = 0;
  for (std::size_t w = 0; w < words; ++w) {
    const tWORD c = col[w];
    const tWORD n = nonsep[w];
    const tWORD seeds = ((c << 1) | shift_carry) & n;
    shift_carry = c >> (kWordBits - 1);
    const tWORD partial = n + seeds;
    const tWORD sum = partial + add_carry;
    add_carry = static_cast<tWORD>(partial < n) | static_cast<tWORD>(sum < partial);
    tWORD v = c | (n & ((sum ^ n) | seeds));
    if (w == 0) v &= ~tWORD(1);
    col[w] = v;
    any |= v;
  }
  return any != 0;
}

}  // namespace

int MatchNameOrTail(const char *name, const char *pattern, int dos_separators) {
  if (name == nullptr || name[0] == '\0') return 0;
  if (pattern == nullptr) pattern = "";
  const std::size_t n = std::strlen(name);
  const std::size_t m = std::strlen(pattern);

  // Every pattern character but "*" takes exactly one character of text.
  std::size_t needed = 0;
  std::size_t lead = m;  // characters before the first "*"
  std::size_t last_star = m;
  for (std::size_t q = 0; q < m; ++q) {
    if (pattern[q] != '*') {
      ++needed;
    } else {
      if (lead == m) lead = q;
      last_star = q;
    }
  }
  if (needed > n) return 0;

  if (lead == m) {
    // Only the start that leaves exactly the pattern's length can match.
    const std::size_t j = n - m;
    if (j == n || !StartsTail(name, j, dos_separators)) return 0;
    return RunMatches(name, n, j, pattern, m);
  }
  // The text after the last "*" takes the end of the name.
  const std::size_t tail = m - last_star - 1;
  if (!RunMatches(name, n, n - tail, pattern + last_star + 1, tail)) return 0;

  // A short lead is checked at each start of a tail; the first start that
  // takes it also rules out names that no start takes.
  const int short_lead = lead <= kShortLead;
  std::size_t first_start = 0;
  if (short_lead) {
    while (first_start < n && !(StartsTail(name, first_start, dos_separators) &&
                                RunMatches(name, n, first_start, pattern, lead))) {
      ++first_start;
    }
    if (first_start == n) return 0;
  }
  const std::size_t walk_from = short_lead ? lead : 0;
  const std::size_t walk_to = last_star + 1;

  // One bit set for each distinct letter the walk compares (case folded),
  // numbered in `slot`; plus the positions inside components, every
  // position but the end (for "?"), the starts of the name and its tails,
  // and the column.
  unsigned char slot[256];
  std::memset(slot, 0, sizeof slot);
  std::size_t letters = 0;
  for (std::size_t q = walk_from; q < walk_to; ++q) {
    const char pc = pattern[q];
    if (pc == '*' || pc == '?') continue;
    unsigned char &s = slot[static_cast<unsigned char>(Lower(pc))];
    if (s == 0) s = static_cast<unsigned char>(++letters);
  }
  const std::size_t words = (n + 1 + kWordBits - 1) / kWordBits;
  const std::size_t sets = 4 + letters;
  tWORD stack_sets[kStackWords];
  tWORD *heap_sets = nullptr;
  tWORD *all = stack_sets;
  if (sets * words > kStackWords) {
    heap_sets = new (std::nothrow) tWORD[sets * words];
    if (heap_sets == nullptr) {
      tTHREAD::SetLastError(tERRMSG::OutOfMemory);
      return 0;
    }
    all = heap_sets;
  }
  std::memset(all, 0, sets * words * sizeof(tWORD));
  tWORD *col = all;
  tWORD *nonsep = all + words;
  tWORD *anychar = all + 2 * words;
  tWORD *starts = all + 3 * words;
  tWORD *letter = all + 4 * words;  // letter k (from 1) at letter + (k - 1) * words
  // Every position but the end (r = 0), up to r = n.
  for (std::size_t w = 0; w < words; ++w) anychar[w] = ~tWORD(0);
  anychar[0] &= ~tWORD(1);
  if ((n + 1) % kWordBits != 0) anychar[words - 1] &= (tWORD(1) << ((n + 1) % kWordBits)) - 1;
  // Built a word at a time: this pass is most of the cost for short
  // patterns.
  tWORD inside = 0;
  tWORD start = 0;
  for (std::size_t r = 1; r <= n; ++r) {
    const std::size_t j = n - r;
    const tWORD bit = tWORD(1) << (r % kWordBits);
    const int sep = IsSeparator(name[j], dos_separators);
    if (!sep) inside |= bit;
    if (j == 0 || IsSeparator(name[j - 1], dos_separators)) start |= bit;
    if (letters != 0) {
      const unsigned char s = slot[static_cast<unsigned char>(Lower(name[j]))];
      if (s != 0) SetBit(letter + (s - 1) * words, r);
    }
    if (r % kWordBits == kWordBits - 1 || r == n) {
      nonsep[r / kWordBits] = inside;
      starts[r / kWordBits] = start;
      inside = start = 0;
    }
  }
  SetBit(col, tail);

  int alive = 1;
  for (std::size_t q = walk_to; q-- > walk_from && alive;) {
    const char pc = pattern[q];
    if (pc == '*') {
      if (q + 1 < walk_to && pattern[q + 1] == '*') continue;
      alive = StepStar(col, nonsep, words);
    } else if (pc == '?') {
      alive = StepChar(col, anychar, words);
    } else {
      const unsigned char s = slot[static_cast<unsigned char>(Lower(pc))];
      alive = StepChar(col, letter + (s - 1) * words, words);
    }
  }

  int result = 0;
  if (alive && short_lead) {
    for (std::size_t j = first_start; !result && j + lead < n; ++j) {
      result = StartsTail(name, j, dos_separators) &&
               RunMatches(name, n, j, pattern, lead) && TestBit(col, n - j - lead);
    }
  } else if (alive) {
    for (std::size_t w = 0; !result && w < words; ++w) result = (col[w] & starts[w]) != 0;
  }
  delete[] heap_sets;
  return result;
}

}  // namespace kelnames
