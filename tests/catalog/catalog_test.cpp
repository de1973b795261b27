// Catalog handles and catalog messages: without a message file (the error
// every request records, built-in, default and fallback texts, the thread's
// last error, the module factories) and with one (catalog texts, the failed
// lookup's own cause, no lookup inside another).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/error/os_error.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"
#include "tests/support/log_capture.h"
#include "tests/support/message_file.h"
#include "tests/support/temp_dir.h"

#define CATALOG(module) module " library message catalog"
#define MSGFILE_CATALOG CATALOG("MSGFILE")

namespace {

using kelcore_test::ScopedAllocFailure;

void ClearLastError() { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearLastError();
  }
  void TearDown() override { ClearLastError(); }
};

std::string FormatAndDispose(tMSG *msg) {
  std::string text = msg->Format();
  tMSG::Dispose(msg);
  return text;
}

TEST_F(CatalogTest, HandlesOwnTheirTexts) {
  char name[] = "name";
  tMSGCAT original(name, "A.02.00", "american"), copy(original), assigned("x", nullptr, nullptr);
  name[0] = 'X';
  assigned = original;
  const tMSGCAT &self = assigned;
  assigned = self;
  EXPECT_EQ(0u, original.SetCatalog("changed", nullptr, nullptr));
  EXPECT_EQ(nullptr, original.GetVersion());
  for (const tMSGCAT *c : {&copy, &assigned}) {
    EXPECT_STREQ("name", c->GetId());
    EXPECT_STREQ("A.02.00", c->GetVersion());
    EXPECT_STREQ("american", c->GetLanguage());
  }
  const char *const languages[][2] = {
      {nullptr, ""}, {"", ""}, {"de", "de"}, {"american", "american"}, {"american9", "american"}};
  for (const auto &l : languages) EXPECT_STREQ(l[1], tMSGCAT("n", "v", l[0]).GetLanguage());
  // Without memory for either copy (name, version), SetCatalog and
  // assignment change nothing.
  for (std::size_t n = 1; n <= 4; ++n) {
    ClearLastError();
    {
      ScopedAllocFailure fail(n % 2 + 1);
      if (n <= 2)
        EXPECT_EQ(0xFFFFFFFFu, original.SetCatalog("new", "A.00.00", "fr"));
      else
        original = copy;
    }
    EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError()) << n;
    EXPECT_STREQ("changed", original.GetId());
    EXPECT_EQ(nullptr, original.GetVersion());
  }
}

TEST_F(CatalogTest, EveryRequestFailsAgainWithoutAMessageFile) {
  tMSGCAT cat("Test catalog", "A.00.00", nullptr);
  char *text = reinterpret_cast<char *>(&cat);  // must be cleared
  unsigned int id = 1234;
  const std::function<unsigned int()> requests[] = {[&] { return cat.GetMsg(1, 2, &text); },
                                                    [&] { return cat.GetNextSetId(0, &id); },
                                                    [&] { return cat.GetNextMsgId(0, 0, &id); }};
  for (int attempt = 0; attempt < 6; ++attempt) {  // every request twice
    EXPECT_EQ(0xFFFFFFFFu, requests[attempt % 3]());
    tMSG *error = tTHREAD::GetLastError();
    ASSERT_NE(nullptr, error);
    EXPECT_EQ(static_cast<const char *>(kelmsgfile::cMSGCAT_ID_STRING), error->GetIdString());
    EXPECT_STREQ("Message file not opened (" MSGFILE_CATALOG ", set:0, msg:3)", error->Format());
    ASSERT_EQ(2u, error->NumParms());
    EXPECT_TRUE((*error)[0] == tPARM_STRING("<undefined>"));
    EXPECT_TRUE((*error)[1] == tPARM_STRING("Test catalog"));
    ClearLastError();
  }
  EXPECT_EQ(nullptr, text);
  EXPECT_EQ(1234u, id);
  kelcore_test::SweepAllocFailures([&] {
    EXPECT_EQ(0xFFFFFFFFu, cat.GetMsg(0, 1, &text));
    EXPECT_NE(nullptr, tTHREAD::GetLastError());
    ClearLastError();
  });
}

TEST_F(CatalogTest, MsgfileMessagesShowTheirBuiltInTexts) {
  const struct {
    unsigned int set, msg;
    const char *expected;
  } cases[] = {
      {0, 0, "Message catalog\"" MSGFILE_CATALOG "\" is corrupt(set:0, msg:0)"},
      {0, 1, "Message set 0not found (" MSGFILE_CATALOG ", msg:1)"},
      {0, 2, "Message number 2 not found (" MSGFILE_CATALOG ", set:0)"},
      {0, 3, "Message file not opened (" MSGFILE_CATALOG ", set:0, msg:3)"},
      {0, 4, "Message catalog error (" MSGFILE_CATALOG ", set:0, msg:4)"},
      {0, 5, "Message catalog error (" MSGFILE_CATALOG ", set:0, msg:5)"},
      {0, 4000000000u, "Message catalog error (" MSGFILE_CATALOG ", set:0, msg:4000000000)"},
      {1, 0, "Message catalog \"" MSGFILE_CATALOG "\" not found (set:1, msg:0)"},
      {1, 1, "Message file error (" MSGFILE_CATALOG ", set:1, msg:1)"},
  };
  for (const auto &c : cases) {
    tMSG *msg = c.set ? kelmsgfile::NewLibraryError1(c.msg) : kelmsgfile::NewLibraryError(c.msg);
    *msg << "own" << 42;  // a built-in text shows none of them
    EXPECT_EQ(c.expected, FormatAndDispose(msg));
  }
  EXPECT_EQ(nullptr, kelmsgfile::BuiltInText(2, 0));
  // The id string object makes a MSGFILE message, not its characters.
  static const char kLookAlike[] = "MSGCAT library error";
  tCATMSG look_alike(&kelmsgfile::Catalog(), 0, 0, kLookAlike, tMSG::eERROR);
  EXPECT_STREQ("Message file not opened (" MSGFILE_CATALOG ", set:0, msg:0)", look_alike.Format());
  tCATMSG without_catalog(nullptr, 4, 9, "test error", tMSG::eERROR);
  EXPECT_STREQ("Message catalog error (<undefined>, set:4, msg:9)", without_catalog.Format());
  // A '%' in the catalog's name shows as it is, never the message's own parameters. Short of memory
  // the text is "Out of memory" and the next request tries again: no "(null)" or "NULL" is kept.
  tMSGCAT percent("Rates 100%-%0%", "A.00.00", nullptr);
  const auto format_twice = [&percent] {
    tCATMSG msg(&percent, 4, 9, "test error", tMSG::eERROR);
    msg << "own" << 42;
    const std::string first = msg.Format(), second = msg.Format();
    // The lookup's cause names the text, unless there was no memory to record it.
    EXPECT_TRUE(second == "Message file not opened (Rates 100%-%0%, set:4, msg:9)" ||
                second == "Message catalog error (Rates 100%-%0%, set:4, msg:9)") << second;
    EXPECT_TRUE(first == second || first == "Out of memory") << first;
  };
  EXPECT_GT(kelcore_test::SweepAllocFailures(format_twice), 10u);
}

tMSG *MsgfileSet1(unsigned int msgId) { return kelmsgfile::NewLibraryError1(msgId); }
tMSG *LogMessage(unsigned int msgId) { return kellog::NewLibraryError(msgId); }
tMSG *CStreamErrno(unsigned int msgId) { return kelcstream::NewLibraryError(msgId, 2); }
tMSG *NlsSet5(unsigned int msgId) { return kelnls::NewLibraryError(msgId, 5, nullptr); }

struct ModuleCase {
  const char *catalog, *version, *id_string;
  tMSG *(*factory)(unsigned int);
  unsigned int set;
  const char *text;  // of message 11; null: the missing message file's description
};

const ModuleCase kModules[] = {
    {CATALOG("APP"), "A.01.00", "APP library error", kelapp::NewLibraryError, 0, nullptr},
    {CATALOG("CStream"), "A.00.00", "CStream library error", kelcstream::NewLibraryError, 0,
     nullptr},
    {CATALOG("CStream"), "A.00.00", "CStream library error", CStreamErrno, 0, nullptr},
    {CATALOG("FILESYS"), "A.02.00", "FILESYS library error", kelfilesys::NewLibraryError, 0,
     nullptr},
    {CATALOG("LOG"), "A.02.00", "LOG library messages", LogMessage, 0, nullptr},
    {MSGFILE_CATALOG, "A.01.00", "MSGCAT library error", kelmsgfile::NewLibraryError, 0,
     "Message catalog error (" MSGFILE_CATALOG ", set:0, msg:11)"},
    {MSGFILE_CATALOG, "A.01.00", "MSGFILE library error", MsgfileSet1, 1,
     "Message file error (" MSGFILE_CATALOG ", set:1, msg:11)"},
    {CATALOG("OS"), "A.02.00", "OS library error", kelos::NewLibraryError, 0, nullptr},
    {CATALOG("REC"), "A.00.00", "REC library error", kelrec::NewLibraryError, 0, nullptr},
    {CATALOG("TXT"), "A.00.00", "TXT library error", keltxt::NewLibraryError, 0, nullptr},
    {"NLS message catalog", "A.00.00", "NLS message", NlsSet5, 5, nullptr},
};

TEST_F(CatalogTest, FactoriesBuildMessagesOfTheirModuleOrTheOutOfMemoryMessage) {
  for (const ModuleCase &c : kModules) {
    SCOPED_TRACE(c.id_string);
    tCATMSG *msg = dynamic_cast<tCATMSG *>(c.factory(11));
    ASSERT_NE(nullptr, msg);
    EXPECT_STREQ(c.version, msg->GetCatalog()->GetVersion());
    EXPECT_STREQ(c.id_string, msg->GetIdString());
    EXPECT_EQ(c.factory == LogMessage ? tMSG::eINFORMATION : tMSG::eERROR, msg->GetSeverity());
    EXPECT_EQ(c.set, msg->GetSetId());
    EXPECT_EQ(11u, msg->GetMsgId());
    *msg << "own";
    EXPECT_EQ(c.text ? c.text
                     : "Message file not opened (" + std::string(c.catalog) +
                           ", set:" + std::to_string(c.set) + ", msg:11)",
              FormatAndDispose(msg));
    {
      ScopedAllocFailure fail(1);
      EXPECT_EQ(&tERRMSG::OutOfMemory, c.factory(11));
      EXPECT_TRUE(fail.Triggered());
    }
    EXPECT_EQ(0u, tERRMSG::OutOfMemory.NumParms());
    kelcore_test::SweepAllocFailures([&c] {
      tMSG *msg = c.factory(3);
      EXPECT_NE(nullptr, (*msg << "own").Format());
      tMSG::Dispose(msg);
    });
  }
  tMSG *msg = kelcstream::NewLibraryError(6, 13);  // the errno variant: the value is %0
  EXPECT_TRUE(msg->NumParms() == 1 && (*msg)[0] == tPARM_ERRNO(13));
  tMSG::Dispose(msg);
}

TEST_F(CatalogTest, DefaultTextsComeBeforeTheDescription) {
  const char *const log_texts[] = {"Logging level: 0x%0'%08X'", "Enter:%0:%1", "Leave:%0:%1",
                                   ">>>>>>>>>> %0", "<<<<<<<<<< %0"};
  for (unsigned int i = 0; i < 5; ++i) {
    tMSG *msg = kellog::NewLibraryError(i);
    EXPECT_STREQ(log_texts[i], msg->GetText());  // as it is: the block trace's format
    tMSG::Dispose(msg);
  }
  EXPECT_EQ("Logging level: 0x000000C4", FormatAndDispose(&(*kellog::NewLibraryError(0) << 196u)));
  EXPECT_EQ("Hello world",
            FormatAndDispose(&(*kelnls::NewLibraryError(1, 3, "Hello %0") << "world")));
}

// A message's own lookup that fails only picks the fallback text: it leaves
// neither a last error nor a record of one, with no message file or with
// one that lacks the text.
TEST_F(CatalogTest, FormattingLeavesTheLastErrorAsItWasAndRecordsNothing) {
  kelcore_test::TempDir tmp;
  for (int with_file = 0; with_file < 2; ++with_file) {
    std::unique_ptr<kelcore_test::RegisteredMessageFile> file;
    if (with_file) {
      file.reset(new kelcore_test::RegisteredMessageFile(
          tmp.File("t.cat"), {"$catalog " CATALOG("TXT") "\n$set 0\n1 one\n"}));
    }
    tMSG *const pendings[] = {nullptr, &tERRMSG::OutOfMemory,
                              new tMSGSTR("pending", "test error", tMSG::eERROR)};
    for (tMSG *pending : pendings) {
      tTHREAD::SetLastError(pending);
      kelcore_test::LogCapture log(0xFFFFFFFFu, "thread");
      EXPECT_NE("", FormatAndDispose(keltxt::NewLibraryError(3)));
      EXPECT_EQ(pending, tTHREAD::GetLastError());
      EXPECT_EQ("", log.Text()) << with_file;
    }
    ClearLastError();
  }
}

TEST_F(CatalogTest, EqualityNeedsTheSameCatalogSetNumberAndParameters) {
  tMSGCAT copy(kelos::Catalog());
  tCATMSG a(&kelos::Catalog(), 0, 5, kelos::cID_STRING, tMSG::eERROR),
      b(&kelos::Catalog(), 0, 5, kelos::cID_STRING, tMSG::eERROR);
  tCATMSG others[] = {{&kelos::Catalog(), 0, 6, kelos::cID_STRING, tMSG::eERROR},
                      {&kelos::Catalog(), 1, 5, kelos::cID_STRING, tMSG::eERROR},
                      {&copy, 0, 5, kelos::cID_STRING, tMSG::eERROR}};
  EXPECT_TRUE(a == b);
  for (const tCATMSG &other : others) EXPECT_FALSE(a == other);
  EXPECT_FALSE(a == tMSGSTR("text", kelos::cID_STRING, tMSG::eERROR));
  a << 1;
  b << 2;
  EXPECT_FALSE(a == b);
}

TEST_F(CatalogTest, ThroughAMessageFile) {
  kelcore_test::TempDir tmp;
  std::string bytes = kelcore_test::CompileCatalogs(
      {"$catalog " CATALOG("LOG") "\n$version A.02.00\n$set 0\n1 Stored %0\n",
       "$catalog " CATALOG("OS") "\n$version A.02.00\n$set 0\n0 zero\n",
       "$catalog " CATALOG("APP") "\n$version A.01.00\n$set 0\n1 one\n"});
  // The APP catalog's header says its texts are 3 bytes wide: corrupt.
  const std::size_t app = bytes.rfind(CATALOG("APP"));
  bytes[app + sizeof(CATALOG("APP")) - 1 + 3 + 32 + 8 + 12] = 3;
  ASSERT_TRUE(kelcore_test::WriteWholeFile(tmp.File("m.cat"), bytes));
  kelcore_test::RegisteredMessageFile file(tmp.File("m.cat"));
  const struct {
    tMSG *(*factory)(unsigned int);
    const char *expected;
  } cases[] = {
      // The catalog's text, as stored, wins over a default text.
      {LogMessage, "Stored own"},
      // The lookup's own error, not the pending one, chooses the description.
      {kelos::NewLibraryError, "Message number 1 not found (" CATALOG("OS") ", set:0)"},
      {kelapp::NewLibraryError, "Message catalog\"" CATALOG("APP") "\" is corrupt(set:0, msg:1)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.expected);
    kelcore_test::LogCapture log;  // formats every error as it is set, even inside the lookup
    tMSG *pending = kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_VERSION);
    tTHREAD::SetLastError(pending);
    tMSG *msg = c.factory(1);
    EXPECT_STREQ(c.expected, (*msg << "own").Format());
    EXPECT_EQ(pending, tTHREAD::GetLastError());
    tMSG::Dispose(msg);
  }
}

}  // namespace
