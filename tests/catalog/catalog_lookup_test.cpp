// The seam to message files, with a stand-in lookup: catalog texts are used
// as stored, a failed lookup's own error chooses the description, the
// pending error survives, and a lookup never starts inside another.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kelcore/catalog/catalog.h"
#include "kelcore/catalog/catalog_lookup.h"
#include "kelcore/catalog/module_catalogs.h"
#include "kelcore/sync/thread.h"
#include "tests/support/log_capture.h"

namespace {

class FakeLookup : public tMSGCAT_LOOKUP {
 public:
  enum Mode { kText, kMissingNumber, kSilentFailure, kNestedFormat };

  explicit FakeLookup(Mode mode) : mode_(mode), requests_(0) {}

  unsigned int GetMsg(tMSGCAT &cat, unsigned int setId, unsigned int msgId,
                      char **text) override {
    ++requests_;
    State(cat).file = reinterpret_cast<tMSGFILE *>(this);  // bound from now on
    switch (mode_) {
      case kText: {
        std::string stored = "Stored %0 text " + std::to_string(setId) + "/" +
                             std::to_string(msgId);
        *text = new char[stored.size() + 1];
        std::memcpy(*text, stored.c_str(), stored.size() + 1);
        return 0;
      }
      case kMissingNumber: {
        tMSG *msg = kelmsgfile::NewLibraryError(kelmsgfile::eMSG_NOT_FOUND);
        AddErrorContext(cat, msg) << setId << msgId;
        tTHREAD::SetLastError(msg);
        return 0xFFFFFFFFu;
      }
      case kSilentFailure:
        return 1;
      case kNestedFormat: {
        // An error recorded by the lookup is formatted (as the log would)
        // while the lookup is still running.
        tMSG *inner = kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_CORRUPT);
        nested_text_ = inner->Format();
        tTHREAD::SetLastError(inner);
        return 0xFFFFFFFFu;
      }
    }
    return 0xFFFFFFFFu;
  }
  unsigned int GetNextSetId(tMSGCAT &, unsigned int setId, unsigned int *next) override {
    *next = setId + 1;
    return 0;
  }
  unsigned int GetNextMsgId(tMSGCAT &, unsigned int, unsigned int msgId,
                            unsigned int *next) override {
    *next = msgId + 2;
    return 0;
  }
  void AddFileName(const tMSGCAT &, tMSG &msg) override { msg << "message.cat"; }

  int requests() const { return requests_; }
  const std::string &nested_text() const { return nested_text_; }

 private:
  Mode mode_;
  int requests_;
  std::string nested_text_;
};

// Installs a fake lookup for one test and restores the previous one.
// Catalogs that a fake bound keep pointing at it; with no lookup installed
// that pointer is never used.
class CatalogLookupTest : public ::testing::Test {
 protected:
  void SetUp() override { tTHREAD::SetLastError(static_cast<tMSG *>(nullptr)); }
  void TearDown() override {
    tMSGCAT_LOOKUP::Install(previous_);
    tTHREAD::SetLastError(static_cast<tMSG *>(nullptr));
  }
  void Use(FakeLookup *fake) { previous_ = tMSGCAT_LOOKUP::Install(fake); }

  tMSGCAT_LOOKUP *previous_ = nullptr;
};

TEST_F(CatalogLookupTest, NothingIsInstalledWithoutMessageFiles) {
  EXPECT_EQ(nullptr, tMSGCAT_LOOKUP::Installed());
}

TEST_F(CatalogLookupTest, CatalogTextIsTheFormatAsStored) {
  FakeLookup fake(FakeLookup::kText);
  Use(&fake);
  tMSGCAT cat("Test catalog", "A.00.00", nullptr);
  tCATMSG msg(&cat, 2, 9, "test error", tMSG::eERROR);
  msg << "own";
  EXPECT_STREQ("Stored %0 text 2/9", msg.GetText());
  EXPECT_STREQ("Stored own text 2/9", msg.Format());
  EXPECT_EQ(1, fake.requests());
  EXPECT_STREQ("Stored %0 text 2/9", msg.GetText());
  EXPECT_EQ(1, fake.requests());
}

TEST_F(CatalogLookupTest, CatalogTextWinsOverTheDefaultText) {
  FakeLookup fake(FakeLookup::kText);
  Use(&fake);
  tMSG *msg = kellog::NewLibraryError(kellog::eTRACE_ENTER);
  EXPECT_STREQ("Stored %0 text 0/1", msg->GetText());
  tMSG::Dispose(msg);
}

TEST_F(CatalogLookupTest, DescriptionNamesTheLookupsOwnFailure) {
  FakeLookup fake(FakeLookup::kMissingNumber);
  Use(&fake);
  tMSG *pending = new tMSGSTR("pending", "test error", tMSG::eERROR);
  tTHREAD::SetLastError(pending);
  tMSG *msg = kelos::NewLibraryError(7);
  EXPECT_STREQ("Message number 7 not found (OS library message catalog, set:0)", msg->Format());
  EXPECT_EQ(pending, tTHREAD::GetLastError());
  tMSG::Dispose(msg);
}

TEST_F(CatalogLookupTest, APendingMsgfileErrorDoesNotChooseTheDescription) {
  FakeLookup fake(FakeLookup::kSilentFailure);
  Use(&fake);
  // A "catalog corrupt" error is pending, but this message's lookup failed
  // for a reason it did not record: the general description applies.
  tTHREAD::SetLastError(kelmsgfile::NewLibraryError(kelmsgfile::eCATALOG_CORRUPT));
  tMSG *pending = tTHREAD::GetLastError();
  tMSG *msg = kelrec::NewLibraryError(4);
  EXPECT_STREQ("Message catalog error (REC library message catalog, set:0, msg:4)",
               msg->Format());
  EXPECT_EQ(pending, tTHREAD::GetLastError());
  tMSG::Dispose(msg);
}

TEST_F(CatalogLookupTest, BoundCatalogsNameTheirMessageFileInErrors) {
  FakeLookup fake(FakeLookup::kMissingNumber);
  Use(&fake);
  tMSGCAT cat("Test catalog", "A.00.00", nullptr);
  char *text = nullptr;
  EXPECT_EQ(0xFFFFFFFFu, cat.GetMsg(3, 4, &text));
  tMSG *error = tTHREAD::GetLastError();
  ASSERT_NE(nullptr, error);
  ASSERT_EQ(4u, error->NumParms());
  EXPECT_TRUE((*error)[0] == tPARM_STRING("message.cat"));
  EXPECT_TRUE((*error)[1] == tPARM_STRING("Test catalog"));
  EXPECT_TRUE((*error)[2] == tPARM_UINT(3));
  EXPECT_TRUE((*error)[3] == tPARM_UINT(4));
}

TEST_F(CatalogLookupTest, EnumerationGoesThroughTheLookup) {
  FakeLookup fake(FakeLookup::kText);
  Use(&fake);
  tMSGCAT cat("Test catalog", "A.00.00", nullptr);
  unsigned int id = 0;
  EXPECT_EQ(0u, cat.GetNextSetId(4, &id));
  EXPECT_EQ(5u, id);
  EXPECT_EQ(0u, cat.GetNextMsgId(4, 10, &id));
  EXPECT_EQ(12u, id);
}

TEST_F(CatalogLookupTest, ALookupNeverStartsInsideAnother) {
  FakeLookup fake(FakeLookup::kNestedFormat);
  Use(&fake);
  tMSG *msg = kelapp::NewLibraryError(1);
  // The outer message names the cause its lookup recorded.
  EXPECT_STREQ("Message catalog\"APP library message catalog\" is corrupt(set:0, msg:1)",
               msg->Format());
  // Only the outer message asked; the inner one went to its built-in text.
  EXPECT_EQ(1, fake.requests());
  EXPECT_EQ("Message catalog\"MSGFILE library message catalog\" is corrupt(set:0, msg:0)",
            fake.nested_text());
  tMSG::Dispose(msg);
}

TEST_F(CatalogLookupTest, LoggingTheLookupsErrorDoesNotRecurse) {
  FakeLookup fake(FakeLookup::kMissingNumber);
  Use(&fake);
  kelcore_test::LogCapture log;
  tMSG *msg = keltxt::NewLibraryError(2);
  EXPECT_STREQ("Message number 2 not found (TXT library message catalog, set:0)", msg->Format());
  EXPECT_EQ(1, fake.requests());
  EXPECT_EQ(nullptr, tTHREAD::GetLastError());
  tMSG::Dispose(msg);
}

}  // namespace
