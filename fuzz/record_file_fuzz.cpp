// The record-file reader on arbitrary bytes.
//
// Input: one byte of switches, then the file. Switches: bits 0-1 the window
// (none, 1, 16 or 512 bytes); bit 2 expect the identification "FUZZ";
// bit 3 expect the versions "A.00.00" / "B.01.00"; bits 4-5 the reader's
// buffer (0, 4, 32 or 300 bytes); bit 6 search with FindRec between reads;
// bit 7 read concatenated files with ReadId. The file lives in memory (the
// tests' counting file), so every path of the buffer is reached at speed.
// Besides the sanitizers' checks, the target traps when a read reports a
// record longer than what is left of the file, when the position moves
// backwards, or when a success leaves the file closed.
#include <cstddef>
#include <cstdint>
#include <string>

#include "kelcore/files/record_file.h"
#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"
// Built here rather than linked: the fuzz build links only the library.
#include "tests/support/counting_file.cpp"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const unsigned int sw = data[0];
  static const unsigned int windows[] = {0, 1, 16, 512};
  static const unsigned int sizes[] = {0, 4, 32, 300};
  kelcore_test::CountingFile phys(std::string(reinterpret_cast<const char *>(data) + 1, size - 1));
  {
    tRECFILE f(phys, 0);
    f.SetBuffer(windows[sw & 3], nullptr);
    f.SetFile("fuzz.rec", (sw & 4) ? "FUZZ" : nullptr, (sw & 8) ? "B.01.00" : nullptr,
              (sw & 8) ? "A.00.00" : nullptr);
    if (f.OpenExisting(tFILEDEFS::MODE_READ, 0) == 0) {
      Check(f.IsOpen() == 1);
      unsigned long last = 0;
      Check(f.GetPos(&last) == 0);
      char buf[300];
      for (int step = 0; step < 1000; ++step) {
        unsigned int status;
        if ((sw & 64) && step % 3 == 1) {
          status = f.FindRec(static_cast<unsigned int>(step % 5));
        } else if ((sw & 128) && step % 4 == 3) {
          char id[128];
          status = f.ReadId(id);
        } else {
          unsigned int type = 0, length = 0;
          status = f.ReadRec(buf, sizes[(sw >> 4) & 3], &type, &length);
          if (status == 0 || status == 8 || status == 9) {
            Check(length <= size - 1);
            status = 0;
          }
        }
        if (status != 0) break;
        unsigned long pos = 0;
        Check(f.GetPos(&pos) == 0 && pos >= last);
        last = pos;
      }
    }
  }
  tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  return 0;
}
