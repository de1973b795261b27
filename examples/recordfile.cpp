// recordfile: a history kept in a record file, the whole life of one.
//
//   1. create the file: identification "HISTORY", format version and
//      version "A.01.00", then records of two types;
//   2. append to it safely: open it as an existing file, which checks the
//      header, and write at the end (never OpenAlways on a file that may
//      exist: it rewrites the header without reading it);
//   3. read every record to the end, telling the end of the data from a
//      damaged file by comparing GetPos with GetSize;
//   4. open it expecting another version, and with another file.
//
//   $ recordfile [MESSAGEFILE]    (default kelcore.cat: the library's
//                                  English texts, for readable errors)
//
// docs/record-files.md explains each step. It works in history.rec in the
// current folder, which it creates afresh.
#include <cstdio>
#include <cstring>

#include "kelcore/kelcore.h"

namespace {

const char kFile[] = "history.rec";
const char kId[] = "HISTORY";        // the first line of the file
const char kFormat[] = "A.01.00";    // the layout of our records
const char kVersion[] = "A.01.00";   // the program that wrote them

// Our record types. The body of each is text, of any length up to 200.
enum { cRUN = 1, cNOTE = 2 };
const unsigned int cMAX_BODY = 200;

const char *LastError() {
  tMSG *msg = tTHREAD::GetLastError();
  return msg != nullptr ? msg->Format() : "(no message)";
}

unsigned int Fail(const char *step, unsigned int status) {
  std::printf("%s failed with %u: %s\n", step, status, LastError());
  return status;
}

unsigned int WriteText(tRECFILE &file, unsigned int type, const char *text) {
  return file.WriteRec(text, type, static_cast<unsigned int>(std::strlen(text)));
}

// 1. A new file, with its header and three records.
unsigned int CreateHistory() {
  tRECFILE file;
  file.SetFile(kFile, kId, kVersion, kFormat);
  unsigned int status = file.Create(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYWRITE, 0666);
  if (status != 0) return Fail("Create", status);
  const char *const texts[] = {"first run", "settings changed", "second run"};
  const unsigned int types[] = {cRUN, cNOTE, cRUN};
  for (int i = 0; i < 3 && status == 0; ++i) status = WriteText(file, types[i], texts[i]);
  if (status != 0) return Fail("WriteRec", status);
  status = file.Close();  // writes back what is buffered: check it too
  return status != 0 ? Fail("Close", status) : 0;
}

// 2. One more record at the end of a file that must already be ours.
unsigned int Append(unsigned int type, const char *text) {
  tRECFILE file;
  file.SetFile(kFile, kId, kVersion, kFormat);
  unsigned int status = file.OpenExisting(tFILEDEFS::MODE_READWRITE, tFILEDEFS::SHARE_DENYWRITE);
  if (status != 0) return Fail("OpenExisting", status);  // 1: missing, 7: not ours
  status = file.Seek(tFILEDEFS::SEEK_FROM_END, 0, nullptr);
  if (status == 0) status = WriteText(file, type, text);
  if (status != 0) {
    Fail("append", status);
    file.Close();
    return status;
  }
  status = file.Close();
  return status != 0 ? Fail("Close", status) : 0;
}

// 3. Every record, to the end of the data.
unsigned int List() {
  tRECFILE file;
  file.SetFile(kFile, kId, kVersion, kFormat);
  unsigned int status = file.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYWRITE);
  if (status != 0) return Fail("OpenExisting", status);
  file.SetBuffer(512, nullptr);  // the header is read a byte at a time
  unsigned long size = 0, pos = 0;
  status = file.GetSize(&size);
  while (status == 0 && (status = file.GetPos(&pos)) == 0 && pos < size) {
    char body[cMAX_BODY + 1];
    unsigned int type = 0, length = 0;
    status = file.ReadRec(body, cMAX_BODY, &type, &length);
    if (status == 9 || status == 8) {
      // 9: shorter than the buffer, as variable records are; 8: longer,
      // cut to the buffer and the rest skipped. Neither is an error here.
      if (status == 8) length = cMAX_BODY;
      tTHREAD::SetLastError(nullptr);
      status = 0;
    }
    if (status != 0) break;  // before the end of the data: the file is damaged
    body[length] = '\0';
    std::printf("  at %4lu: %s %s\n", pos, type == cRUN ? "run: " : "note:", body);
  }
  if (status != 0) Fail("reading", status);
  file.Close();
  return status;
}

// 4. What a reader sees when the file is not what it expects: status 7,
// and the last error says what it found.
void Expect(const char *id, const char *version, const char *what) {
  tRECFILE file;
  file.SetFile(kFile, id, version, kFormat);
  unsigned int status = file.OpenExisting(tFILEDEFS::MODE_READ, tFILEDEFS::SHARE_DENYWRITE);
  std::printf("expecting %s: %u%s%s\n", what, status, status != 0 ? ", " : "",
              status != 0 ? LastError() : "");
  file.Close();
}

}  // namespace

int main(int argc, char **argv) {
  tMSGFILE texts;  // registered while it lives: errors in English
  texts.SetFile(argc > 1 ? argv[1] : "kelcore.cat", nullptr, nullptr, nullptr);

  if (CreateHistory() != 0) return 1;
  if (Append(cRUN, "third run") != 0) return 1;
  std::printf("%s:\n", kFile);
  if (List() != 0) return 1;
  Expect(kId, "A.02.00", "version A.02.00");      // a newer program's file
  Expect("JOURNAL", kVersion, "a JOURNAL file");   // another kind of file
  Expect(kId, "A.01.07", "version A.01.07");      // versions match on five characters
  return 0;
}
