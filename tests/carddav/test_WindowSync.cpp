// "Jetzt ins Online-Adressbuch senden" in the window: the sync as a job of the worker pool, in
// the vCard version of the file export, one at a time, and a window closed in the middle of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTcpServer>
#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/MainWindow.h"
#include "app/PXDlg.h"
#include "carddav/SyncJob.h"
#include "files/ScopedOverride.h"
#include "settings/UserMode.h"
#include "tests/carddav/SyncTestUtil.h"
#include "tests/support/RadicaleServer.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"
#include "widgets/CircularProgress.h"

namespace pv {
namespace {

using test::RadicaleServer;
using test::TempDir;

constexpr int kWaitMs = 240000;  // generous: the machine is shared

// Keeps what a job posts, as the hidden window would (read after the job's thread has ended).
class TCellCatcher : public TMessageTarget {
 public:
  bool Post(unsigned msg, std::uintptr_t wParam, std::intptr_t) override {
    messages.push_back(msg);
    cells.emplace_back(reinterpret_cast<TResultCell*>(wParam));
    return true;
  }
  std::vector<unsigned> messages;
  std::vector<std::unique_ptr<TResultCell>> cells;
};

TEST(SyncJob, EndsWithOneResultCellWhateverHappens) {
  QTcpServer silent;  // takes connections (the system does) and never answers
  ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
  const std::string silentUrl =
      "http://127.0.0.1:" + std::to_string(silent.serverPort()) + "/book/";
  const struct {
    const char* name;
    std::string url;
    bool stopped;  // the window asked the job to stop before it started
    const char* says;
  } rows[] = {
      {"no address", "ftp://dav.example.org/", false, "keine g\xFCltige Adresse"},
      {"plain http elsewhere", "http://dav.example.org/", false, "Unverschl\xFCsselte"},
      {"stopped while the server is silent", silentUrl, true, "abgebrochen"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TCellCatcher catcher;
    auto stop = std::make_shared<std::atomic<bool>>(row.stopped);
    carddav::TSyncSettings s;
    s.Url = QString::fromStdString(row.url);
    s.User = "anna";
    s.Password = "geheim";
    bool read = false;
    carddav::TCardDavJob job(&catcher, s, stop,
                             [&read](const carddav::TCardSink&) { read = true; });
    std::thread worker([&job] { job.Execute(); });  // as a worker of the pool runs it
    worker.join();
    ASSERT_EQ(catcher.messages, std::vector<unsigned>{WM_SYNCDONE});
    ASSERT_TRUE(catcher.cells[0]);
    EXPECT_FALSE(catcher.cells[0]->Ok);
    EXPECT_NE(catcher.cells[0]->Text.find(row.says), std::string::npos) << catcher.cells[0]->Text;
    EXPECT_FALSE(read);  // no address book found: the records are never read
  }
}

class WindowSync : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/usr/bin/radicale", X_OK) != 0) GTEST_SKIP() << "radicale is not installed";
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("TMPDIR", QByteArray::fromStdString(dir_.path()));
    std::filesystem::create_directories(dir_ / "server");
    server_ = std::make_unique<RadicaleServer>(dir_ / "server");
    ASSERT_TRUE(server_->Ok()) << server_->Problem();
    std::filesystem::create_directories(db_);
    test::MakeSampleDatabase(db_, 120);
    messageHook_.emplace(SetHTMLMessageHook,
                         [this](const std::string& text, const std::string&, const std::string&) {
                           messages_.push_back(text);
                           return TModalResult::mrOk;
                         });
  }

  void TearDown() override {
    window_.reset();
    messageHook_.reset();
    qunsetenv("TMPDIR");
    SetSettingsFolder("");
  }

  TMainWindow& Open() {
    window_ = std::make_unique<TMainWindow>([this](const std::string&) { return db_; });
    return *window_;
  }

  // The address book the dialog would have saved; counts how often it is asked.
  TSyncSettingsRequest Settings() {
    return [this](carddav::TSyncSettings& s) {
      ++asked_;
      s.Url = QString::fromStdString(server_->BookUrl());
      s.User = RadicaleServer::User;
      s.Password = RadicaleServer::Password;
      return true;
    };
  }

  bool WaitForMessage() {
    return test::WaitUntil(
        [this] {
          QApplication::processEvents();
          return !messages_.empty();
        },
        kWaitMs);
  }

  TempDir dir_;
  const std::string db_ = dir_ / "db";
  std::unique_ptr<RadicaleServer> server_;
  std::unique_ptr<TMainWindow> window_;
  std::optional<TScopedOverride<THTMLMessageHook>> messageHook_;
  std::vector<std::string> messages_;
  int asked_ = 0;
};

TEST_F(WindowSync, SendsInTheExportsVersionOneRunAtATimeAndKeepsTheWindowOpen) {
  const struct {
    const char* name;
    int filter;  // the save dialog's remembered file type; 0: none remembered
    const char* version;
    const char* counted;  // how the summary counts the cards
  } rows[] = {
      {"4.0 when nothing is remembered", 0, "4.0", " hinzugef\xFCgt, 0 ge\xE4ndert"},
      // Another version than the ledger's: every card is sent again.
      {"3.0 for phones", OutputFilterVCard30, "3.0", " ge\xE4ndert, 0 entfernt"},
  };
  size_t cards = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TMainWindow& w = Open();
    w.show();
    if (row.filter > 0) WriteModeInteger("PXOpenSaveFile.Rolodeck.FI", row.filter);
    messages_.clear();
    asked_ = 0;
    server_->ClearRequests();
    ASSERT_TRUE(w.Frm().SyncClick(Settings()));
    EXPECT_TRUE(w.Frm().SyncRunning());
    EXPECT_TRUE(w.isEnabled());  // unlike an export, the form stays usable
    EXPECT_TRUE(w.CircularProgress1->isVisible());
    EXPECT_FALSE(w.Frm().SyncClick(Settings()));  // a second click starts nothing
    EXPECT_EQ(asked_, 1);

    ASSERT_TRUE(WaitForMessage());
    EXPECT_FALSE(w.Frm().SyncRunning());
    ASSERT_TRUE(w.Frm().SyncOk()) << w.Frm().SyncText();
    cards = test::LedgerIds(db_).size();
    ASSERT_GT(cards, 50u);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].rfind("<b>Fertig!</b><br>Online-Adressbuch: ", 0), 0u) << messages_[0];
    EXPECT_NE(messages_[0].find(std::to_string(cards) + row.counted), std::string::npos)
        << messages_[0];
    EXPECT_FALSE(w.CircularProgress1->isVisible());
    EXPECT_EQ(server_->MethodCounts()["PROPFIND"], 1);  // one run only
    EXPECT_EQ(test::CheckBook(server_->DirectBookUrl(), static_cast<int>(cards), row.version), "");
    EXPECT_NE(test::LedgerText(db_).find(std::string("# vcard=") + row.version), std::string::npos);
    window_.reset();
  }
}

TEST_F(WindowSync, ClosingTheWindowStopsTheSyncAndTheNextRunCompletesIt) {
  {
    TMainWindow& w = Open();
    w.show();
    ASSERT_TRUE(w.Frm().SyncClick(Settings()));
    ASSERT_TRUE(test::WaitUntil(
        [this] {
          QApplication::processEvents();
          return server_->MethodCounts()["PUT"] >= 5;
        },
        kWaitMs));
    bool closed = false;
    w.OnClosed = [&closed] { closed = true; };
    EXPECT_TRUE(w.close());  // a sync does not hold the window open
    EXPECT_TRUE(closed);
    w.Frm().FormDestroy();  // as the program does after its event loop
  }
  const int sentBeforeClose = server_->MethodCounts()["PUT"];
  EXPECT_TRUE(messages_.empty()) << messages_[0];
  // The ledger holds what the server confirmed, and that was not everything.
  const size_t confirmed = test::LedgerIds(db_).size();
  EXPECT_LE(confirmed, static_cast<size_t>(sentBeforeClose));
  window_.reset();

  TMainWindow& again = Open();
  ASSERT_TRUE(again.Frm().SyncClick(Settings()));
  ASSERT_TRUE(WaitForMessage());
  ASSERT_TRUE(again.Frm().SyncOk()) << again.Frm().SyncText();
  const size_t cards = test::LedgerIds(db_).size();
  EXPECT_GT(cards, confirmed);
  EXPECT_EQ(test::CheckBook(server_->DirectBookUrl(), static_cast<int>(cards), "4.0"), "");
}

}  // namespace
}  // namespace pv
