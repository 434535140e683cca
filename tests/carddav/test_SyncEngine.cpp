// The sync engine with sources made up for the case, against a real Radicale: what happens to the
// server and the ledger when the records cannot all be read, or the server refuses one card.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "carddav/CardUid.h"
#include "carddav/SyncEngine.h"
#include "tests/carddav/SyncTestUtil.h"
#include "tests/support/RadicaleServer.h"
#include "tests/support/TempDir.h"

namespace pv::carddav {
namespace {

using test::CountRequests;
using test::RadicaleServer;

std::string Card(int64_t id) {
  return "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Person " + std::to_string(id) +
         "\r\nN:" + std::to_string(id) + ";Person;;;\r\nEMAIL:p" + std::to_string(id) +
         "@example.org\r\nEND:VCARD\r\n";
}

// Gives the records first..last, with stamp; throws after `failAfter` records when >= 0.
TCardSource Records(int64_t first, int64_t last, const std::string& stamp, int failAfter = -1) {
  return [=](const TCardSink& sink) {
    int given = 0;
    for (int64_t id = first; id <= last; ++id) {
      if (given++ == failAfter) throw std::runtime_error("Datenbank weg");
      sink(id, stamp, Card(id));
    }
  };
}

class SyncEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/radicale", X_OK) != 0) GTEST_SKIP() << "radicale is not installed";
    std::filesystem::create_directories(dir_ / "server");
    server_ = std::make_unique<RadicaleServer>(dir_ / "server");
    ASSERT_TRUE(server_->Ok()) << server_->Problem();
  }

  // One run with a fresh ledger object over the same file; false when it did not end in time.
  bool Run(TCardSource source, bool& ok, QString& text, TSyncCounts& counts) {
    TSyncLedger ledger(dir_ / "ledger.txt", server_->BookUrl(), "anna", "4.0");
    ledger.Load();
    TDavClient client(RadicaleServer::User, RadicaleServer::Password);
    TCardDavSync sync(client, QUrl(QString::fromStdString(server_->BookUrl())), ledger,
                      std::move(source));
    QEventLoop loop;
    bool ended = false;
    sync.Start([&](bool k, const QString& t) {
      ok = k;
      text = t;
      ended = true;
      loop.quit();
    });
    QTimer::singleShot(240000, &loop, &QEventLoop::quit);  // generous: a shared machine
    if (!ended) loop.exec();
    counts = sync.Counts();
    return ended;
  }

  size_t LedgerSize() {
    TSyncLedger ledger(dir_ / "ledger.txt", server_->BookUrl(), "anna", "4.0");
    ledger.Load();
    return ledger.Entries().size();
  }

  test::TempDir dir_;
  std::unique_ptr<RadicaleServer> server_;
};

TEST_F(SyncEngine, ARecordSourceThatFailsRemovesNothing) {
  bool ok = false;
  QString text;
  TSyncCounts counts;
  ASSERT_TRUE(Run(Records(1, 12, "s1"), ok, text, counts));
  ASSERT_TRUE(ok) << text.toStdString();
  EXPECT_EQ(counts.Added, 12);

  server_->ClearRequests();
  ASSERT_TRUE(Run(Records(1, 12, "s2", 5), ok, text, counts));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(text.contains(u"Datenbank weg")) << text.toStdString();
  EXPECT_EQ(CountRequests(server_->Requests(), "DELETE"), 0);
  EXPECT_LE(CountRequests(server_->Requests(), "PUT"), 5);
  EXPECT_EQ(LedgerSize(), 12u);
}

TEST_F(SyncEngine, ACardTheServerRefusesIsLeftForTheNextRunAndTheRestIsSent) {
  TCardSource source = [](const TCardSink& sink) {
    sink(1, "s", Card(1));
    sink(2, "s", "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:kaputt\r\n");  // no END: not a vCard
    sink(3, "s", Card(3));
    sink(3, "t", Card(3));  // the same record number again: sent once
  };
  bool ok = true;
  QString text;
  TSyncCounts counts;
  ASSERT_TRUE(Run(source, ok, text, counts));
  EXPECT_FALSE(ok);
  EXPECT_TRUE(text.contains(u"abgelehnt")) << text.toStdString();
  EXPECT_EQ(counts.Added, 2);
  EXPECT_EQ(counts.Rejected, 1);
  EXPECT_EQ(LedgerSize(), 2u);
  EXPECT_EQ(CountRequests(server_->Requests(), "PUT"), 3);
}

TEST_F(SyncEngine, ACardRemovedOnTheServerIsCreatedAgainWhenItsRecordChanges) {
  bool ok = false;
  QString text;
  TSyncCounts counts;
  ASSERT_TRUE(Run(Records(1, 3, "s1"), ok, text, counts));
  ASSERT_TRUE(ok);
  const std::string url = server_->DirectBookUrl() + ResourceName(RecordUid(2));
  const std::string cmd = std::string("curl -sf -o /dev/null -X DELETE -u ") +
                          RadicaleServer::User + ":" + RadicaleServer::Password + " '" + url + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  server_->ClearRequests();

  // Record 3 is gone from the source and record 2 changed: the card of 3 is removed, 2 is sent
  // to a resource that no longer exists (404 or 412), found missing and created again.
  ASSERT_TRUE(Run(Records(1, 2, "s2"), ok, text, counts));
  EXPECT_TRUE(ok) << text.toStdString();
  EXPECT_EQ(counts.Changed, 2);
  EXPECT_EQ(counts.Removed, 1);
  EXPECT_EQ(LedgerSize(), 2u);
  EXPECT_EQ(test::CheckBook(server_->DirectBookUrl(), 2, "4.0"), "");
}

}  // namespace
}  // namespace pv::carddav
