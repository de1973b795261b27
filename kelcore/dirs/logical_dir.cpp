#include "kelcore/dirs/logical_dir.h"

#include <cstring>
#include <new>

#include "kelcore/dirs/dir_name.h"
#include "kelcore/dirs/os_dir.h"
#include "kelcore/msg/message.h"
#include "kelcore/names/pc_file_name.h"
#include "kelcore/sync/thread.h"

namespace {

const unsigned int cSTATUS_NOT_FOUND = 1;
const unsigned int cSTATUS_FAILURE = 0xFFFFFFFFu;

// What every operation gives without a physical directory.
unsigned int NoDir() {
  tTHREAD::SetLastError(tERRMSG::OutOfMemory);
  return cSTATUS_FAILURE;
}

}  // namespace

// --- construction, copies and the shared physical directory ------------------

tLOGICAL_DIR::tLOGICAL_DIR(tPHYSICAL_DIR *dir, int own)
    : dir_(dir), own_(own), prev_(this), next_(this) {
  if (dir_ == nullptr) {
    dir_ = new (std::nothrow) tOSDIR;
    own_ = 1;
    if (dir_ == nullptr) tTHREAD::SetLastError(tERRMSG::OutOfMemory);
  }
}

tLOGICAL_DIR::tLOGICAL_DIR(tPHYSICAL_DIR &dir, int own)
    : dir_(&dir), own_(own), prev_(this), next_(this) {}

tLOGICAL_DIR::tLOGICAL_DIR(const tLOGICAL_DIR &other)
    : tFILEDEFS(other), tDIRDEFS(other), dir_(nullptr), own_(0), prev_(this), next_(this) {
  Join(other);
}

tLOGICAL_DIR &tLOGICAL_DIR::operator=(const tLOGICAL_DIR &other) {
  if (this != &other && dir_ != other.dir_) {
    Leave();
    Join(other);
  }
  return *this;
}

tLOGICAL_DIR::~tLOGICAL_DIR() { Leave(); }

void tLOGICAL_DIR::Join(const tLOGICAL_DIR &other) {
  dir_ = other.dir_;
  own_ = other.own_;
  prev_ = &other;
  next_ = other.next_;
  other.next_->prev_ = this;
  other.next_ = this;
}

// The last owner of a shared physical directory deletes it.
void tLOGICAL_DIR::Leave() {
  if (next_ == this) {
    if (own_ && dir_ != nullptr) delete dir_;
  } else {
    prev_->next_ = next_;
    next_->prev_ = prev_;
  }
  dir_ = nullptr;
  prev_ = next_ = this;
}

// --- the name ------------------------------------------------------------------

void tLOGICAL_DIR::SetName(char const *name) {
  if (dir_ != nullptr) dir_->SetName(name);
}
void tLOGICAL_DIR::SetName(char const *envVar, char const *defaultName) {
  if (dir_ != nullptr) dir_->SetName(envVar, defaultName);
}
void tLOGICAL_DIR::SetName(tPHYFILENAMEOBJ const &name) {
  if (dir_ != nullptr) dir_->SetName(name);
}
void tLOGICAL_DIR::SetLocation(tPHYFILENAMEOBJ const &dir, int merge) {
  if (dir_ != nullptr) dir_->SetLocation(dir, merge);
}
void tLOGICAL_DIR::SetLocation(char const *dir, int merge) {
  if (dir_ != nullptr) dir_->SetLocation(dir, merge);
}
void tLOGICAL_DIR::SetFileName(char const *fileName) {
  if (dir_ != nullptr) dir_->SetFileName(fileName);
}
void tLOGICAL_DIR::SetExtension(char const *ext) {
  if (dir_ != nullptr) dir_->SetExtension(ext);
}
char const *tLOGICAL_DIR::GetName() const { return dir_ != nullptr ? dir_->GetName() : ""; }
char const *tLOGICAL_DIR::GetFileName() const {
  return dir_ != nullptr ? dir_->GetFileName() : "";
}
char const *tLOGICAL_DIR::GetExtension() const {
  return dir_ != nullptr ? dir_->GetExtension() : "";
}
tPHYFILENAMEOBJ *tLOGICAL_DIR::GetLocation() {
  return dir_ != nullptr ? dir_->GetLocation() : nullptr;
}
int tLOGICAL_DIR::NameMatches(char const *pattern) const {
  return dir_ != nullptr ? dir_->NameMatches(pattern) : 0;
}
int tLOGICAL_DIR::IsAbsolute() const { return dir_ != nullptr ? dir_->IsAbsolute() : 0; }
int tLOGICAL_DIR::IsRelative() const { return dir_ != nullptr ? dir_->IsRelative() : 1; }
int tLOGICAL_DIR::IsRoot() const { return dir_ != nullptr ? dir_->IsRoot() : 0; }
int tLOGICAL_DIR::HasExtension() const { return dir_ != nullptr ? dir_->HasExtension() : 0; }
int tLOGICAL_DIR::HasDir() const { return dir_ != nullptr ? dir_->HasDir() : 0; }
void tLOGICAL_DIR::FullyQualify() {
  if (dir_ != nullptr) dir_->FullyQualify();
}
char tLOGICAL_DIR::PathChar() const { return dir_ != nullptr ? dir_->PathChar() : '\\'; }
char const *tLOGICAL_DIR::PathCharStr() const {
  return dir_ != nullptr ? dir_->PathCharStr() : "\\";
}
int tLOGICAL_DIR::PathChar(char c) const { return dir_ != nullptr ? dir_->PathChar(c) : 0; }
int tLOGICAL_DIR::PathSep(char c) const { return dir_ != nullptr ? dir_->PathSep(c) : 0; }
unsigned int tLOGICAL_DIR::AllocCompatNameObj(tPHYFILENAMEOBJ **out) const {
  if (dir_ == nullptr) {
    if (out != nullptr) *out = nullptr;
    return NoDir();
  }
  return dir_->AllocCompatNameObj(out);
}
tMSG &tLOGICAL_DIR::AddErrorContext(tMSG *msg) const {
  return dir_ != nullptr ? dir_->AddErrorContext(msg) : *msg;
}

// --- the directory as an entry ---------------------------------------------------

unsigned int tLOGICAL_DIR::Exists(int *exists) {
  return dir_ != nullptr ? dir_->Exists(exists) : NoDir();
}
unsigned int tLOGICAL_DIR::Rename(tPHYFILENAMEOBJ const &newName) {
  return dir_ != nullptr ? dir_->Rename(newName) : NoDir();
}
unsigned int tLOGICAL_DIR::Rename(char const *newName) {
  tPCFILENAME name(newName);
  return Rename(name);
}
unsigned int tLOGICAL_DIR::Delete() { return dir_ != nullptr ? dir_->Delete() : NoDir(); }
unsigned int tLOGICAL_DIR::GetAttributes(unsigned int *attributes) {
  return dir_ != nullptr ? dir_->GetAttributes(attributes) : NoDir();
}
unsigned int tLOGICAL_DIR::SetAttributes(unsigned int attributes, unsigned int mask) {
  return dir_ != nullptr ? dir_->SetAttributes(attributes, mask) : NoDir();
}
unsigned int tLOGICAL_DIR::GetSecurity(unsigned int *permissions) {
  return dir_ != nullptr ? dir_->GetSecurity(permissions) : NoDir();
}
unsigned int tLOGICAL_DIR::SetSecurity(unsigned int permissions, unsigned int mask) {
  return dir_ != nullptr ? dir_->SetSecurity(permissions, mask) : NoDir();
}
unsigned int tLOGICAL_DIR::AllocCompatFileObj(tPHYSICAL_FILE **out) const {
  if (dir_ != nullptr) return dir_->AllocCompatFileObj(out);
  if (out != nullptr) *out = nullptr;
  return NoDir();
}
unsigned int tLOGICAL_DIR::AllocCompatDirObj(tPHYSICAL_DIR **out) const {
  if (dir_ != nullptr) return dir_->AllocCompatDirObj(out);
  if (out != nullptr) *out = nullptr;
  return NoDir();
}

// --- the directory ---------------------------------------------------------------

unsigned int tLOGICAL_DIR::DeleteFiles(unsigned int flags) {
  return dir_ != nullptr ? dir_->DeleteFiles(flags) : NoDir();
}
unsigned int tLOGICAL_DIR::GetCurrent(tPHYFILENAMEOBJ &name, unsigned int drive) {
  return dir_ != nullptr ? dir_->GetCurrent(name, drive) : NoDir();
}
unsigned int tLOGICAL_DIR::SetCurrent() const {
  return dir_ != nullptr ? dir_->SetCurrent() : NoDir();
}
unsigned int tLOGICAL_DIR::IsEmpty(int *empty) {
  return dir_ != nullptr ? dir_->IsEmpty(empty) : NoDir();
}

// --- listing -----------------------------------------------------------------------

unsigned int tLOGICAL_DIR::Open() { return dir_ != nullptr ? dir_->Open() : NoDir(); }
unsigned int tLOGICAL_DIR::Read(tDIRFINDINFO &info) {
  return dir_ != nullptr ? dir_->Read(info) : NoDir();
}
unsigned int tLOGICAL_DIR::Close() { return dir_ != nullptr ? dir_->Close() : NoDir(); }
int tLOGICAL_DIR::IsOpen() const { return dir_ != nullptr ? dir_->IsOpen() : 0; }

// --- conversions ---------------------------------------------------------------------

tLOGICAL_DIR::operator tPHYSICAL_DIR &() { return *dir_; }
tLOGICAL_DIR::operator tPHYFILENAMEOBJ &() { return *dir_; }
tLOGICAL_DIR::operator tPHYFILENAMEOBJ const &() const { return *dir_; }
tLOGICAL_DIR::operator tPHYSYNCOBJ &() { return *dir_; }
tLOGICAL_DIR::operator tPARAMETER *() const {
  return dir_ != nullptr ? static_cast<tPARAMETER *>(*static_cast<tPHYFILENAMEOBJ *>(dir_))
                         : nullptr;
}

// --- own operations ---------------------------------------------------------------------

unsigned int tLOGICAL_DIR::Create(int parents) {
  if (dir_ == nullptr) return NoDir();
  unsigned int status = dir_->Create();
  if (status != cSTATUS_NOT_FOUND || !parents) return status;
  // A parent is missing: make it the same way, then this directory.
  tPHYFILENAMEOBJ *saved = nullptr;
  if (dir_->AllocCompatNameObj(&saved) != 0) return cSTATUS_FAILURE;
  tPHYFILENAMEOBJ &name = *dir_;
  saved->SetName(name);
  tPHYFILENAMEOBJ *location = name.GetLocation();
  if (location == nullptr) {
    delete saved;
    return cSTATUS_FAILURE;
  }
  // An empty location, or one that is the name itself ("C:"), has no
  // parent left to make.
  const char *up = location->GetName();
  if (up[0] == '\0' || std::strcmp(up, saved->GetName()) == 0) {
    delete saved;
    return status;
  }
  name.SetName(up);
  status = Create(1);
  name.SetName(saved->GetName());
  delete saved;
  if (status != 0) return status;
  return dir_->Create();
}

unsigned int tLOGICAL_DIR::SetToCurrent(unsigned int drive) {
  if (dir_ == nullptr) return NoDir();
  tPCFILENAME current;
  unsigned int status = dir_->GetCurrent(current, drive);
  if (status != 0) return status;
  tPHYFILENAMEOBJ &name = *dir_;
  name.SetName(current.GetName());
  keldirs::EndWithPathChar(name);
  return 0;
}

// --- tDIR --------------------------------------------------------------------------------

tDIR::tDIR(tPHYSICAL_DIR *dir, int own) : tLOGICAL_DIR(dir, own) {}
tDIR::tDIR(tPHYSICAL_DIR &dir, int own) : tLOGICAL_DIR(dir, own) {}
tDIR::~tDIR() {}
