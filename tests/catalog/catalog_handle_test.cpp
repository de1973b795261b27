// tMSGCAT without a message file: its texts, copies, and the error that
// every text request records.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/sync/thread.h"
#include "tests/support/alloc_failure.h"

namespace {

class CatalogHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
  void TearDown() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
};

// The catalog context and the number of the "Message file not opened" error.
void ExpectNoMessageFileError(const char *catalog_name) {
  tMSG *error = tTHREAD::GetLastError();
  ASSERT_NE(nullptr, error);
  EXPECT_EQ(static_cast<const char *>(kelmsgfile::cMSGCAT_ID_STRING), error->GetIdString());
  EXPECT_EQ(tMSG::eERROR, error->GetSeverity());
  tCATMSG *cat_msg = dynamic_cast<tCATMSG *>(error);
  ASSERT_NE(nullptr, cat_msg);
  EXPECT_EQ(&kelmsgfile::Catalog(), cat_msg->GetCatalog());
  EXPECT_EQ(0u, cat_msg->GetSetId());
  EXPECT_EQ(static_cast<unsigned int>(kelmsgfile::eNO_MESSAGE_FILE), cat_msg->GetMsgId());
  ASSERT_EQ(2u, error->NumParms());
  EXPECT_TRUE((*error)[0] == tPARM_STRING("<undefined>"));
  EXPECT_TRUE((*error)[1] == tPARM_STRING(catalog_name));
  EXPECT_STREQ("Message file not opened (MSGFILE library message catalog, set:0, msg:3)",
               error->Format());
}

TEST_F(CatalogHandleTest, KeepsCopiesOfItsTexts) {
  char name[] = "My catalog";
  char version[] = "A.01.00";
  tMSGCAT cat(name, version, "american");
  name[0] = 'X';
  version[0] = 'X';
  EXPECT_STREQ("My catalog", cat.GetId());
  EXPECT_STREQ("A.01.00", cat.GetVersion());
  EXPECT_STREQ("american", cat.GetLanguage());
}

TEST_F(CatalogHandleTest, DefaultHandleHasNoTexts) {
  tMSGCAT cat;
  EXPECT_EQ(nullptr, cat.GetId());
  EXPECT_EQ(nullptr, cat.GetVersion());
  EXPECT_STREQ("", cat.GetLanguage());
}

struct LanguageCase {
  const char *given;
  const char *kept;
};

TEST_F(CatalogHandleTest, LanguageIsCutToEightCharacters) {
  const LanguageCase cases[] = {
      {nullptr, ""},        {"", ""},          {"de", "de"},
      {"american", "american"}, {"americanenglish", "american"},
  };
  for (const LanguageCase &c : cases) {
    tMSGCAT cat("n", "v", c.given);
    EXPECT_STREQ(c.kept, cat.GetLanguage()) << (c.given ? c.given : "(null)");
  }
}

TEST_F(CatalogHandleTest, SetCatalogReplacesEveryValue) {
  tMSGCAT cat("old", "A.00.00", "german");
  EXPECT_EQ(0u, cat.SetCatalog("new", nullptr, nullptr));
  EXPECT_STREQ("new", cat.GetId());
  EXPECT_EQ(nullptr, cat.GetVersion());
  EXPECT_STREQ("", cat.GetLanguage());
  EXPECT_EQ(0u, cat.SetCatalog(nullptr, "A.02.00", "fr"));
  EXPECT_EQ(nullptr, cat.GetId());
  EXPECT_STREQ("A.02.00", cat.GetVersion());
  EXPECT_STREQ("fr", cat.GetLanguage());
}

TEST_F(CatalogHandleTest, SetCatalogWithoutMemoryChangesNothing) {
  tMSGCAT cat("old", "A.00.00", "german");
  for (std::size_t n = 1; n <= 2; ++n) {
    kelcore_test::ScopedAllocFailure fail(n);
    EXPECT_EQ(0xFFFFFFFFu, cat.SetCatalog("new", "A.02.00", "fr"));
    EXPECT_TRUE(fail.Triggered());
    EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
    EXPECT_STREQ("old", cat.GetId());
    EXPECT_STREQ("A.00.00", cat.GetVersion());
    EXPECT_STREQ("german", cat.GetLanguage());
  }
}

TEST_F(CatalogHandleTest, CopiesOwnTheirTexts) {
  tMSGCAT original("name", "A.02.00", "american");
  tMSGCAT copy(original);
  EXPECT_STREQ("name", copy.GetId());
  EXPECT_NE(original.GetId(), copy.GetId());
  EXPECT_NE(original.GetVersion(), copy.GetVersion());
  EXPECT_STREQ("american", copy.GetLanguage());

  tMSGCAT assigned("other", "A.00.00", nullptr);
  assigned = original;
  EXPECT_STREQ("name", assigned.GetId());
  EXPECT_STREQ("A.02.00", assigned.GetVersion());
  EXPECT_NE(original.GetId(), assigned.GetId());
  original.SetCatalog("changed", "A.09.00", nullptr);
  EXPECT_STREQ("name", copy.GetId());
  EXPECT_STREQ("name", assigned.GetId());

  assigned = assigned;
  EXPECT_STREQ("name", assigned.GetId());
}

TEST_F(CatalogHandleTest, AssignmentWithoutMemoryChangesNothing) {
  tMSGCAT source("name", "A.02.00", nullptr);
  tMSGCAT target("other", "A.00.00", nullptr);
  {
    kelcore_test::ScopedAllocFailure fail(1);
    target = source;
  }
  EXPECT_STREQ("other", target.GetId());
  EXPECT_EQ(&tERRMSG::OutOfMemory, tTHREAD::GetLastError());
}

TEST_F(CatalogHandleTest, EveryTextRequestReportsTheMissingMessageFile) {
  tMSGCAT cat("Test catalog", "A.00.00", nullptr);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    char *text = reinterpret_cast<char *>(&cat);  // must be cleared
    EXPECT_EQ(0xFFFFFFFFu, cat.GetMsg(1, 2, &text));
    EXPECT_EQ(nullptr, text);
    ExpectNoMessageFileError("Test catalog");
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }
}

TEST_F(CatalogHandleTest, EnumerationReportsTheMissingMessageFile) {
  tMSGCAT cat("Test catalog", "A.00.00", nullptr);
  unsigned int id = 1234;
  EXPECT_EQ(0xFFFFFFFFu, cat.GetNextSetId(0, &id));
  EXPECT_EQ(1234u, id);
  ExpectNoMessageFileError("Test catalog");
  EXPECT_EQ(0xFFFFFFFFu, cat.GetNextMsgId(0, 0, &id));
  EXPECT_EQ(1234u, id);
  ExpectNoMessageFileError("Test catalog");
}

TEST_F(CatalogHandleTest, ModuleCatalogsReportWithTheirOwnName) {
  char *text = nullptr;
  EXPECT_EQ(0xFFFFFFFFu, kelos::Catalog().GetMsg(0, 0, &text));
  ExpectNoMessageFileError("OS library message catalog");
}

TEST_F(CatalogHandleTest, RequestWithoutMemoryStillFailsCleanly) {
  tMSGCAT cat("Test catalog", "A.00.00", nullptr);
  kelcore_test::SweepAllocFailures([&cat] {
    char *text = nullptr;
    EXPECT_EQ(0xFFFFFFFFu, cat.GetMsg(0, 1, &text));
    EXPECT_EQ(nullptr, text);
    EXPECT_NE(nullptr, tTHREAD::GetLastError());
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  });
}

}  // namespace
