// System-error parameters and OS module messages: the C library's and the
// system's texts, alike on Linux and Windows.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "kelcore/catalog/catalog_lookup.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"

#ifdef _WIN32
#  include <windows.h>
#endif

namespace {

bool UnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// Formats a parameter into a buffer of exactly the size the library hands
// to parameters, so that AddressSanitizer sees any overrun.
std::string FormatParm(const tPARAMETER &parm, const char *spec) {
  std::unique_ptr<char[]> buf(new char[1024]);
  parm.Format(buf.get(), spec);
  return buf.get();
}

class SystemErrorTest : public ::testing::Test {
 protected:
  void TearDown() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
};

// --- tPARM_ERRNO

TEST_F(SystemErrorTest, ErrnoShowsTheCLibraryText) {
  const int values[] = {2, 13, 17, 4, 22, 99999};
  for (int err : values) {
    SCOPED_TRACE(err);
    const std::string expected = std::strerror(err);
    tPARM_ERRNO parm(err);
    EXPECT_EQ(expected, FormatParm(parm, nullptr));
    EXPECT_EQ(expected, FormatParm(parm, ""));
    EXPECT_EQ("(" + expected + ")", FormatParm(parm, "(%s)"));
  }
}

TEST_F(SystemErrorTest, ErrnoTextLeavesTheLastErrorAlone) {
  tMSG *pending = new tMSGSTR("pending", "test error", tMSG::eERROR);
  tTHREAD::SetLastError(pending);
  FormatParm(tPARM_ERRNO(2), nullptr);
  EXPECT_EQ(pending, tTHREAD::GetLastError());
}

TEST_F(SystemErrorTest, ErrnoWithoutMemoryShowsOutOfMemory) {
  tPARM_ERRNO parm(2);
  kelcore_test::ScopedAllocFailure fail(1);
  EXPECT_EQ("(Out of memory)", FormatParm(parm, "(%s)"));
}

TEST_F(SystemErrorTest, ParametersCompareByClassAndValue) {
  EXPECT_TRUE(tPARM_ERRNO(2) == tPARM_ERRNO(2));
  EXPECT_FALSE(tPARM_ERRNO(2) == tPARM_ERRNO(3));
  EXPECT_TRUE(tPARM_SYSERR(5) == tPARM_SYSERR(5));
  EXPECT_FALSE(tPARM_SYSERR(5) == tPARM_SYSERR(6));
  EXPECT_FALSE(tPARM_ERRNO(2) == tPARM_SYSERR(2));
  EXPECT_FALSE(tPARM_SYSERR(2) == tPARM_ERRNO(2));
  EXPECT_FALSE(tPARM_SYSERR(2) == tPARM_INT(2));
  EXPECT_EQ(-7, tPARM_ERRNO(-7).Value());
  EXPECT_EQ(183, tPARM_SYSERR(183).Value());
}

// --- tPARM_SYSERR

struct SystemTextCase {
  int code;
  const char *windows;  // Windows' own text, and the POSIX layer's
  const char *wine;     // Wine words some texts its own way
};

const SystemTextCase kSystemTexts[] = {
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
    {87, "The parameter is incorrect.", "Invalid parameter."},
    {112, "There is not enough space on the disk.", "Disk full."},
    {145, "The directory is not empty.", "Directory is not empty."},
    {183, "Cannot create a file when that file already exists.", "File already exists."},
};

TEST_F(SystemErrorTest, SystemCodesShowTheSameTextsOnEverySystem) {
  const bool wine = UnderWine();
  for (const SystemTextCase &c : kSystemTexts) {
    SCOPED_TRACE(c.code);
    const std::string expected = wine ? c.wine : c.windows;
    tPARM_SYSERR parm(c.code);
    EXPECT_EQ(expected, FormatParm(parm, nullptr));
    EXPECT_EQ(expected, FormatParm(parm, ""));
    EXPECT_EQ("(" + expected + ")", FormatParm(parm, "(%s)"));
  }
}

TEST_F(SystemErrorTest, EveryCodeOfThePlatformLayerHasAText) {
  // The Win32 codes that the POSIX layer produces.
  const int codes[] = {0,   1,   2,   3,   4,   5,   6,   8,   14,  15,  16,  17,
                       18,  19,  21,  25,  29,  30,  31,  32,  33,  38,  39,  50,
                       80,  87,  109, 112, 120, 122, 123, 131, 145, 158, 167, 170,
                       183, 206, 267, 288, 298, 317, 1131, 1460};
  for (int code : codes) {
    SCOPED_TRACE(code);
    std::string text = FormatParm(tPARM_SYSERR(code), nullptr);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(std::string::npos, text.find("Message file not opened"));
    // One line, without the system's line end.
    EXPECT_EQ('.', text.back());
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
  }
}

TEST_F(SystemErrorTest, PercentSignsOfASystemTextAreShownAsTheyAre) {
  const std::string expected =
      UnderWine() ? "Message 0x%1 not found in file %2."
                  : "The system cannot find message text for message number 0x%1 in the message "
                    "file for %2.";
  EXPECT_EQ(expected, FormatParm(tPARM_SYSERR(317), nullptr));
}

TEST_F(SystemErrorTest, CodeWithoutSystemTextShowsTheCatalogDescription) {
  EXPECT_EQ("Message file not opened (OS library message catalog, set:2, msg:61440)",
            FormatParm(tPARM_SYSERR(0xF000), nullptr));
}

TEST_F(SystemErrorTest, SystemTextWithoutMemoryShowsOutOfMemory) {
  tPARM_SYSERR parm(2);
  kelcore_test::ScopedAllocFailure fail(1);
  EXPECT_EQ("Out of memory", FormatParm(parm, nullptr));
}

#ifdef _WIN32
TEST_F(SystemErrorTest, SystemTextKeepsTheSystemsLastErrorOnWindows) {
  ::SetLastError(1234);
  FormatParm(tPARM_SYSERR(2), nullptr);
  FormatParm(tPARM_SYSERR(0xF000), nullptr);
  EXPECT_EQ(1234u, ::GetLastError());
}
#endif

// A catalog that holds every OS text as one very long line.
class LongTextLookup : public tMSGCAT_LOOKUP {
 public:
  unsigned int GetMsg(tMSGCAT &, unsigned int, unsigned int, char **text) override {
    *text = new char[1501];
    std::memset(*text, 'x', 1500);
    (*text)[1500] = '\0';
    return 0;
  }
  unsigned int GetNextSetId(tMSGCAT &, unsigned int, unsigned int *) override { return 1; }
  unsigned int GetNextMsgId(tMSGCAT &, unsigned int, unsigned int, unsigned int *) override {
    return 1;
  }
  void AddFileName(const tMSGCAT &, tMSG &) override {}
};

TEST_F(SystemErrorTest, LongCatalogTextsStayInsideTheBuffer) {
  LongTextLookup lookup;
  tMSGCAT_LOOKUP *previous = tMSGCAT_LOOKUP::Install(&lookup);
  const std::string bare = FormatParm(tPARM_ERRNO(2), nullptr);
  const std::string framed = FormatParm(tPARM_SYSERR(2), "<<%s>>");
  tMSGCAT_LOOKUP::Install(previous);

  EXPECT_EQ(1023u, bare.size());
  EXPECT_LE(framed.size(), 1023u);
  EXPECT_EQ("<<", framed.substr(0, 2));
  EXPECT_EQ(">>", framed.substr(framed.size() - 2));
}

// --- tOSERR::Make

TEST_F(SystemErrorTest, MakeBuildsAnOsMessageWithTheSystemCode) {
  tMSG *msg = tOSERR::Make(3, 32);
  ASSERT_NE(&tERRMSG::OutOfMemory, msg);
  EXPECT_EQ(static_cast<const char *>(kelos::cID_STRING), msg->GetIdString());
  EXPECT_EQ(tMSG::eERROR, msg->GetSeverity());
  tCATMSG *cat_msg = dynamic_cast<tCATMSG *>(msg);
  ASSERT_NE(nullptr, cat_msg);
  EXPECT_EQ(&kelos::Catalog(), cat_msg->GetCatalog());
  EXPECT_EQ(0u, cat_msg->GetSetId());
  EXPECT_EQ(3u, cat_msg->GetMsgId());
  ASSERT_EQ(1u, msg->NumParms());
  EXPECT_TRUE((*msg)[0] == tPARM_SYSERR(32));
  tMSG::Dispose(msg);
}

TEST_F(SystemErrorTest, MakeWithoutMemory) {
  {
    kelcore_test::ScopedAllocFailure fail(1);
    EXPECT_EQ(&tERRMSG::OutOfMemory, tOSERR::Make(3, 32));
  }
  EXPECT_EQ(0u, tERRMSG::OutOfMemory.NumParms());

  tMSG *partial;
  {
    kelcore_test::ScopedAllocFailure fail(2);  // the parameter
    partial = tOSERR::Make(3, 32);
  }
  ASSERT_NE(&tERRMSG::OutOfMemory, partial);
  EXPECT_EQ(1u, partial->NumParms());
#if !defined(KELCORE_TEST_UBSAN)
  // A null parameter keeps its place (a reference with null address).
  EXPECT_EQ(nullptr, &(*partial)[0]);
#endif
  tMSG::Dispose(partial);
}

}  // namespace

// A spec that does not convert a text must never reach printf with the text
// as its argument: it is ignored and the text shows as with "%s".
TEST_F(SystemErrorTest, SpecsThatDoNotConvertATextAreIgnored) {
  const std::string plain_errno = FormatParm(tPARM_ERRNO(2), nullptr);
  const std::string plain_syserr = FormatParm(tPARM_SYSERR(2), nullptr);
  for (const char *spec : {"%d", "%n", "%s%s", "%99999s", "%p", "%f", "%c"}) {
    SCOPED_TRACE(spec);
    EXPECT_EQ(plain_errno, FormatParm(tPARM_ERRNO(2), spec));
    EXPECT_EQ(plain_syserr, FormatParm(tPARM_SYSERR(2), spec));
  }
}
