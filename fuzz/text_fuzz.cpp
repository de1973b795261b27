// The text reader on arbitrary bytes, in both widths and every buffering.
//
// Input: a byte of switches (bit 0: 16-bit mode, bit 1: start byte-swapped,
// bits 2-3: unbuffered, 512-byte buffer, 1-byte window, 7-byte window), a
// byte giving ReadLine's buffer size (1 to 64), then the file's bytes.
// Besides the sanitizers' checks, the target traps when GetChar disagrees
// with a plain statement of the reading rules, when ReadLine's pieces do
// not join up to exactly GetChar's text, when a piece overflows its buffer,
// or when the two ways end on different line numbers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_file.h"
#include "kelcore/files/text_file.h"
#include "kelcore/physical/os/os_file.h"

using kelcore_fuzz::Check;

namespace {

// The characters the rules give, and the line count at the end.
std::string Reference(const uint8_t *p, size_t n, bool wide, bool swap, unsigned long *lines) {
  std::string out;
  *lines = 1;  // the end of the text counts as a line end
  size_t step = wide ? 2 : 1;
  for (size_t i = 0; i + step <= n; i += step) {
    unsigned int unit = wide ? (p[i] | (p[i + 1] << 8)) : p[i];
    if (wide) {
      if (unit == 0xFEFF || unit == 0xFFFE) {
        swap = unit == 0xFFFE;
        continue;
      }
      if (swap) unit = ((unit & 0xFF) << 8) | (unit >> 8);
      if (unit > 255) unit = 255;
    }
    if (unit == 0x0D || unit == 0) continue;
    if (unit == 0x1A) break;
    if (unit == 0x0A) ++*lines;
    out += static_cast<char>(unit);
  }
  return out;
}

tTXTFILE *Open(const std::string &name, unsigned int buffering, bool wide, bool swap) {
  tTXTFILE *t = buffering == 1 ? new tTXTFILE(*new tOSFILE, 1) : new tTXTFILE;
  if (buffering == 2) t->SetBuffer(1, nullptr);
  if (buffering == 3) t->SetBuffer(7, nullptr);
  t->SetName(name.c_str());
  Check(t->OpenExisting(1, 1) == 0);
  t->Set16BitFlag(wide);
  t->SetByteSwap(swap);
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  bool wide = data[0] & 1, swap = (data[0] >> 1) & 1;
  unsigned int buffering = (data[0] >> 2) & 3;
  unsigned int line_size = data[1] % 64 + 1;
  const std::string &name = kelcore_fuzz::ScratchName(".txt");
  if (!kelcore_fuzz::WriteScratch(name, data + 2, size - 2)) return 0;

  unsigned long expect_lines = 0;
  std::string expect = Reference(data + 2, size - 2, wide, swap, &expect_lines);

  tTXTFILE *t = Open(name, buffering, wide, swap);
  std::string chars;
  char c;
  unsigned int status;
  while ((status = t->GetChar(&c)) == 0) chars += c;
  Check(status == 4 && chars == expect);
  unsigned long line = 0, pos = 0;
  Check(t->GetLinePos(&line, &pos) == 0 && line == expect_lines);
  delete t;

  // ReadLine: pieces of a cut line join up; whole lines are separated by
  // the line feeds GetChar delivered.
  t = Open(name, buffering, wide, swap);
  std::string joined;
  char buf[66];
  for (;;) {
    std::memset(buf, 0x55, sizeof buf);
    status = t->ReadLine(buf, line_size);
    if (status == 4) break;
    Check(status == 0 || status == 0xFFFFFFFFu);
    size_t len = std::strlen(buf);
    Check(len < line_size && static_cast<unsigned char>(buf[line_size]) == 0x55);
    joined.append(buf, len);
    if (status == 0xFFFFFFFFu) {
      // A 1-byte buffer holds no character: the line cannot move on.
      if (line_size == 1) break;
      continue;
    }
    joined += '\n';
  }
  if (status == 4) {
    if (!expect.empty() && expect.back() != '\n') joined.pop_back();
    Check(joined == expect);
    Check(t->GetLinePos(&line, &pos) == 0 && line == expect_lines);
  }
  delete t;
  return 0;
}
