// The library boundary: exported data and functions are reachable from a
// program, and memory crosses the boundary in both directions as the headers
// promise (texts from the library are freed by the caller with delete[];
// messages the caller creates are disposed of by the library).
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "kelcore/kelcore.h"

namespace {

TEST(LibraryBoundary, ExportedStaticDataIsConstructedBeforeMain) {
  EXPECT_STREQ(tERRMSG::OutOfMemoryStr, "Out of memory");
  EXPECT_TRUE(tERRMSG::OutOfMemory.IsStatic());
  EXPECT_STREQ(tERRMSG::OutOfMemory.Format(), "Out of memory");
}

TEST(LibraryBoundary, TextFromTheLibraryIsFreedByTheCaller) {
  char *text = tMSG::Format("%0-%1", 2, new (std::nothrow) tPARM_INT(5),
                            new (std::nothrow) tPARM_STRING("five"));
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "5-five");
  delete[] text;
}

TEST(LibraryBoundary, MessagesFromTheCallerAreDisposedOfByTheLibrary) {
  tMSG *msg = new (std::nothrow) tMSGSTR("%0", "boundary test message", tMSG::eERROR);
  ASSERT_NE(msg, nullptr);
  *msg << "adopted text";
  EXPECT_STREQ(msg->Format(), "adopted text");
  tMSG::Dispose(msg);
}

TEST(LibraryBoundary, DisposingOfTheStaticMessageLeavesItIntact) {
  tMSG::Dispose(&tERRMSG::OutOfMemory);
  EXPECT_STREQ(tERRMSG::OutOfMemory.Format(), "Out of memory");
}

// The INI file's nested classes are exported with it: a program walks
// sections and keys that the library allocated.
TEST(LibraryBoundary, StructuredFilesAreReachable) {
  EXPECT_STREQ(cCFG_VERSION, "A.00.00");
  tINIFILE ini;  // no name: loading finds nothing, saving writes nothing
  ini.Add("S", "k", 5);
  tINIFILE::tSECTION *s = ini.GetFirstSection();
  ASSERT_NE(s, nullptr);
  ASSERT_NE(s->FindKey("K"), nullptr);
  EXPECT_STREQ(s->FindKey("K")->GetValue(), "5");
  EXPECT_EQ(s->GetNext(), nullptr);
  ini.SetModified(0);
}

}  // namespace
