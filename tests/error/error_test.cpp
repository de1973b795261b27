// Error reporting: the translation tables, the system-error parameters (the
// C library's and the system's texts, alike on Linux and Windows), OS module
// messages, error lists, local-error guards, and every allocation failing in
// turn while errors are raised, kept and logged.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/error_list.h"
#include "kelcore/error/os_error.h"
#include "kelcore/log/log_manager.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"
#include "tests/support/message_file.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using kelcore_test::LogCapture;
using kelcore_test::ScopedAllocFailure;

tMSG *Text(const char *text) { return new tMSGSTR(text, "test error", tMSG::eERROR); }

class ErrorTest : public ::testing::Test {
 protected:
  void SetUp() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
  void TearDown() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
};

TEST_F(ErrorTest, TranslationTables) {
  const int win32[][2] = {{2, 1},      {3, 1},      {5, 3},      {19, 3},      {32, 3},
                          {33, 6},     {80, 2},     {145, 3},    {183, 2},     {18, 1},
                          {0xF002, 3}, {0xF004, 3}, {0xF005, 3}, {0xF000, 2},  {0xF006, 3},
                          {0, -1},     {6, -1},     {87, -1},    {0xF001, -1}, {0xF009, -1}};
  for (const auto &row : win32) EXPECT_EQ(unsigned(row[1]), tOSERR::ToStatus(row[0])) << row[0];
  const int errnos[][2] = {{2, 1},      {13, 3}, {17, 2}, {4, 5},   {0xF000, 2},
                           {0xF006, 3}, {0, -1}, {5, -1}, {22, -1}, {0xF002, -1}};
  for (const auto &row : errnos) EXPECT_EQ(unsigned(row[1]), tERRNO::ToStatus(row[0])) << row[0];
}

bool UnderWine() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// Formats into a buffer of exactly the size the library hands to
// parameters, so that AddressSanitizer sees any overrun.
std::string FormatParm(const tPARAMETER &parm, const char *spec) {
  std::unique_ptr<char[]> buf(new char[1024]);
  parm.Format(buf.get(), spec);
  return buf.get();
}

// Every spec shows the text: none, empty, one that places it, and ones that
// do not convert a text (ignored: they must never reach printf).
void ExpectShownWithEverySpec(const tPARAMETER &parm, const std::string &text) {
  for (const char *spec :
       {static_cast<const char *>(nullptr), "", "%d", "%n", "%s%s", "%99999s", "%p", "%c"}) {
    EXPECT_EQ(text, FormatParm(parm, spec)) << spec;
  }
  EXPECT_EQ("(" + text + ")", FormatParm(parm, "(%s)"));
}

TEST_F(ErrorTest, ParametersShowTheCLibraryTextAndCompareByClassAndValue) {
  for (int err : {2, 13, 4, 22, 99999})
    ExpectShownWithEverySpec(tPARM_ERRNO(err), std::strerror(err));
  tMSG *made = tOSERR::Make(3, 32);  // an OS message with the code as a parameter
  EXPECT_TRUE((*made)[0] == tPARM_SYSERR(32) && !((*made)[0] == tPARM_SYSERR(33)));
  tMSG::Dispose(made);
  EXPECT_FALSE(tPARM_ERRNO(2) == tPARM_ERRNO(3) || tPARM_ERRNO(2) == tPARM_SYSERR(2) ||
               tPARM_SYSERR(2) == tPARM_ERRNO(2) || tPARM_SYSERR(2) == tPARM_INT(2));
  ScopedAllocFailure fail(1, true);
  EXPECT_EQ("(Out of memory)", FormatParm(tPARM_ERRNO(2), "(%s)"));
  EXPECT_EQ("Out of memory", FormatParm(tPARM_SYSERR(2), nullptr));
}

TEST_F(ErrorTest, SystemCodesShowTheSameTextsOnEverySystem) {
  const struct {
    int code;
    const char *windows;  // Windows' own text, and the POSIX layer's
    const char *wine;     // Wine words some texts its own way
  } cases[] = {
      {2, "The system cannot find the file specified.", "File not found."},
      {3, "The system cannot find the path specified.", "Path not found."},
      {5, "Access is denied.", "Access denied."},
      {18, "There are no more files.", "No more files."},
      {32, "The process cannot access the file because it is being used by another process.",
       "Sharing violation."},
      {33,
       "The process cannot access the file because another process has locked a portion of the "
       "file.",
       "Lock violation."},
      {80, "The file exists.", "File exists."},
      {112, "There is not enough space on the disk.", "Disk full."},
      {145, "The directory is not empty.", "Directory is not empty."},
      {183, "Cannot create a file when that file already exists.", "File already exists."},
      // Percent signs of a system text are shown as they are.
      {317,
       "The system cannot find message text for message number 0x%1 in the message file for %2.",
       "Message 0x%1 not found in file %2."},
  };
  for (const auto &c : cases) {
    ExpectShownWithEverySpec(tPARM_SYSERR(c.code), UnderWine() ? c.wine : c.windows);
  }
  // Every code the POSIX layer produces has a one-line text.
  for (int code :
       {0,  1,  4,   6,   8,   14,  15,  16,  17,  19,  21,  25,  29,  30,  31,   38,  39,
        50, 87, 109, 120, 122, 123, 131, 158, 167, 170, 206, 267, 288, 298, 1131, 1460}) {
    const std::string text = FormatParm(tPARM_SYSERR(code), nullptr);
    EXPECT_EQ('.', text.empty() ? '\0' : text.back()) << code << ": " << text;
  }
  // A code without a system text shows the catalog's description.
  EXPECT_EQ("Message file not opened (OS library message catalog, set:2, msg:61440)",
            FormatParm(tPARM_SYSERR(0xF000), nullptr));
#ifdef _WIN32
  ::SetLastError(1234);  // asking the system for texts keeps its last error
  FormatParm(tPARM_SYSERR(2), nullptr);
  FormatParm(tPARM_SYSERR(0xF000), nullptr);
  EXPECT_EQ(1234u, ::GetLastError());
#endif
}

TEST_F(ErrorTest, LongCatalogTextsStayInsideTheBuffer) {
  // Catalog texts longer than a parameter's buffer.
  const std::string x(1500, 'x');
  kelcore_test::TempDir tmp;
  kelcore_test::RegisteredMessageFile file(
      tmp.File("long.cat"), {"$catalog OS library message catalog\n$version A.02.00\n$set 1\n2 " +
                                 x + "\n$set 2\n2 " + x + "\n"});
  EXPECT_EQ(std::string(1023, 'x'), FormatParm(tPARM_ERRNO(2), nullptr));
  const std::string framed = FormatParm(tPARM_SYSERR(2), "<<%s>>");
  EXPECT_LE(framed.size(), 1023u);
  EXPECT_EQ(">>", framed.substr(framed.size() - 2));
}

TEST_F(ErrorTest, ListEndsAndReset) {
  tERROR_LIST list;
  EXPECT_EQ(nullptr, list.RemoveFirst());
  EXPECT_EQ(nullptr, list.RemoveLast());
  tMSG *m[4];
  for (tMSG *&msg : m) list.Add(*(msg = Text("m")));
  tMSG *first = list.RemoveFirst(), *last = list.RemoveLast();
  EXPECT_EQ(m[0], first);
  EXPECT_EQ(m[3], last);
  EXPECT_EQ(m[1], list.PeekFirst());
  EXPECT_EQ(m[2], list.RemoveLast());
  EXPECT_EQ(m[1], list.PeekLast());
  EXPECT_EQ(m[1], list.RemoveFirst());  // the only one: both ends run empty
  EXPECT_EQ(nullptr, list.PeekFirst());
  EXPECT_EQ(nullptr, list.PeekLast());
  // Reset keeps a message of the list and what came before it.
  tMSG *const again[] = {first, &tERRMSG::OutOfMemory, m[1], m[2]};  // the static one: never freed
  for (tMSG *msg : again) list.Add(*msg);
  for (int twice = 0; twice < 2; ++twice) list.Reset(m[1]);
  EXPECT_EQ(m[1], list.PeekLast());
  EXPECT_EQ(first, list.PeekFirst());
  list.Reset(last);  // not in the list: empties it, and leaves `last` alone
  EXPECT_EQ(nullptr, list.PeekLast());
  {
    ScopedAllocFailure fail(1);
    list.Add(*last);  // no node: the message stays with the caller
  }
  EXPECT_EQ(nullptr, list.PeekFirst());
  tMSG::Dispose(last);
}

TEST_F(ErrorTest, LogWritesTheMessagesBetweenSeparators) {
  using Lines = std::vector<std::string>;
  const struct {
    int count;
    unsigned int levels;
    const char *labels;
    Lines expected;
  } cases[] = {
      {0, ~0u, nullptr, {}},
      {1, ~0u, nullptr, {"first 0"}},
      {3, ~0u, nullptr, {"----------", "first 0", "Out of memory", "third 2", "----------"}},
      // Separators ask for levels 0xC0 and the label "error", messages for neither.
      {3, 0x01, nullptr, {"first 0", "Out of memory", "third 2"}},
      {3, ~0u, "os;thread", {"first 0", "Out of memory", "third 2"}},
  };
  for (const auto &c : cases) {
    tERROR_LIST list;
    for (int i = 0; i < c.count; ++i)
      list.Add(i == 1 ? tERRMSG::OutOfMemory : *Text(i ? "third %0" : "first %0") << i);
    LogCapture log(c.levels, c.labels);
    list.Log();
    tLOGMGR::Suspend();
    list.Log();  // nothing while logging is off
    EXPECT_EQ(c.expected, log.Lines()) << c.count;
  }
}

// Nests guards `depth` deep, each around an error of its own, and checks
// that each gives back what it found.
void Guarded(unsigned int depth) {
  tMSG *found = tTHREAD::GetLastError();
  {
    tLOCAL_ERRORS guard;
    EXPECT_EQ(nullptr, tTHREAD::GetLastError());
    tTHREAD::SetLastError(*tOSERR::Make(depth, 2) << "C:\\data\\file.dat");
    if (depth > 0) Guarded(depth - 1);
  }
  EXPECT_EQ(found, tTHREAD::GetLastError());
}

// Raises, guards, collects and logs errors; cleans up after itself.
void ErrorWork() {
  Guarded(2);
  tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
  Guarded(0);
  tTHREAD::SetLastError(*kelrec::NewLibraryError(5) << "file.rec" << 7u);
  Guarded(1);
  EXPECT_NE(nullptr, tTHREAD::GetLastError()->Format());
  tERROR_LIST list;
  for (unsigned int i = 0; i < 3; ++i) {
    tMSG *msg = i == 0 ? tTHREAD::TakeOwnershipOfLastError() : kelcstream::NewLibraryError(i, 2);
    list.Add(*msg);
    if (list.PeekLast() != msg) tMSG::Dispose(msg);  // not taken: still ours
  }
  list.Log();
  tMSG::Dispose(list.RemoveFirst());
}

TEST_F(ErrorTest, GuardsAndListsWithEveryAllocationFailingInTurn) {
  for (bool logging : {false, true}) {
    std::unique_ptr<LogCapture> log(logging ? new LogCapture : nullptr);
    EXPECT_GT(kelcore_test::SweepAllocFailures(ErrorWork), 0u);
    EXPECT_GT(kelcore_test::SweepAllocFailures(ErrorWork, true), 0u);
  }
}

}  // namespace
