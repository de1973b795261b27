// A logical file over a real file, either back end, against a model.
//
// Input: one byte of switches, then operations of three bytes each (an
// operation byte and a 16-bit argument). Switch bit 0: the C-stream back
// end (else the operating-system one); bits 1-3: the first window. The
// operations write, read (with and without a count), seek in the three
// modes, change the window (library or caller memory, up to 64 KiB),
// flush, resize, ask the position and the size, and close and reopen.
// Every result is checked against a byte-vector model of the file, and at
// the end the file, closed, is read back with the system's read(2) and
// compared with the model. Transfers go up to 70,000 bytes, so that they
// cross windows of every size.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_file.h"
#include "kelcore/files/plain_file.h"
#include "kelcore/physical/cstream/cstream_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/physical/os/os_file.h"
#include "kelcore/sync/thread.h"

namespace {

// Traps on a mismatch; with KELCORE_MODEL_TRACE set, says which check and
// what each operation was first (for replaying a crash by hand).
#define Check(ok) CheckAt((ok), __LINE__)
void CheckAt(bool ok, int line) {
  if (ok) return;
  if (std::getenv("KELCORE_MODEL_TRACE")) {
    tMSG *why = tTHREAD::GetLastError();
    std::fprintf(stderr, "check at line %d failed; last error: %s\n", line,
                 why != nullptr ? why->Format() : "none");
  }
  __builtin_trap();
}
typedef tFILEDEFS D;
const unsigned int RW = D::MODE_READWRITE;

const unsigned int kWindows[] = {0, 1, 7, 512, 4096, 65536, 4096, 100};
unsigned char caller_memory[65536];

// The bytes written by the operation at `step`: recognisable in a diff.
void Pattern(std::vector<char> *out, unsigned long n, unsigned int step) {
  out->resize(n);
  for (unsigned long i = 0; i < n; ++i) (*out)[i] = static_cast<char>('A' + (step + i / 7) % 26);
}

void SetWindow(tFILE &f, unsigned int code) {
  const unsigned int size = kWindows[code & 7];
  // Bit 3: the caller's memory instead of the library's.
  f.SetBuffer(size, (code & 8) && size != 0 ? caller_memory : nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const std::string &name = kelcore_fuzz::ScratchName(".model");
  std::remove(name.c_str());
  const bool cstream = data[0] & 1;
  std::string model;
  unsigned long pos = 0;
  {
    tPHYSICAL_FILE *phys = cstream ? static_cast<tPHYSICAL_FILE *>(new tCSTREAM)
                                   : static_cast<tPHYSICAL_FILE *>(new tOSFILE);
    tFILE f(phys, 1);
    f.SetName(name.c_str());
    SetWindow(f, (data[0] >> 1) & 7);
    Check(f.Create(RW, 0, 0666) == 0);
    std::vector<char> buf;
    for (size_t at = 1; at + 3 <= size && at < 3 * 400; at += 3) {
      const unsigned int op = data[at];
      unsigned long arg = data[at + 1] | (data[at + 2] << 8);
      const unsigned int step = static_cast<unsigned int>(at);
      if (std::getenv("KELCORE_MODEL_TRACE")) {
        std::fprintf(stderr, "op %u arg %lu pos %lu size %zu\n", op % 12, arg, pos, model.size());
      }
      switch (op % 12) {
        case 0:    // write with a count
        case 1: {  // write without one
          unsigned long n = (op & 0x80) ? arg + 4096 : arg % 9000;
          if (op & 0x40) n = 70000 - arg % 100;
          Pattern(&buf, n, step);
          unsigned long put = 0;
          Check(f.Write(buf.data(), n, op % 12 == 0 ? &put : nullptr) == 0);
          if (op % 12 == 0) Check(put == n);
          // Nothing written changes nothing, even past the end.
          if (n && model.size() < pos + n) model.resize(pos + n, '\0');
          if (n) model.replace(pos, n, buf.data(), n);
          pos += n;
          break;
        }
        case 2:    // read with a count
        case 3: {  // read without one: a short read fails with 4
          unsigned long n = (op & 0x80) ? arg + 4096 : arg % 9000;
          buf.assign(n + 1, '?');
          const unsigned long avail = pos < model.size() ? model.size() - pos : 0;
          const unsigned long want = n < avail ? n : avail;
          unsigned long got = 0;
          const unsigned int status = f.Read(buf.data(), n, op % 12 == 2 ? &got : nullptr);
          if (op % 12 == 2) {
            Check(status == 0 && got == want);
          } else {
            Check(status == (want == n ? 0u : 4u));
          }
          Check(want == 0 || std::memcmp(buf.data(), model.data() + pos, want) == 0);
          pos += want;
          break;
        }
        case 4: {  // seek from the start, the current position or the end
          const int mode = (op >> 4) % 3;
          const long base = mode == 0 ? 0 : mode == 1 ? static_cast<long>(pos)
                                                      : static_cast<long>(model.size());
          long target = static_cast<long>(arg % 80000);
          unsigned long now = 1;
          Check(f.Seek(static_cast<D::eSEEKMODE>(mode), target - base, &now) == 0);
          Check(now == static_cast<unsigned long>(target));
          pos = static_cast<unsigned long>(target);
          break;
        }
        case 5:
          SetWindow(f, op >> 4);
          break;
        case 6:
          Check(f.Flush(op & 0x10) == 0);
          break;
        case 7: {
          const unsigned long n = arg % 80000;
          Check(f.SetSize(n) == 0);
          model.resize(n, '\0');
          break;
        }
        case 8: {
          unsigned long v = 1;
          Check(f.GetPos(&v) == 0 && v == pos);
          v = 1;
          Check(f.GetSize(&v) == 0 && v == model.size());
          break;
        }
        case 9:
          Check(f.Close() == 0);
          Check(f.OpenExisting(RW, 0) == 0);
          pos = 0;
          break;
        default:
          // The position, asked the way a text file asks.
          {
            unsigned long v = 1;
            Check(f.Seek(D::SEEK_FROM_CURRENT, 0, &v) == 0 && v == pos);
          }
          break;
      }
    }
    Check(f.Close() == 0);
  }
  std::string back;
  int fd = ::open(name.c_str(), O_RDONLY);
  Check(fd >= 0);
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    Check(n >= 0);
    if (n == 0) break;
    back.append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  Check(back == model);
  return 0;
}
