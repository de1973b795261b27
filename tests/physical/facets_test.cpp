// The shape of a physical file: one name, one lock and one of each facet
// however the object is reached, and the file constants.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "kelcore/physical/file_defs.h"
#include "kelcore/physical/physical_file.h"
#include "tests/physical/os_file_test_util.h"

namespace physical_test {
namespace {

TEST(FacetsTest, EveryFacetSeesTheSameNameAndLock) {
  tOSFILE f;
  tPHYFILESYSOBJ &sys = f;
  tPHYFILEIOOBJ &io = f;
  tPHYSICAL_FILE &phys = f;
  tPHYFILENAMEOBJ &viaSys = sys;
  tPHYFILENAMEOBJ &viaIo = io;
  tPHYFILENAMEOBJ &viaPhys = phys;
  EXPECT_EQ(&viaSys, &viaIo);
  EXPECT_EQ(&viaSys, &viaPhys);
  tPHYSYNCOBJ &lockSys = sys;
  tPHYSYNCOBJ &lockIo = io;
  EXPECT_EQ(&lockSys, &lockIo);
  tFILEDEFS &defsSys = sys;
  tFILEDEFS &defsIo = io;
  EXPECT_EQ(&defsSys, &defsIo);
  viaIo.SetName("abc.dat");
  EXPECT_STREQ("abc.dat", viaSys.GetName());
  // The lock facet of an operating-system file does nothing, nestably.
  tOBJECT_LOCK outer(lockIo);
  tOBJECT_LOCK inner(lockSys);
}

TEST(FacetsTest, DeletedThroughThePhysicalFile) {
  std::unique_ptr<tPHYSICAL_FILE> p(new tOSFILE);
  tPHYFILENAMEOBJ &name = *p;
  name.SetName("x");
  EXPECT_STREQ("x", name.GetName());
  p.reset();
}

TEST(FacetsTest, NamesAreDosStyle) {
  tOSFILE f;
  f.SetName("dir/sub\\file.txt");
  EXPECT_STREQ("file.txt", f.GetFileName());
  EXPECT_STREQ(".txt", f.GetExtension());
  EXPECT_EQ('\\', f.PathChar());
  tPHYFILENAMEOBJ *made = nullptr;
  ASSERT_EQ(0u, f.AllocCompatNameObj(&made));
  std::unique_ptr<tPHYFILENAMEOBJ> owner(made);
  EXPECT_NE(nullptr, dynamic_cast<tPCFILENAME *>(made));
}

TEST(FacetsTest, ConstantsHaveTheirFixedValues) {
  struct Row {
    const char *name;
    unsigned int value;
    unsigned int expected;
  } rows[] = {
      {"MODE_READ", tFILEDEFS::MODE_READ, 1},
      {"MODE_WRITE", tFILEDEFS::MODE_WRITE, 2},
      {"MODE_READWRITE", tFILEDEFS::MODE_READWRITE, 3},
      {"MODE_INHERIT", tFILEDEFS::MODE_INHERIT, 4},
      {"MODE_WRITETHROUGH", tFILEDEFS::MODE_WRITETHROUGH, 8},
      {"SHARE_DENYNONE", tFILEDEFS::SHARE_DENYNONE, 1},
      {"SHARE_DENYREAD", tFILEDEFS::SHARE_DENYREAD, 2},
      {"SHARE_DENYWRITE", tFILEDEFS::SHARE_DENYWRITE, 3},
      {"SHARE_EXCLUSIVE", tFILEDEFS::SHARE_EXCLUSIVE, 4},
      {"SHARE_AUTO", tFILEDEFS::SHARE_AUTO, 5},
      {"PERM_HIDDEN", tFILEDEFS::PERM_HIDDEN, 0x200},
      {"PERM_SYSTEM", tFILEDEFS::PERM_SYSTEM, 0x400},
      {"ATTR_FILE", tFILEDEFS::ATTR_FILE, 1},
      {"ATTR_DIRECTORY", tFILEDEFS::ATTR_DIRECTORY, 2},
      {"ATTR_ARCHIVE", tFILEDEFS::ATTR_ARCHIVE, 4},
      {"SEEK_FROM_START", tFILEDEFS::SEEK_FROM_START, 0},
      {"SEEK_FROM_CURRENT", tFILEDEFS::SEEK_FROM_CURRENT, 1},
      {"SEEK_FROM_END", tFILEDEFS::SEEK_FROM_END, 2},
      {"LOCK_NOWAIT", tFILEDEFS::LOCK_NOWAIT, 1},
      {"LOCK_SHARED", tFILEDEFS::LOCK_SHARED, 2},
  };
  for (const Row &r : rows) EXPECT_EQ(r.expected, r.value) << r.name;
  // Reachable through every file class.
  EXPECT_EQ(3u, static_cast<unsigned int>(tOSFILE::MODE_READWRITE));
  EXPECT_EQ(2u, static_cast<unsigned int>(tPHYSICAL_FILE::SEEK_FROM_END));
}

}  // namespace
}  // namespace physical_test
