#include "kelcore/dirs/drive.h"

#include <climits>
#include <cstdint>
#include <new>

#include "kelcore/msgcat/module_catalogs.h"
#include "kelcore/dirs/current_dir.h"
#include "kelcore/error/os_error.h"
#include "kelcore/msg/message.h"
#include "kelcore/platform/dir.h"
#include "kelcore/sync/thread.h"

using namespace kelsys;

namespace {

const unsigned int cDRIVES = 26;
const unsigned int cMSG_DRIVE_INFO = 10;
const unsigned int cMSG_SET_DRIVE = 19;
const unsigned int cSTATUS_FAILURE = 0xFFFFFFFFu;

char Letter(unsigned int drive) { return static_cast<char>(64 + drive); }

// "X:\" for drive `drive` (1 to 26).
void RootOf(unsigned int drive, char (&root)[4]) {
  root[0] = Letter(drive);
  root[1] = ':';
  root[2] = '\\';
  root[3] = '\0';
}

unsigned int ReportDrive(unsigned int msgNo, unsigned int osError, unsigned int drive) {
  tMSG *msg = tOSERR::Make(msgNo, static_cast<int>(osError));
  *msg << Letter(drive);
  tTHREAD::SetLastError(msg);
  return tOSERR::ToStatus(static_cast<int>(osError));
}

// a × b, or the largest unsigned long when that does not fit.
unsigned long SaturatedProduct(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > ULONG_MAX / a) return ULONG_MAX;
  return static_cast<unsigned long>(a * b);
}

}  // namespace

// --- tPHYDRIVE -----------------------------------------------------------------

unsigned int tPHYDRIVE::GetCount() { return cDRIVES; }

unsigned int tPHYDRIVE::GetCurrent() {
  char small[MAX_PATH + 1];
  char *text = small;
  DWORD n = GetCurrentDirectoryA(sizeof small, small);
  if (n >= sizeof small) {
    // Longer than a DOS-style name; only its first characters matter.
    text = new (std::nothrow) char[n];
    if (text == nullptr) return 0;
    DWORD again = GetCurrentDirectoryA(n, text);
    if (again == 0 || again >= n) n = 0;
  }
  unsigned int drive = 0;
  if (n != 0) {
    char c = text[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z' && text[1] == ':') {
      drive = static_cast<unsigned int>(c - 64);
    } else {
      drive = 3;  // a path without a drive lies on the one drive C:
    }
  }
  if (text != small) delete[] text;
  return drive;
}

unsigned int tPHYDRIVE::SetCurrent(unsigned int drive) {
  if (drive == 0 || drive > cDRIVES) return ReportDrive(cMSG_SET_DRIVE, ERROR_INVALID_DRIVE, drive);
  char name[3] = {Letter(drive), ':', '\0'};
  if (!SetCurrentDirectoryA(name)) return ReportDrive(cMSG_SET_DRIVE, GetLastError(), drive);
  if (GetCurrent() != drive) return ReportDrive(cMSG_SET_DRIVE, ERROR_INVALID_DRIVE, drive);
  return 0;
}

tPHYDRIVE::eTYPE tPHYDRIVE::GetType(unsigned int drive) {
  if (drive == 0) drive = GetCurrent();
  if (drive == 0 || drive > cDRIVES) return eUNKNOWN;
  char root[4];
  RootOf(drive, root);
  UINT type = GetDriveTypeA(root);
  if (type <= 1) return eUNKNOWN;
  if (type <= 6) return static_cast<eTYPE>(type);
  return eOTHER;
}

unsigned int tPHYDRIVE::GetInfo(tINFO &info, unsigned int drive) {
  if (drive == 0) drive = GetCurrent();
  if (drive == 0 || drive > cDRIVES) return ReportDrive(cMSG_DRIVE_INFO, ERROR_INVALID_DRIVE, drive);
  char root[4];
  RootOf(drive, root);
  DWORD perCluster = 0, perSector = 0, freeClusters = 0, clusters = 0;
  if (!GetDiskFreeSpaceA(root, &perCluster, &perSector, &freeClusters, &clusters)) {
    return ReportDrive(cMSG_DRIVE_INFO, GetLastError(), drive);
  }
  std::uint64_t clusterSize = static_cast<std::uint64_t>(perCluster) * perSector;
  info.Type = GetType(drive);
  info.Total = SaturatedProduct(clusters, clusterSize);
  info.Used = SaturatedProduct(clusters >= freeClusters ? clusters - freeClusters : 0, clusterSize);
  info.ClusterSize = SaturatedProduct(clusterSize, 1);
  info.Name[0] = Letter(drive);
  info.Name[1] = ':';
  info.Name[2] = '\0';
  info.Name[3] = '\0';
  return 0;
}

unsigned long tPHYDRIVE::GetMap() {
  keldirs::tSAVED_CURRENT_DIR saved;
  unsigned long map = 0;
  for (unsigned int drive = 1; drive <= GetCount(); ++drive) {
    if (SetCurrent(drive) == 0) map |= 1ul << (drive - 1);
  }
  saved.Restore();
  return map;
}

// --- tDRIVE --------------------------------------------------------------------

tDRIVE::tDRIVE() : drive_(0) { Select(0); }
tDRIVE::tDRIVE(unsigned int drive) : drive_(0) { Select(drive); }
tDRIVE::tDRIVE(int drive) : drive_(0) { Select(static_cast<unsigned int>(drive)); }
tDRIVE::tDRIVE(char letter) : drive_(0) {
  char c = (letter >= 'A' && letter <= 'Z') ? static_cast<char>(letter - 'A' + 'a') : letter;
  Select(static_cast<unsigned int>(c - 'a' + 1));
}

void tDRIVE::Select(unsigned int drive) {
  drive_ = drive != 0 ? drive : tPHYDRIVE::GetCurrent();
}

unsigned int tDRIVE::SelectNextAvailable() {
  unsigned long map = tPHYDRIVE::GetMap();
  for (unsigned int drive = 3; drive <= cDRIVES; ++drive) {
    if (!(map & (1ul << (drive - 1)))) {
      Select(drive);
      return 0;
    }
  }
  tTHREAD::SetLastError(kelfilesys::NewLibraryError(1));
  return cSTATUS_FAILURE;
}

unsigned int tDRIVE::SetCurrent(unsigned int drive) {
  if (drive != 0) drive_ = drive;
  return tPHYDRIVE::SetCurrent(drive_);
}

unsigned int tDRIVE::GetInfo(tPHYDRIVE::tINFO &info) { return tPHYDRIVE::GetInfo(info, drive_); }

tPHYDRIVE::eTYPE tDRIVE::GetType() { return tPHYDRIVE::GetType(drive_); }

tDRIVE::operator unsigned int() const { return drive_; }

tDRIVE::operator char() const { return Letter(drive_); }

// --- the saved current directory ------------------------------------------------

namespace keldirs {

tSAVED_CURRENT_DIR::tSAVED_CURRENT_DIR() : whole_(0), drive_(tPHYDRIVE::GetCurrent()) {
  DWORD n = GetCurrentDirectoryA(cSIZE, text_);
  whole_ = n != 0 && n < cSIZE;
}

unsigned int tSAVED_CURRENT_DIR::Restore() const {
  if (whole_ && SetCurrentDirectoryA(text_)) return 0;
  return tPHYDRIVE::SetCurrent(drive_) == 0 ? 0 : cSTATUS_FAILURE;
}

}  // namespace keldirs
