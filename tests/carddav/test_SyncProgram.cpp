// `vcard-parvela SYNC` as cron runs it, against a real Radicale behind a counting proxy; the
// server's content is read back with Python's own HTTP client.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "carddav/CardUid.h"
#include "tests/carddav/SyncTestUtil.h"
#include "tests/support/RadicaleServer.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv::test {
namespace {

constexpr int kRecords = 200;    // Radicale stores a card in tens of milliseconds
constexpr int kWaitMs = 240000;  // generous: the machine is shared
constexpr const char* kRightPassword = "geheim";

std::string IdList(const std::vector<int64_t>& ids, size_t from, size_t to) {
  std::string list;
  for (size_t i = from; i < to && i < ids.size(); ++i) {
    if (!list.empty()) list += ",";
    list += std::to_string(ids[i]);
  }
  return list;
}

class SyncProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/radicale", X_OK) != 0) GTEST_SKIP() << "radicale is not installed";
    std::filesystem::create_directories(dir_ / "server");
    std::filesystem::create_directories(dir_ / "tmp");
    server_ = std::make_unique<RadicaleServer>(dir_ / "server");
    ASSERT_TRUE(server_->Ok()) << server_->Problem();
    db_ = dir_ / "db";
    std::filesystem::create_directories(db_);
    MakeSampleDatabase(db_, kRecords);
  }

  ProgramOutcome Sync(std::vector<std::string> extra = {},
                      const std::string& password = kRightPassword, std::string url = "") {
    std::vector<std::string> args{"SYNC", db_, url.empty() ? server_->BookUrl() : url, "--user",
                                  RadicaleServer::User};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunSync(args, dir_ / "tmp", password);
  }

  // A first sync that must succeed; the number of cards it sent.
  int FirstSync(std::vector<std::string> extra = {}) {
    const ProgramOutcome o = Sync(std::move(extra));
    EXPECT_EQ(o.status, 0) << o.err;
    return static_cast<int>(LedgerIds(db_).size());
  }

  std::string Export() {
    const std::string file = dir_ / "export.vcf";
    ExportFile(db_, file, dir_ / "tmp");
    return file;
  }

  TempDir dir_;
  std::unique_ptr<RadicaleServer> server_;
  std::string db_;
};

TEST_F(SyncProgram, FirstSyncSendsTheFileExportsCardsAndASecondSendsNothing) {
  const int cards = FirstSync();
  ASSERT_GT(cards, kRecords / 2);
  auto log = server_->Requests();
  EXPECT_EQ(CountRequests(log, "PUT", "201"), cards);
  EXPECT_EQ(CountRequests(log, "PUT"), cards);
  EXPECT_EQ(CountRequests(log, "DELETE"), 0);
  EXPECT_EQ(CheckBook(server_->DirectBookUrl(), cards, "4.0", Export()), "");

  server_->ClearRequests();
  const ProgramOutcome again = Sync();
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("0 hinzugefügt, 0 geändert, 0 entfernt"), std::string::npos)
      << again.out;
  log = server_->Requests();
  EXPECT_EQ(CountRequests(log, "PUT"), 0);
  EXPECT_EQ(CountRequests(log, "DELETE"), 0);
}

TEST_F(SyncProgram, ChangedNewAndDeletedRecordsGiveExactlyTheirRequests) {
  const int cards = FirstSync();
  const std::vector<int64_t> ids = LedgerIds(db_);
  ASSERT_GE(ids.size(), 80u);
  ExecSql(db_, "UPDATE Adressen SET adr_47_ = '20300102 030405000' WHERE ID IN (" +
                   IdList(ids, 0, 50) + ")");
  ExecSql(db_, "DELETE FROM Adressen WHERE ID IN (" + IdList(ids, 50, 60) + ")");
  ExecSql(db_,
          "INSERT INTO Adressen (ID, NName, VName, Abt, IX, adr_42_, Ort, strasse, GR, adr_47_) "
          "SELECT ID + 100000, NName, VName, Abt, IX, adr_42_, Ort, strasse, GR, adr_47_ "
          "FROM Adressen WHERE ID IN (" +
              IdList(ids, 60, 80) + ")");
  server_->ClearRequests();

  const ProgramOutcome o = Sync();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("20 hinzugefügt, 50 geändert, 10 entfernt"), std::string::npos) << o.out;
  const auto log = server_->Requests();
  EXPECT_EQ(CountRequests(log, "PUT"), 70);
  EXPECT_EQ(CountRequests(log, "DELETE"), 10);
  EXPECT_EQ(CountRequests(log, "DELETE", "200") + CountRequests(log, "DELETE", "204"), 10);
  EXPECT_EQ(CheckBook(server_->DirectBookUrl(), cards + 10, "4.0", Export()), "");
}

TEST_F(SyncProgram, ACardChangedOnTheServerIsOverwrittenWhenItsRecordChanges) {
  FirstSync();
  const int64_t id = LedgerIds(db_).front();
  // Another client edits the card: its ETag changes.
  const std::string card = dir_ / "card.vcf";
  const std::string url = server_->DirectBookUrl() + carddav::ResourceName(carddav::RecordUid(id));
  const std::string curl =
      std::string("curl -sf -u ") + RadicaleServer::User + ":" + RadicaleServer::Password + " ";
  ASSERT_EQ(std::system((curl + "'" + url + "' -o '" + card + "'").c_str()), 0);
  std::string text = ReadFile(card);
  text.replace(text.find("FN:"), 3, "FN:Fremd ");
  WriteFile(card, text);
  ASSERT_EQ(
      std::system((curl + "-T '" + card + "' -H 'Content-Type: text/vcard' '" + url + "'").c_str()),
      0);
  ExecSql(db_,
          "UPDATE Adressen SET adr_47_ = '20300102 030405000' WHERE ID = " + std::to_string(id));
  server_->ClearRequests();

  const ProgramOutcome o = Sync();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("0 hinzugefügt, 1 geändert"), std::string::npos) << o.out;
  const auto log = server_->Requests();
  EXPECT_EQ(CountRequests(log, "PUT", "412"), 1);
  EXPECT_EQ(CountRequests(log, "PUT"), 2);
  ASSERT_EQ(std::system((curl + "'" + url + "' -o '" + card + "'").c_str()), 0);
  EXPECT_EQ(ReadFile(card).find("Fremd"), std::string::npos);
}

TEST_F(SyncProgram, KilledMidwayItResumesWithoutDuplicates) {
  const pid_t pid = StartSync({"SYNC", db_, server_->BookUrl(), "--user", RadicaleServer::User},
                              dir_ / "tmp", kRightPassword);
  ASSERT_GT(pid, 0);
  const bool midway =
      WaitUntil([&] { return CountRequests(server_->Requests(), "PUT") >= 60; }, kWaitMs);
  kill(pid, SIGKILL);
  const ProgramOutcome killed = WaitSync(pid, dir_ / "tmp");
  ASSERT_TRUE(midway);
  EXPECT_EQ(killed.status, 128 + SIGKILL);
  const int confirmed = static_cast<int>(LedgerIds(db_).size());

  const ProgramOutcome o = Sync();
  EXPECT_EQ(o.status, 0) << o.err;
  const int cards = static_cast<int>(LedgerIds(db_).size());
  EXPECT_GT(cards, confirmed);
  // Over both runs every card was created exactly once: what the killed run stored without
  // recording it was found by its name (412) and sent again over itself (Radicale answers an
  // overwrite with 201 too), never created a second time.
  const auto log = server_->Requests();
  EXPECT_EQ(CountRequests(log, "PUT", "201") - CountRequests(log, "PUT", "412"), cards);
  EXPECT_EQ(CheckBook(server_->DirectBookUrl(), cards, "4.0", Export()), "");
}

TEST_F(SyncProgram, WrongPasswordFailsBeforeSendingAnything) {
  const ProgramOutcome o = Sync({}, "falsch");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("HTTP 401"), std::string::npos) << o.err;
  EXPECT_TRUE(LedgerIds(db_).empty());
  EXPECT_EQ(CountRequests(server_->Requests(), "PUT"), 0);

  const ProgramOutcome none = Sync({}, "");  // no password anywhere: says where to put one
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("PV_CARDDAV_PASSWORD"), std::string::npos) << none.err;
}

// A failing server half-way: exit 1 with the reason, the ledger holds exactly what the server
// confirmed, and the next run completes the book.
struct HalfWayFailure {
  const char* name;
  const char* rule;
  const char* message;
};

class SyncHalfWay : public SyncProgram, public ::testing::WithParamInterface<HalfWayFailure> {};

TEST_P(SyncHalfWay, ExitsWithTheReasonAndTheNextRunCompletes) {
  server_->SetRule(GetParam().rule);
  ASSERT_TRUE(server_->RestartProxy());
  const ProgramOutcome failed = Sync();
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find(GetParam().message), std::string::npos) << failed.err;
  const auto log = server_->Requests();
  const size_t confirmed = LedgerIds(db_).size();
  EXPECT_EQ(confirmed, static_cast<size_t>(CountRequests(log, "PUT", "201")));
  EXPECT_GE(confirmed, 30u);

  server_->SetRule("");
  server_->ClearRequests();
  const ProgramOutcome o = Sync();
  EXPECT_EQ(o.status, 0) << o.err;
  const int cards = static_cast<int>(LedgerIds(db_).size());
  EXPECT_EQ(static_cast<size_t>(CountRequests(server_->Requests(), "PUT", "201")),
            cards - confirmed);
  EXPECT_EQ(CheckBook(server_->DirectBookUrl(), cards, "4.0", Export()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SyncHalfWay,
    ::testing::Values(
        HalfWayFailure{"QuotaFull", R"({"method": "PUT", "after": 30, "action": "507"})",
                       "Speicherplatz"},
        HalfWayFailure{"ConnectionDropped", R"({"method": "PUT", "after": 30, "action": "drop"})",
                       "Verbindung"},
        HalfWayFailure{"ServerError", R"({"method": "PUT", "after": 30, "action": "503"})",
                       "HTTP 503"}),
    [](const ::testing::TestParamInfo<HalfWayFailure>& row) {
      return std::string(row.param.name);
    });

TEST_F(SyncProgram, ServerStoppedHalfWayThenBackAgain) {
  const pid_t pid = StartSync({"SYNC", db_, server_->BookUrl(), "--user", RadicaleServer::User},
                              dir_ / "tmp", kRightPassword);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(WaitUntil([&] { return CountRequests(server_->Requests(), "PUT") >= 30; }, kWaitMs));
  server_->StopRadicale();
  const ProgramOutcome failed = WaitSync(pid, dir_ / "tmp");
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("Verbindung"), std::string::npos) << failed.err;

  ASSERT_TRUE(server_->RestartRadicale());
  const ProgramOutcome o = Sync();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(
      CheckBook(server_->DirectBookUrl(), static_cast<int>(LedgerIds(db_).size()), "4.0", Export()),
      "");
}

TEST_F(SyncProgram, Version30CardsAndASwitchTo40SendsEveryCardAgain) {
  const int cards = FirstSync({"--vcard=3.0"});
  EXPECT_EQ(CheckBook(server_->DirectBookUrl(), cards, "3.0"), "");
  server_->ClearRequests();
  const ProgramOutcome o = Sync({"--vcard=4.0"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(CountRequests(server_->Requests(), "PUT"), cards);
  EXPECT_EQ(CheckBook(server_->DirectBookUrl(), cards, "4.0", Export()), "");
}

TEST_F(SyncProgram, FindsTheAddressBookFromTheServersAddress) {
  const ProgramOutcome named =
      Sync({"--addressbook", "Kontakte"}, kRightPassword, server_->ServerUrl());
  EXPECT_EQ(named.status, 0) << named.err;
  const ProgramOutcome missing =
      Sync({"--addressbook", "Privat"}, kRightPassword, server_->ServerUrl());
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("\"Privat\""), std::string::npos) << missing.err;
  // An address that names no address book is refused, not replaced by the user's first one.
  const ProgramOutcome wrong = Sync({}, kRightPassword, server_->ServerUrl() + "anna/nix/");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("kein Adressbuch"), std::string::npos) << wrong.err;
  // The same book by either address: one ledger, nothing sent twice.
  server_->ClearRequests();
  const ProgramOutcome direct = Sync();
  EXPECT_EQ(direct.status, 0) << direct.err;
  EXPECT_EQ(CountRequests(server_->Requests(), "PUT"), 0);
}

TEST(SyncCommand, RefusesUnsafeAddressesAndWrongCalls) {
  TempDir dir;
  std::filesystem::create_directories(dir / "db");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } rows[] = {
      {{"SYNC", dir / "db", "http://dav.example.org/"}, 1, "https"},
      {{"SYNC", dir / "db", "https://anna:pw@dav.example.org/"}, 1, "Passwort"},
      {{"SYNC", dir / "db", "kein-url"}, 1, "keine gültige Adresse"},
      {{"SYNC", dir / "fehlt", "https://dav.example.org/"}, 1, "Datenbankordner"},
      {{"SYNC"}, 2, "Aufruf"},
      {{"SYNC", dir / "db", "https://h/", "--vcard=2.1"}, 2, "3.0 oder 4.0"},
      {{"SYNC", "--store-password", "https://h/"}, 2, "--user"},
      // Standard input is empty here, and there is no keyring without a D-Bus session.
      {{"SYNC", "--store-password", "https://h/", "--user", "anna"}, 1, "Standardeingabe"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args.back());
    const ProgramOutcome o = RunSync(row.args, dir.path(), "x");
    EXPECT_EQ(o.status, row.status);
    EXPECT_NE(o.err.find(row.message), std::string::npos) << o.err;
  }
}

TEST(SyncCommand, ACertificateTheSystemDoesNotTrustIsRefused) {
  if (access("/usr/bin/openssl", X_OK) != 0) GTEST_SKIP() << "openssl is not installed";
  TempDir dir;
  MakeSampleDatabase(dir / "db", 5);
  const std::string cert = dir / "cert.pem", key = dir / "key.pem";
  const std::string make =
      "/usr/bin/openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "
      "/CN=127.0.0.1 -keyout '" +
      key + "' -out '" + cert + "' > /dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const int port = FreeLoopbackPort();
  // The server stops by itself after a minute; its process id lets the test end it earlier.
  const std::string serve = "/usr/bin/python3 " PV_SOURCE_DIR "/tests/carddav/tls_server.py " +
                            std::to_string(port) + " '" + cert + "' '" + key +
                            "' > /dev/null 2>&1 & echo $! > '" + (dir / "pid") + "'";
  ASSERT_EQ(std::system(serve.c_str()), 0);
  const pid_t server = std::stoi(ReadFile(dir / "pid"));
  const bool up = WaitForPort(port, 60000);
  const ProgramOutcome o =
      RunSync({"SYNC", dir / "db", "https://127.0.0.1:" + std::to_string(port) + "/anna/kontakte/",
               "--user", "anna"},
              dir.path(), "geheim");
  kill(server, SIGTERM);
  ASSERT_TRUE(up);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Zertifikat"), std::string::npos) << o.err;
  EXPECT_TRUE(LedgerIds(dir / "db").empty());
}

}  // namespace
}  // namespace pv::test
