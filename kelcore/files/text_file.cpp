#include "kelcore/files/text_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#  include <emmintrin.h>
#endif

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/file_defs.h"
#include "kelcore/physical/physical_file.h"
#include "kelcore/sync/lock.h"
#include "kelcore/sync/thread.h"

namespace {

const unsigned int cSTATUS_EOF = 4;
const unsigned int cSTATUS_FAILURE = 0xFFFFFFFFu;

const unsigned int cMSG_LINE_TOO_LONG = 1;
const unsigned int cMSG_END_OF_TEXT = 2;

const char cCR = 0x0D;
const char cLF = 0x0A;
const char cEOT = 0x1A;

// The bytes that end or interrupt a run of ordinary characters: NUL, line
// feed, carriage return and 0x1A.
inline bool IsSpecial(unsigned char c) {
  return c <= 0x1A && ((1u << c) & ((1u << 0) | (1u << 0x0A) | (1u << 0x0D) | (1u << 0x1A)));
}

// The number of ordinary bytes at the start of p[0 .. n-1]. Text is mostly
// bytes above 0x1A, so eight bytes at a time are first tested for any byte
// below 0x1B, and only such a word is looked at byte by byte.
inline unsigned long OrdinaryRun(const char *p, unsigned long n) {
  const uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
  unsigned long j = 0;
#if defined(__SSE2__)
  // Sixteen bytes at a time where the processor has the instructions (every
  // x86-64): a byte is below 0x1B when its unsigned minimum with 0x1A is
  // itself. Such bytes are rare (line ends, tabs), so each is looked at.
  const __m128i limit = _mm_set1_epi8(0x1A);
  for (; j + 16 <= n; j += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + j));
    unsigned int low = static_cast<unsigned int>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(x, limit), x)));
    for (; low != 0; low &= low - 1) {
      const unsigned long k = j + static_cast<unsigned long>(__builtin_ctz(low));
      if (IsSpecial(static_cast<unsigned char>(p[k]))) return k;
    }
  }
#endif
  for (;;) {
    for (; j + 8 <= n; j += 8) {
      uint64_t x;
      std::memcpy(&x, p + j, 8);
      if ((x - ones * 0x1B) & ~x & highs) break;
    }
    unsigned long end = j + 8 < n ? j + 8 : n;
    for (; j < end; ++j) {
      if (IsSpecial(static_cast<unsigned char>(p[j]))) return j;
    }
    if (j == n) return j;
  }
}

// Holds a lock facet (null: none) for a block.
class tHOLD_SYNC {
 public:
  explicit tHOLD_SYNC(tPHYSYNCOBJ *sync) : sync_(sync) {
    if (sync_ != nullptr) sync_->LockObject();
  }
  ~tHOLD_SYNC() {
    if (sync_ != nullptr) sync_->UnlockObject();
  }

 private:
  tHOLD_SYNC(const tHOLD_SYNC &);
  tHOLD_SYNC &operator=(const tHOLD_SYNC &);
  tPHYSYNCOBJ *sync_;
};

}  // namespace

tTXTFILE::tTXTFILE(tPHYSICAL_FILE *file, int own)
    : tFILE(file, own), end_of_text_(0), line_(0), pushback_count_(0), wide_(0), swap_(0),
      no_seek_(0) {}

tTXTFILE::tTXTFILE(tPHYSICAL_FILE &file, int own)
    : tFILE(file, own), end_of_text_(0), line_(0), pushback_count_(0), wide_(0), swap_(0),
      no_seek_(0) {
  SetBuffer(512, 0);
}

tTXTFILE::~tTXTFILE() {}

unsigned int tTXTFILE::PostOpen(unsigned int status) {
  if (status == 0) {
    wide_ = 0;
    swap_ = 0;
    line_ = 0;
    pushback_count_ = 0;
    end_of_text_ = 0;
    no_seek_ = 0;
  }
  return status;
}

unsigned int tTXTFILE::OpenExisting(unsigned int access, unsigned int share) {
  return PostOpen(tFILE::OpenExisting(access, share));
}

unsigned int tTXTFILE::OpenAlways(unsigned int access, unsigned int share,
                                  unsigned int attributes) {
  return PostOpen(tFILE::OpenAlways(access, share, attributes));
}

unsigned int tTXTFILE::Create(unsigned int access, unsigned int share, unsigned int attributes) {
  return PostOpen(tFILE::Create(access, share, attributes));
}

unsigned int tTXTFILE::CreateNew(unsigned int access, unsigned int share,
                                 unsigned int attributes) {
  return PostOpen(tFILE::CreateNew(access, share, attributes));
}

unsigned int tTXTFILE::EndOfText() {
  tTHREAD::SetLastError(AddErrorContext(keltxt::NewLibraryError(cMSG_END_OF_TEXT)));
  return cSTATUS_EOF;
}

unsigned int tTXTFILE::ReadUnit(unsigned int *unit) {
  unsigned char bytes[2];
  unsigned int status = Read(bytes, wide_ ? 2 : 1, 0);
  if (status != 0) return status;
  *unit = wide_ ? (bytes[0] | (bytes[1] << 8)) : bytes[0];
  return 0;
}

unsigned int tTXTFILE::WriteUnit(unsigned int unit) {
  if (!wide_) {
    unsigned char byte = static_cast<unsigned char>(unit);
    return Write(&byte, 1, 0);
  }
  unsigned char bytes[2];
  bytes[swap_ ? 1 : 0] = static_cast<unsigned char>(unit & 0xFF);
  bytes[swap_ ? 0 : 1] = static_cast<unsigned char>(unit >> 8);
  return Write(bytes, 2, 0);
}

unsigned int tTXTFILE::GetChar(char *c) {
  if (pushback_count_ > 0) {
    // A pushed-back character comes back as it is, with nothing else
    // changed: a line feed is not counted again, and 0x1A is a character
    // like any other here.
    *c = pushback_[--pushback_count_];
    return 0;
  }
  if (end_of_text_) return EndOfText();
  for (;;) {
    unsigned int unit = 0;
    unsigned int status = ReadUnit(&unit);
    if (status == cSTATUS_EOF) {
      end_of_text_ = 1;
      ++line_;
      return status;
    }
    if (status != 0) return status;
    if (wide_) {
      // Byte-order marks are read low byte first, so a big-endian mark
      // arrives as 0xFFFE.
      if (unit == 0xFEFF || unit == 0xFFFE) {
        swap_ = unit == 0xFFFE;
        continue;
      }
      if (swap_) unit = ((unit & 0xFF) << 8) | (unit >> 8);
      if (unit > 255) unit = 255;
    }
    char ch = static_cast<char>(unit);
    if (ch == cCR || ch == 0) continue;
    *c = ch;
    if (ch == cLF) {
      ++line_;
      return 0;
    }
    if (ch == cEOT) {
      ++line_;
      end_of_text_ = 1;
      return EndOfText();
    }
    return 0;
  }
}

unsigned int tTXTFILE::UngetChar(char c) {
  if (c == cCR || c == 0) return 0;
  if (pushback_count_ >= cPUSHBACK_MAX) {
    tTHREAD::SetLastError(tERRMSG::OutOfMemory);
    return cSTATUS_FAILURE;
  }
  if ((c == cLF || c == cEOT) && line_ > 0) --line_;
  end_of_text_ = 0;
  pushback_[pushback_count_++] = c;
  return 0;
}

unsigned int tTXTFILE::_ReadLinePiece(char *buf, unsigned int size, int *cut) {
  *cut = 0;
  if (size == 0) {
    // Not even the NUL fits: the whole line is "too long", and nothing is
    // consumed, so no text is lost.
    *cut = 1;
    return 0;
  }
  if (!wide_ && pushback_count_ == 0 && !end_of_text_) {
    int handled = 0;
    unsigned int status = ReadLineBlocks(buf, size, cut, &handled);
    if (handled) return status;
  }
  // A line that ends with the file is read whole, but the read that met
  // the end records why it came up short: the last error from before the
  // line is put back then.
  tMSG *before = tTHREAD::TakeOwnershipOfLastError();
  unsigned int n = 0;
  for (;;) {
    char ch;
    const int from_file = pushback_count_ == 0;
    unsigned int status = GetChar(&ch);
    if (status != 0) {
      buf[n] = 0;
      if (status == cSTATUS_EOF && n > 0) {
        tTHREAD::SetLastError(before);
        return 0;
      }
      tMSG::Dispose(before);
      return status;
    }
    if (ch == cLF) break;
    if (n + 1 >= size) {
      // The character that does not fit goes back where it came from: a
      // character read from the file is read again from the file, so that
      // a position saved with GetLinePos here still finds it; the pushback
      // is kept for files that cannot seek back. GetChar has just taken a
      // character, so the pushback has room.
      long unit = wide_ ? 2 : 1;
      if (!from_file || Seek(tFILEDEFS::SEEK_FROM_CURRENT, -unit, 0) != 0) UngetChar(ch);
      *cut = 1;
      break;
    }
    buf[n++] = ch;
  }
  buf[n] = 0;
  // Nothing failed that the caller must hear of (a seek back that failed
  // was made good by the pushback).
  tTHREAD::SetLastError(before);
  return 0;
}

// One logical-file Read per character costs a lock and a call per byte.
// Reading a block straight into the caller's buffer and seeking back over
// what follows the line end delivers the same characters, line numbers and
// end-of-text state with one Read and one Seek per line; with a buffer the
// seek back stays inside the window and does no I/O. Blocks start small
// and grow within a line, so short lines copy little beyond their end.
unsigned int tTXTFILE::ReadLineBlocks(char *buf, unsigned int size, int *cut, int *handled) {
  *handled = 1;
  {
    tHOLD_SYNC hold(sync_);
    tKEL_FILE_BUFFER &b = buffer_;
    if (b.memory_ == nullptr && b.owned_) {
      unsigned int status = b.Allocate(*io_);
      if (status != 0) return status;
    }
    if (b.memory_ != nullptr) return ReadLineWindow(buf, size, cut, handled);
    // Unbuffered, the bytes read past the line end go back by a seek: only
    // a file that can seek may be read that way. A pipe or a terminal is
    // read one character at a time instead, so that no byte is lost. A
    // failed first probe is no failure of the read: the last error stays
    // what it was, and a file that cannot seek at all (ESPIPE) is not asked
    // again until it is opened or positioned anew.
    if (no_seek_ == 2) {
      *handled = 0;
      return 0;
    }
    tMSG *before = no_seek_ == 0 ? tTHREAD::TakeOwnershipOfLastError() : nullptr;
    errno = 0;
    const unsigned int probe = io_->Seek(0, tFILEDEFS::SEEK_FROM_CURRENT, nullptr);
    const int cannot = probe != 0 && errno == ESPIPE;
    if (no_seek_ == 0) {
      tTHREAD::SetLastError(before);
      no_seek_ = cannot ? 2 : probe == 0 ? 1 : 0;
    }
    if (probe != 0) {
      *handled = 0;
      return 0;
    }
  }
  unsigned int n = 0;  // characters stored
  unsigned long block = 128;
  for (;;) {
    // Room for the characters that fit; once the buffer is full, one more
    // byte tells a line of exactly size - 1 characters from a longer one.
    unsigned long want = size - 1 - n;
    if (want > block) want = block;
    char peek;
    char *into = want ? buf + n : &peek;
    unsigned long got = 0;
    unsigned int status = Read(into, want ? want : 1, &got);
    if (status != 0) {
      buf[n] = 0;
      return status;
    }
    if (got == 0) {
      buf[n] = 0;
      if (n == 0) {
        // Nothing left: the character path reports the end as always.
        *handled = 0;
        return 0;
      }
      end_of_text_ = 1;
      ++line_;
      return 0;
    }
    unsigned long i = 0;
    for (;;) {
      // The run of ordinary characters up to the next line feed, carriage
      // return, NUL or 0x1A. It is already in place unless a dropped
      // character came before it in this block.
      unsigned long j = i + OrdinaryRun(into + i, got - i);
      if (j > i) {
        if (!want) {
          // The byte after a full buffer is an ordinary one: cut here.
          *cut = 1;
          break;
        }
        if (buf + n != into + i) std::memmove(buf + n, into + i, j - i);
        n += static_cast<unsigned int>(j - i);
        i = j;
      }
      if (i == got) break;
      char ch = into[i++];
      if (ch == cCR || ch == 0) continue;
      ++line_;
      buf[n] = 0;
      if (ch == cEOT) {
        end_of_text_ = 1;
        // The line ends with the text; GetChar would leave this message.
        status = EndOfText();
        if (n > 0) status = 0;
      }
      if (i < got) {
        unsigned int seek = Seek(tFILEDEFS::SEEK_FROM_CURRENT, -static_cast<long>(got - i), 0);
        if (seek != 0) return seek;
      }
      return status;
    }
    if (*cut) {
      buf[n] = 0;
      unsigned int seek = Seek(tFILEDEFS::SEEK_FROM_CURRENT, -static_cast<long>(got - i), 0);
      return seek;
    }
    if (block < 4096) block *= 2;
  }
}

// The line straight out of the window, which the caller holds locked:
// nothing is read past the line end, so nothing needs to go back, and the
// stream underneath need not be able to seek.
unsigned int tTXTFILE::ReadLineWindow(char *buf, unsigned int size, int *cut, int *handled) {
  tKEL_FILE_BUFFER &b = buffer_;
  unsigned int n = 0;  // characters stored
  for (;;) {
    if (b.cursor_ >= b.valid_) {
      unsigned int status = b.Fill(*io_);
      if (status != 0) {
        buf[n] = 0;
        return status;
      }
      if (b.cursor_ >= b.valid_) {
        buf[n] = 0;
        if (n == 0) {
          // Nothing left: the character path reports the end as always.
          *handled = 0;
          return 0;
        }
        end_of_text_ = 1;
        ++line_;
        return 0;
      }
    }
    const char *p = reinterpret_cast<const char *>(b.memory_) + b.cursor_;
    const unsigned long avail = b.valid_ - b.cursor_;
    unsigned long run = OrdinaryRun(p, avail);
    const unsigned long room = size - 1 - n;
    if (run > room) {
      // More ordinary characters than fit: the line is cut after what
      // fits, and the rest is read next time.
      std::memcpy(buf + n, p, room);
      n += static_cast<unsigned int>(room);
      b.cursor_ += static_cast<unsigned int>(room);
      buf[n] = 0;
      *cut = 1;
      return 0;
    }
    std::memcpy(buf + n, p, run);
    n += static_cast<unsigned int>(run);
    b.cursor_ += static_cast<unsigned int>(run);
    if (run == avail) continue;
    const char ch = p[run];
    ++b.cursor_;
    if (ch == cCR || ch == 0) continue;
    ++line_;
    buf[n] = 0;
    if (ch == cEOT) {
      end_of_text_ = 1;
      // The line ends with the text; GetChar would leave this message.
      unsigned int status = EndOfText();
      return n > 0 ? 0 : status;
    }
    return 0;
  }
}

unsigned int tTXTFILE::ReadLine(char *buf, unsigned int size) {
  int cut = 0;
  unsigned int status = _ReadLinePiece(buf, size, &cut);
  if (status == 0 && cut) {
    tTHREAD::SetLastError(AddErrorContext(keltxt::NewLibraryError(cMSG_LINE_TOO_LONG))
                          << static_cast<unsigned long>(line_ + 1));
    return cSTATUS_FAILURE;
  }
  return status;
}

unsigned int tTXTFILE::PutChar(char c) {
  if (c == cCR) return 0;
  unsigned int status;
  if (wide_) {
    unsigned long pos = 0;
    status = GetPos(&pos);
    if (status != 0) return status;
    if (pos == 0 && (status = WriteUnit(0xFEFF)) != 0) return status;
  }
  if (c == cLF && (status = WriteUnit(0x0D)) != 0) return status;
  status = WriteUnit(static_cast<unsigned char>(c));
  if (status != 0) return status;
  if (c == cLF) ++line_;
  return 0;
}

unsigned int tTXTFILE::WriteStr(char const *s) {
  if (s == 0) return 0;
  while (*s) {
    if (wide_ || *s == cCR || *s == cLF) {
      unsigned int status = PutChar(*s++);
      if (status != 0) return status;
      continue;
    }
    // A run of ordinary 8-bit characters goes out in one write: the bytes
    // are exactly what PutChar would write one at a time.
    size_t run = std::strcspn(s, "\r\n");
    unsigned int status = Write(s, static_cast<unsigned long>(run), 0);
    if (status != 0) return status;
    s += run;
  }
  return 0;
}

unsigned int tTXTFILE::WriteLine(char const *s) {
  unsigned int status = WriteStr(s);
  if (status != 0) return status;
  return PutChar(cLF);
}

unsigned int tTXTFILE::GetLinePos(unsigned long *line, unsigned long *pos) {
  if (line) *line = line_;
  return GetPos(pos);
}

unsigned int tTXTFILE::SetLinePos(unsigned long line, unsigned long pos) {
  unsigned int status = Seek(static_cast<long>(pos), 0);
  if (status != 0) return status;
  line_ = line;
  pushback_count_ = 0;
  end_of_text_ = 0;
  no_seek_ = 0;
  return 0;
}

unsigned int tTXTFILE::Rewind() { return SetLinePos(0, 0); }

int tTXTFILE::Set16BitFlag(int on) {
  int old = wide_;
  wide_ = on;
  return old;
}

int tTXTFILE::SetByteSwap(int on) {
  int old = swap_;
  swap_ = on;
  return old;
}

int tTXTFILE::Get16BitFlag() const { return wide_; }

int tTXTFILE::GetByteSwap() const { return swap_; }
