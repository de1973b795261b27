#include "tests/support/counting_file.h"

#include <cstring>

#include "kelcore/msg/message.h"
#include "kelcore/sync/thread.h"

namespace kelcore_test {

namespace {
const char kID[] = "Counting file failure";
int g_alive = 0;
}  // namespace

CountingFile::CountingFile(const std::string &contents, bool exists_)
    : data(contents), pos(0), open(false), exists(exists_), counts_(), fail_kinds_(0),
      fail_left_(0), fail_status_(0), depth_(0), locks_(0) {
  ++g_alive;
}

CountingFile::~CountingFile() { --g_alive; }

int CountingFile::Alive() { return g_alive; }

void CountingFile::FailNth(unsigned int nth, unsigned int status, unsigned int kinds) {
  fail_left_ = nth;
  fail_status_ = status;
  fail_kinds_ = kinds;
}

unsigned int CountingFile::Count(unsigned int kinds) const {
  unsigned int n = 0;
  for (unsigned int i = 0; i < 7; ++i) {
    if (kinds & (1u << i)) n += counts_[i];
  }
  return n;
}

void CountingFile::LockObject() {
  ++depth_;
  ++locks_;
}
void CountingFile::UnlockObject() { --depth_; }

bool CountingFile::Enter(unsigned int kind, const std::string &call) {
  if (before) before(*this, call);
  for (unsigned int i = 0; i < 7; ++i) {
    if (kind == (1u << i)) ++counts_[i];
  }
  if (!calls_.empty()) calls_ += ' ';
  calls_ += call;
  if (fail_left_ == 0 || !(kind & fail_kinds_) || --fail_left_ != 0) return false;
  calls_ += '!';
  Fail("injected failure of " + call, 0);
  return true;
}

unsigned int CountingFile::Fail(const std::string &why, unsigned int status) {
  tMSG *msg = new tMSGSTR("%0", kID, tMSG::eERROR);
  *msg << why.c_str();
  AddErrorContext(msg);
  if (status == 0) failed_text_ = msg->Format();
  tTHREAD::SetLastError(msg);
  return status;
}

#define KEL_ENTER(kind, call) \
  if (Enter(kind, call)) return fail_status_

// --- the file-system facet ----------------------------------------------------

unsigned int CountingFile::Exists(int *e) {
  KEL_ENTER(kSYS, "exists");
  if (e != nullptr) *e = exists ? 1 : 0;
  return 0;
}
unsigned int CountingFile::Rename(tPHYFILENAMEOBJ const &newName) {
  KEL_ENTER(kSYS, std::string("rename:") + newName.GetName());
  return 0;
}
unsigned int CountingFile::Delete() {
  KEL_ENTER(kSYS, "delete");
  if (!exists) return Fail("no such file", 1);
  exists = false;
  data.clear();
  return 0;
}
unsigned int CountingFile::GetAttributes(unsigned int *attributes) {
  KEL_ENTER(kSYS, "getattr");
  if (attributes != nullptr) *attributes = ATTR_FILE;
  return 0;
}
unsigned int CountingFile::SetAttributes(unsigned int, unsigned int) {
  KEL_ENTER(kSYS, "setattr");
  return 0;
}
unsigned int CountingFile::GetSecurity(unsigned int *permissions) {
  KEL_ENTER(kSYS, "getsec");
  if (permissions != nullptr) *permissions = 0777;
  return 0;
}
unsigned int CountingFile::SetSecurity(unsigned int, unsigned int) {
  KEL_ENTER(kSYS, "setsec");
  return 0;
}
unsigned int CountingFile::GetModifyTime(tDATETIME *) {
  KEL_ENTER(kSYS, "gettime");
  return 0;
}
unsigned int CountingFile::SetModifyTime(tDATETIME const &) {
  KEL_ENTER(kSYS, "settime");
  return 0;
}
unsigned int CountingFile::AllocCompatFileObj(tPHYSICAL_FILE **out) const {
  *out = new CountingFile;
  return 0;
}
unsigned int CountingFile::AllocCompatDirObj(tPHYSICAL_DIR **out) const {
  *out = nullptr;
  return const_cast<CountingFile *>(this)->Fail("no directories here", 0xFFFFFFFFu);
}

// --- the I/O facet ---------------------------------------------------------------

unsigned int CountingFile::OpenAs(const char *word, bool mustExist, bool mustNotExist,
                                  bool truncate) {
  KEL_ENTER(kOPEN, word);
  if (open) return Fail("already open", 3);
  if (mustExist && !exists) return Fail("no such file", 1);
  if (mustNotExist && exists) return Fail("file exists", 2);
  if (truncate) data.clear();
  exists = open = true;
  pos = 0;
  return 0;
}

unsigned int CountingFile::OpenExisting(unsigned int, unsigned int) {
  return OpenAs("open", true, false, false);
}
unsigned int CountingFile::OpenAlways(unsigned int, unsigned int, unsigned int) {
  return OpenAs("openalways", false, false, false);
}
unsigned int CountingFile::Create(unsigned int, unsigned int, unsigned int) {
  return OpenAs("create", false, false, true);
}
unsigned int CountingFile::CreateNew(unsigned int, unsigned int, unsigned int) {
  return OpenAs("createnew", false, true, true);
}

unsigned int CountingFile::Close() {
  KEL_ENTER(kOPEN, "close");
  open = false;
  return 0;
}

unsigned int CountingFile::Flush() {
  KEL_ENTER(kOPEN, "flush");
  return open ? 0 : Fail("not open", 0xFFFFFFFFu);
}

unsigned int CountingFile::SetSize(unsigned long size) {
  KEL_ENTER(kSIZE, "setsize:" + std::to_string(size));
  if (!open) return Fail("not open", 0xFFFFFFFFu);
  data.resize(size);
  return 0;
}

unsigned int CountingFile::GetSize(unsigned long *size) {
  KEL_ENTER(kSIZE, "getsize");
  if (!exists) return Fail("no such file", 1);
  if (size != nullptr) *size = data.size();
  return 0;
}

unsigned int CountingFile::Read(void *buffer, unsigned long bytes, unsigned long *done) {
  if (done != nullptr) *done = 0;
  const unsigned long avail = pos < data.size() ? data.size() - pos : 0;
  const unsigned long got = bytes < avail ? bytes : avail;
  KEL_ENTER(kREAD, "read@" + std::to_string(pos) + ":" + std::to_string(bytes) + "=" +
                       std::to_string(open ? got : 0));
  if (!open) return Fail("not open", 0xFFFFFFFFu);
  if (got != 0) std::memcpy(buffer, data.data() + pos, got);
  pos += got;
  if (done != nullptr) *done = got;
  return got < bytes && done == nullptr ? Fail("short read", 4) : 0;
}

unsigned int CountingFile::Write(void const *buffer, unsigned long bytes, unsigned long *done) {
  if (done != nullptr) *done = 0;
  KEL_ENTER(kWRITE, "write@" + std::to_string(pos) + ":" + std::to_string(bytes));
  if (!open) return Fail("not open", 0xFFFFFFFFu);
  if (bytes == 0) return 0;
  if (data.size() < pos + bytes) data.resize(pos + bytes);
  std::memcpy(&data[pos], buffer, bytes);
  pos += bytes;
  if (done != nullptr) *done = bytes;
  return 0;
}

unsigned int CountingFile::Seek(long distance, tFILEDEFS::eSEEKMODE from, unsigned long *newPos) {
  const int mode = from == SEEK_FROM_CURRENT || from == SEEK_FROM_END ? from : 0;
  KEL_ENTER(kSEEK, "seek" + std::to_string(mode) + ":" + std::to_string(distance));
  if (!open) return Fail("not open", 0xFFFFFFFFu);
  const long long origin = mode == 1 ? static_cast<long long>(pos)
                           : mode == 2 ? static_cast<long long>(data.size()) : 0;
  if (origin + distance < 0) return Fail("seek before the start", 0xFFFFFFFFu);
  pos = static_cast<unsigned long>(origin + distance);
  if (newPos != nullptr) *newPos = pos;
  return 0;
}

unsigned int CountingFile::GetPos(unsigned long *p) {
  KEL_ENTER(kSEEK, "getpos");
  if (!open) return Fail("not open", 0xFFFFFFFFu);
  if (p != nullptr) *p = pos;
  return 0;
}

unsigned int CountingFile::LockRegion(unsigned long offset, unsigned long bytes, unsigned int) {
  KEL_ENTER(kLOCK, "lock@" + std::to_string(offset) + ":" + std::to_string(bytes));
  return 0;
}

unsigned int CountingFile::UnlockRegion(unsigned long offset, unsigned long bytes) {
  KEL_ENTER(kLOCK, "unlock@" + std::to_string(offset) + ":" + std::to_string(bytes));
  return 0;
}

#undef KEL_ENTER

}  // namespace kelcore_test
