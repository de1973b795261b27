// Catalog messages while no message file exists: built-in texts, default
// texts, the fallback description, and the thread's last error.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/sync/thread.h"
#include "tests/support/log_capture.h"

namespace {

class CatalogMessageTest : public ::testing::Test {
 protected:
  void SetUp() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
  void TearDown() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
};

std::string FormatAndDispose(tMSG *msg) {
  std::string text = msg->Format();
  tMSG::Dispose(msg);
  return text;
}

// --- MSGFILE: built-in texts, formatted with the catalog name, set, number.

struct BuiltInCase {
  unsigned int set;
  unsigned int msg;
  const char *expected;
};

const BuiltInCase kBuiltIn[] = {
    {0, 0, "Message catalog\"MSGFILE library message catalog\" is corrupt(set:0, msg:0)"},
    {0, 1, "Message set 0not found (MSGFILE library message catalog, msg:1)"},
    {0, 2, "Message number 2 not found (MSGFILE library message catalog, set:0)"},
    {0, 3, "Message file not opened (MSGFILE library message catalog, set:0, msg:3)"},
    {0, 4, "Message catalog error (MSGFILE library message catalog, set:0, msg:4)"},
    {0, 5, "Message catalog error (MSGFILE library message catalog, set:0, msg:5)"},
    {0, 6, "Message catalog error (MSGFILE library message catalog, set:0, msg:6)"},
    {0, 4000000000u,
     "Message catalog error (MSGFILE library message catalog, set:0, msg:4000000000)"},
    {1, 0, "Message catalog \"MSGFILE library message catalog\" not found (set:1, msg:0)"},
    {1, 1, "Message file error (MSGFILE library message catalog, set:1, msg:1)"},
    {1, 2, "Message file error (MSGFILE library message catalog, set:1, msg:2)"},
};

TEST_F(CatalogMessageTest, MsgfileMessagesShowTheirBuiltInTexts) {
  for (const BuiltInCase &c : kBuiltIn) {
    SCOPED_TRACE(testing::Message() << "set " << c.set << " msg " << c.msg);
    tMSG *msg = c.set == 0 ? kelmsgfile::NewLibraryError(c.msg)
                           : kelmsgfile::NewLibraryError1(c.msg);
    // The message's own parameters do not appear in a built-in text.
    *msg << "context" << 42;
    EXPECT_EQ(c.expected, FormatAndDispose(msg));
  }
}

TEST_F(CatalogMessageTest, MsgfileSetsHaveTheirOwnIdStrings) {
  tMSG *set0 = kelmsgfile::NewLibraryError(3);
  tMSG *set1 = kelmsgfile::NewLibraryError1(0);
  EXPECT_EQ(static_cast<const char *>(kelmsgfile::cMSGCAT_ID_STRING), set0->GetIdString());
  EXPECT_STREQ("MSGCAT library error", set0->GetIdString());
  EXPECT_EQ(static_cast<const char *>(kelmsgfile::cMSGFILE_ID_STRING), set1->GetIdString());
  EXPECT_STREQ("MSGFILE library error", set1->GetIdString());
  EXPECT_EQ(0u, static_cast<tCATMSG *>(set0)->GetSetId());
  EXPECT_EQ(1u, static_cast<tCATMSG *>(set1)->GetSetId());
  tMSG::Dispose(set0);
  tMSG::Dispose(set1);
}

TEST_F(CatalogMessageTest, BuiltInTextNeedsTheIdStringObjectNotItsContent) {
  // Same characters, another object: not a MSGFILE message, so the text
  // describes the failed lookup instead.
  static const char kLookAlike[] = "MSGCAT library error";
  tCATMSG msg(&kelmsgfile::Catalog(), 0, 0, kLookAlike, tMSG::eERROR);
  EXPECT_STREQ("Message file not opened (MSGFILE library message catalog, set:0, msg:0)",
               msg.Format());
}

TEST_F(CatalogMessageTest, BuiltInTextsAreLookedUpBySetAndNumber) {
  EXPECT_STREQ("Message number %2 not found (%0, set:%1)", kelmsgfile::BuiltInText(0, 2));
  EXPECT_STREQ("Message catalog error (%0, set:%1, msg:%2)", kelmsgfile::BuiltInText(0, 77));
  EXPECT_STREQ("Message file error (%0, set:%1, msg:%2)", kelmsgfile::BuiltInText(1, 77));
  EXPECT_EQ(nullptr, kelmsgfile::BuiltInText(2, 0));
}

// --- Other modules: the text names the failed lookup.

struct ModuleCase {
  const char *name;
  tMSG *(*factory)(unsigned int);
  const char *catalog;
};

const ModuleCase kModules[] = {
    {"APP", kelapp::NewLibraryError, "APP library message catalog"},
    {"CStream", kelcstream::NewLibraryError, "CStream library message catalog"},
    {"FILESYS", kelfilesys::NewLibraryError, "FILESYS library message catalog"},
    {"OS", kelos::NewLibraryError, "OS library message catalog"},
    {"REC", kelrec::NewLibraryError, "REC library message catalog"},
    {"TXT", keltxt::NewLibraryError, "TXT library message catalog"},
};

TEST_F(CatalogMessageTest, OtherModulesDescribeTheMissingMessageFile) {
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.name);
    tMSG *msg = c.factory(7);
    *msg << "ignored";
    EXPECT_EQ(std::string("Message file not opened (") + c.catalog + ", set:0, msg:7)",
              FormatAndDispose(msg));
  }
}

TEST_F(CatalogMessageTest, AMessageWithoutCatalogUsesTheGeneralDescription) {
  tCATMSG msg(nullptr, 4, 9, "test error", tMSG::eERROR);
  EXPECT_STREQ("Message catalog error (<undefined>, set:4, msg:9)", msg.Format());
}

TEST_F(CatalogMessageTest, LogMessagesShowTheirDefaultTexts) {
  tMSG *level = kellog::NewLibraryError(kellog::eLOGGING_LEVEL);
  *level << 196u;
  EXPECT_EQ("Logging level: 0x000000C4", FormatAndDispose(level));

  tMSG *start = kellog::NewLibraryError(kellog::eLOG_START);
  *start << "Mon Jan  6 10:00:00 1997";
  EXPECT_EQ(">>>>>>>>>> Mon Jan  6 10:00:00 1997", FormatAndDispose(start));

  tMSG *enter = kellog::NewLibraryError(kellog::eTRACE_ENTER);
  // GetText gives the default text itself, placeholders and all: the log
  // keeps it as the block-trace format.
  EXPECT_STREQ("Enter:%0:%1", enter->GetText());
  tMSG::Dispose(enter);

  tMSG *own = kellog::NewLibraryError(1, "custom %0");
  *own << "text";
  EXPECT_EQ("custom text", FormatAndDispose(own));
}

TEST_F(CatalogMessageTest, LogDefaultTextsAreTheLogLines) {
  const char *const expected[] = {"Logging level: 0x%0'%08X'", "Enter:%0:%1", "Leave:%0:%1",
                                  ">>>>>>>>>> %0", "<<<<<<<<<< %0"};
  for (unsigned int i = 0; i < 5; ++i) EXPECT_STREQ(expected[i], kellog::DefaultText(i));
  EXPECT_EQ(nullptr, kellog::DefaultText(5));
}

TEST_F(CatalogMessageTest, LogMessageWithoutDefaultFallsBackToTheDescription) {
  EXPECT_EQ("Message file not opened (LOG library message catalog, set:0, msg:9)",
            FormatAndDispose(kellog::NewLibraryError(9)));
}

TEST_F(CatalogMessageTest, NlsMessagesUseTheirDefaultTextOfAnySet) {
  tMSG *msg = kelnls::NewLibraryError(12, 3, "Hello %0");
  EXPECT_STREQ("Hello %0", msg->GetText());
  *msg << "world";
  EXPECT_EQ("Hello world", FormatAndDispose(msg));

  EXPECT_EQ("Message file not opened (NLS message catalog, set:3, msg:12)",
            FormatAndDispose(kelnls::NewLibraryError(12, 3, nullptr)));
}

// --- The thread's last error.

TEST_F(CatalogMessageTest, FormattingKeepsThePendingLastError) {
  tMSG *pending = new tMSGSTR("pending %0", "test error", tMSG::eERROR);
  *pending << 1;
  tTHREAD::SetLastError(pending);

  tMSG *msg = kelos::NewLibraryError(2);
  msg->Format();
  EXPECT_EQ(pending, tTHREAD::GetLastError());
  EXPECT_STREQ("pending 1", tTHREAD::GetLastError()->Format());
  tMSG::Dispose(msg);
}

TEST_F(CatalogMessageTest, FormattingWithoutPendingErrorLeavesNone) {
  tMSG *msg = kelmsgfile::NewLibraryError(0);
  msg->Format();
  EXPECT_EQ(nullptr, tTHREAD::GetLastError());
  tMSG::Dispose(msg);
}

TEST_F(CatalogMessageTest, FormattingKeepsAStaticPendingError) {
  tTHREAD::SetLastError(&tERRMSG::OutOfMemory);
  tMSG *msg = kelrec::NewLibraryError(1);
  msg->Format();
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
  tMSG::Dispose(msg);
}

TEST_F(CatalogMessageTest, FormatTextIsComputedOnce) {
  tMSG *msg = keltxt::NewLibraryError(3);
  const char *first = msg->GetText();
  const char *second = msg->GetText();
  EXPECT_EQ(first, second);
  const char *formatted = msg->Format();
  EXPECT_EQ(formatted, msg->Format());
  tMSG::Dispose(msg);
}

TEST_F(CatalogMessageTest, FormattingWhileLoggingWritesThreadRecordsAndKeepsTheError) {
  kelcore_test::LogCapture log;
  tMSG *pending = new tMSGSTR("pending", "test error", tMSG::eERROR);
  tTHREAD::SetLastError(pending);
  log.Clear();

  tMSG *msg = kelfilesys::NewLibraryError(4);
  EXPECT_STREQ("Message file not opened (FILESYS library message catalog, set:0, msg:4)",
               msg->Format());
  EXPECT_EQ(pending, tTHREAD::GetLastError());
  // The failed lookup's own error came and went through the last-error slot.
  EXPECT_NE(std::string::npos, log.Text().find("Message file not opened (MSGFILE"));
  EXPECT_NE(std::string::npos, log.Text().find("SetLastError(\"pending\")"));
  tMSG::Dispose(msg);
}

// --- Equality.

TEST_F(CatalogMessageTest, EqualityNeedsTheSameCatalogSetAndNumber) {
  tCATMSG a(&kelos::Catalog(), 0, 5, kelos::cID_STRING, tMSG::eERROR);
  tCATMSG same(&kelos::Catalog(), 0, 5, kelos::cID_STRING, tMSG::eERROR);
  tCATMSG other_number(&kelos::Catalog(), 0, 6, kelos::cID_STRING, tMSG::eERROR);
  tCATMSG other_set(&kelos::Catalog(), 1, 5, kelos::cID_STRING, tMSG::eERROR);
  tMSGCAT copy(kelos::Catalog());
  tCATMSG other_catalog(&copy, 0, 5, kelos::cID_STRING, tMSG::eERROR);
  tMSGSTR plain("text", kelos::cID_STRING, tMSG::eERROR);

  EXPECT_TRUE(a == same);
  EXPECT_FALSE(a == other_number);
  EXPECT_FALSE(a == other_set);
  EXPECT_FALSE(a == other_catalog);
  EXPECT_FALSE(a == plain);
}

TEST_F(CatalogMessageTest, EqualityAlsoComparesParameters) {
  tMSG *a = kelos::NewLibraryError(1);
  tMSG *b = kelos::NewLibraryError(1);
  *a << 1;
  *b << 2;
  EXPECT_FALSE(*a == *b);
  tMSG::Dispose(a);
  tMSG::Dispose(b);
}

}  // namespace
