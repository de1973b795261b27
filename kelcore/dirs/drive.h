// Drives, named by number: 1 for A, 2 for B, 3 for C ... 26 for Z; 0 means
// the current drive wherever a drive is taken.
//
// tPHYDRIVE gathers static operations on the system's drives; tDRIVE is a
// small value holding one drive number that forwards to them.
//
// On POSIX systems the whole file system is one fixed drive, C:, whose root
// is "/": it is the only drive that exists, and always the current one. On
// Windows the drives are the system's (under Wine, those of the Wine
// prefix: C: and Z: at least).
//
// Failures record an OS library message (the numbers of
// physical/os/os_file.h) with the system error and the drive letter: 10
// for GetInfo, 19 for SetCurrent (code 15, ERROR_INVALID_DRIVE, for a
// number outside 1 to 26 or a drive that did not become current).
#ifndef KELCORE_DIRS_DRIVE_H
#define KELCORE_DIRS_DRIVE_H

#include "kelcore/platform/export.h"

// Static operations on drives by number (1 is A:, 3 is C:); no objects of it are made. Failures
// are FILESYS and OS library messages as the last error.
class KELCORE_API tPHYDRIVE {
 public:
  // The kind of a drive, as GetType and GetInfo report it.
  enum eTYPE {
    eUNKNOWN = 0,    // undetermined, or no such drive
    eOTHER = 1,      // of a type not listed here
    eREMOVABLE = 2,
    eFIXED = 3,
    eREMOTE = 4,     // a network drive
    eCDROM = 5,
    eRAMDISK = 6
  };

  // What GetInfo reports. The sizes are unsigned long: where that has 32
  // bits (Windows), a size that does not fit is the largest value
  // (4294967295) rather than what is left after wrapping.
  struct tINFO {
    // The drive's kind.
    eTYPE Type;
    unsigned long Total;        // bytes
    unsigned long Used;         // bytes: total less free
    unsigned long ClusterSize;  // bytes per cluster
    char Name[4];               // "C:" and NULs
  };

  // 26.
  static unsigned int GetCount();
  // The drive of the process's current directory; a current directory
  // without a drive letter (a native POSIX path) lies on C: (3). 0 when
  // the current directory cannot be read.
  static unsigned int GetCurrent();
  // Makes drive `drive` (1 to 26) current, in that drive's own current
  // directory.
  static unsigned int SetCurrent(unsigned int drive);
  // eUNKNOWN for a drive that does not exist.
  static eTYPE GetType(unsigned int drive);
  // Fills `info` for drive `drive` (1 to 26): 0, or a status with the reason as the last error.
  static unsigned int GetInfo(tINFO &info, unsigned int drive);
  // Bit n - 1 set for each drive n that exists. Tries to make each drive
  // current in turn, then puts the process's current directory back; each
  // missing drive leaves its failure as the thread's last error.
  static unsigned long GetMap();
};

// One drive by number (see the file comment); its operations are tPHYDRIVE's for that number.
class KELCORE_API tDRIVE {
 public:
  // The current drive.
  tDRIVE();
  explicit tDRIVE(unsigned int drive);
  // The same for a literal such as tDRIVE(3), which would otherwise be
  // ambiguous between the number and the letter.
  explicit tDRIVE(int drive);
  // A drive letter, in either case: 'c' and 'C' are 3.
  explicit tDRIVE(char letter);

  // Stores the number; 0 stores the number of the drive current now.
  void Select(unsigned int drive);
  // Selects the first drive from C: to Z: that does not exist and returns
  // 0; when all exist, records FILESYS library error 1 and returns
  // 0xFFFFFFFF.
  unsigned int SelectNextAvailable();
  // Stores a non-zero `drive` first, then makes the stored drive current.
  unsigned int SetCurrent(unsigned int drive = 0);
  // tPHYDRIVE::GetInfo for the stored drive.
  unsigned int GetInfo(tPHYDRIVE::tINFO &info);
  // tPHYDRIVE::GetType for the stored drive.
  tPHYDRIVE::eTYPE GetType();

  // The drive's number (1 is A:).
  operator unsigned int() const;
  // The upper-case letter.
  operator char() const;

 private:
  unsigned int drive_;
};

#endif  // KELCORE_DIRS_DRIVE_H
