// The window logic's choices: the options of the silent export, the format an export is written
// in (the save dialog's file type, "Los!", "Als ANSI"), the texts it shows or prints, and the
// database folder as the reference exchange service hands it over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QString>
#include <QTest>
#include <optional>
#include <string>
#include <vector>

#include "app/FileDialog.h"
#include "app/MainFrm.h"
#include "app/MainWindow.h"
#include "app/PXDlg.h"
#include "export/PVAdressJob.h"
#include "files/AnsiText.h"
#include "files/ScopedOverride.h"
#include "hostlink/HostValue.h"
#include "settings/UserMode.h"
#include "tests/support/ExchangeService.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::ReadFile;
using test::TempDir;

constexpr int kRunTimeoutMs = 60000;

TEST(AutoOptions, AcceptedAndRefusedOptions) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    TvCardVersion version;
    std::optional<bool> asAnsi;
    std::string problemPart;
  } cases[] = {
      {{}, true, vv40, std::nullopt, ""},
      {{"--vcard=3.0"}, true, vv30, std::nullopt, ""},
      {{"--vcard=4.0"}, true, vv40, std::nullopt, ""},
      {{"--utf8"}, true, vv40, false, ""},
      {{"--ansi"}, true, vv40, true, ""},
      {{"--vcard=3.0", "--utf8"}, true, vv30, false, ""},
      {{"--ansi", "--vcard=4.0"}, true, vv40, true, ""},
      {{"--utf8", "--utf8"}, true, vv40, false, ""},
      {{"--vcard=3.0", "--ansi"}, false, vv40, std::nullopt, "--vcard=3.0"},
      {{"--ansi", "--vcard=3.0"}, false, vv40, std::nullopt, "UTF-8"},
      {{"--utf8", "--ansi"}, false, vv40, std::nullopt, "--ansi"},
      {{"--vcard=4.0", "--vcard=3.0"}, false, vv40, std::nullopt, "--vcard=3.0"},
      {{"--vcard=2.1"}, false, vv40, std::nullopt, "--vcard=2.1"},
      {{"--VCARD=3.0"}, false, vv40, std::nullopt, "--VCARD=3.0"},
      {{"--vcard"}, false, vv40, std::nullopt, "--vcard"},
      {{"--utf8", ""}, false, vv40, std::nullopt, "Unbekannte"},
      {{"more.vcf"}, false, vv40, std::nullopt, "more.vcf"},
      {{"--gr\xC3\xBC\xC3\x9F"
        "e"},
       false,
       vv40,
       std::nullopt,
       "--gr\xFC\xDF"
       "e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::string problem = "left over";
    const auto options = ParseAutoOptions(c.args, problem);
    ASSERT_EQ(options.has_value(), c.ok) << problem;
    if (c.ok) {
      EXPECT_EQ(options->Version, c.version);
      EXPECT_EQ(options->AsAnsi, c.asAnsi);
      EXPECT_EQ(problem, "");
    } else {
      EXPECT_NE(problem.find(c.problemPart), std::string::npos) << problem;
    }
  }
}

TEST(MessageText, EscapedForTheMarkupAndPlainForTheTerminal) {
  struct Case {
    std::string text, escaped;
  } escapes[] = {
      {"", ""},
      {"GmbH & Co. KG", "GmbH &amp; Co. KG"},
      {"<Partner>", "&lt;Partner&gt;"},
      {"&amp;", "&amp;amp;"},
      {"M\xFCnchen", "M\xFCnchen"},
  };
  for (const Case& c : escapes) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(EscapeMarkup(c.text), c.escaped);
    // What is escaped reads on the terminal as it was written.
    EXPECT_EQ(MessageForTerminal(EscapeMarkup(c.text)), AnsiToUtf8(c.text));
  }

  struct Shown {
    std::string markup, terminal;
  } shown[] = {
      {"<b>12</b> Adressen nach <b>K\xFCnde.vcf</b> geschrieben.",
       "12 Adressen nach K\xC3\xBCnde.vcf geschrieben."},
      {"<b>Fertig!</b><br>Keine neuen Daten.", "Fertig!\nKeine neuen Daten."},
      {"a<BR>b<Br/>c<br />d", "a\nb\nc\nd"},
      {"<bright>x</bright>", "x"},
      {"Preis: 5 &euro; &quot;netto&quot;&nbsp;!", "Preis: 5 \xE2\x82\xAC \"netto\" !"},
      {"A & B", "A & B"},  // a lone '&' stays
      {"&AMP;", "&"},
      {"1 < 2", "1 < 2"},  // no closing '>': no tag
      {"Ger\xE4t voll", "Ger\xC3\xA4t voll"},
  };
  for (const Shown& s : shown) {
    SCOPED_TRACE(s.markup);
    EXPECT_EQ(MessageForTerminal(s.markup), s.terminal);
  }
}

// The folder and file names of these tests hold what once went wrong on the way: an umlaut that
// the exchange service sent as two characters, and characters the message markup takes for its
// own.
class MainFrmTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(desktop_.c_str(), 0700), 0);
    messageHook_.emplace(SetHTMLMessageHook,
                         [this](const std::string& text, const std::string&, const std::string&) {
                           messages_.push_back(text);
                           return TModalResult::mrCancel;
                         });
    jobHook_.emplace(SetJobCreatedHook, [this](const TPVAdressJob& job) {
      jobs_.push_back({job.Version, job.AsAnsi, job.OutFile, job.LedgerPath});
    });
    dialogHook_.emplace(SetFileDialogHook, [this](TFileDialogSettings& s) {
      filters_.push_back(s.Filter);
      if (chosenFilter_ > 0) s.FilterIndex = chosenFilter_;
      return dialogAnswer_;
    });
  }

  void TearDown() override {
    window_.reset();
    jobHook_.reset();
    dialogHook_.reset();
    messageHook_.reset();
    SetSettingsFolder("");
  }

  void StartService(int records) {
    test::MakeSampleDatabase(db_, records, 5);
    test::ExchangeService::Options options;
    options.values = {{"DBPATH", db_}};
    service_ = std::make_unique<test::ExchangeService>(options);
    ASSERT_TRUE(service_->Running());
  }

  void WriteSettings(const std::string& lines) {
    mkdir((dir_ / "PVTempDir").c_str(), 0700);
    mkdir((dir_ / "PVTempDir/vcard").c_str(), 0700);
    test::WriteFile(dir_ / "PVTempDir/vcard/UserMode.INI", "[MODE]\r\n" + lines);
  }

  // A fresh window; the fixture's job hook records its jobs as they are queued.
  TMainWindow& Open() {
    window_ = std::make_unique<TMainWindow>();
    return *window_;
  }

  bool WaitForEnd() {
    return QTest::qWaitFor([this] { return window_->Frm().Finished(); }, kRunTimeoutMs);
  }

  struct Job {
    TvCardVersion version;
    bool asAnsi;
    std::string outFile, ledgerPath;
  };

  TempDir dir_;
  const std::string desktop_ = dir_ / "Desktop";
  const std::string db_ = dir_ / "Kunden M\xC3\xBCnchen";
  std::unique_ptr<test::ExchangeService> service_;
  std::unique_ptr<TMainWindow> window_;
  std::optional<TScopedOverride<THTMLMessageHook>> messageHook_;
  std::optional<TScopedOverride<TFileDialogHook>> dialogHook_;
  std::optional<TScopedOverride<TJobCreatedHook>> jobHook_;
  std::vector<std::string> messages_;
  std::vector<std::string> filters_;
  std::vector<Job> jobs_;
  std::string dialogAnswer_;
  int chosenFilter_ = 0;

 private:
  struct ScopedEnv {
    ScopedEnv(const char* n, const std::string& value) : name(n) {
      if (const char* v = std::getenv(n)) old = v;
      setenv(n, value.c_str(), 1);
    }
    ~ScopedEnv() { old ? setenv(name, old->c_str(), 1) : unsetenv(name); }
    const char* name;
    std::optional<std::string> old;
  };
  ScopedEnv tmp_{"TMPDIR", dir_.path()};
  ScopedEnv desk_{"XDG_DESKTOP_DIR", desktop_};
};

bool IsUtf8(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toUtf8() ==
         QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

TEST_F(MainFrmTest, ThePhoneFileTypeWritesVersion30InUtf8WhateverAlsAnsiSays) {
  StartService(400);
  TMainWindow& w = Open();
  ASSERT_TRUE(w.AsAnsi());  // "Als ANSI" is ticked by default
  chosenFilter_ = OutputFilterVCard30;
  dialogAnswer_ = dir_ / "Kontakte & Partner.vcf";
  w.Frm().HTMLabel1AnchorClick("");
  ASSERT_EQ(filters_,
            std::vector<std::string>{"VCard|*.vcf|VCard 3.0 f\xFCr Android und iPhone|*.vcf"});
  ASSERT_EQ(jobs_.size(), 1u);
  EXPECT_EQ(jobs_[0].version, vv30);
  EXPECT_FALSE(jobs_[0].asAnsi);
  EXPECT_EQ(jobs_[0].outFile, dialogAnswer_);
  // The database folder arrived with its umlaut: the ledger lies next to the database.
  EXPECT_EQ(jobs_[0].ledgerPath, db_ + "/vCard.Export/calc.txt");

  ASSERT_TRUE(WaitForEnd());
  EXPECT_TRUE(w.Frm().ResultOk()) << w.Frm().ResultText();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_NE(messages_[0].find("<b>Kontakte &amp; Partner.vcf</b>"), std::string::npos)
      << messages_[0];
  EXPECT_TRUE(w.AsAnsi());  // the box itself is left as it was
  const std::string text = ReadFile(dialogAnswer_);
  EXPECT_TRUE(IsUtf8(text));
  EXPECT_NE(text.find("M\xC3\xBCnchen"), std::string::npos);
  EXPECT_NE(text.find("VERSION:3.0"), std::string::npos);
  EXPECT_EQ(text.find("VERSION:4.0"), std::string::npos);
  EXPECT_NE(ReadFile(db_ + "/vCard.Export/calc.txt").find("\",\""), std::string::npos);
  window_.reset();
  EXPECT_NE(ReadFile(dir_ / "PVTempDir/vcard/UserMode.INI").find("PXOpenSaveFile.Rolodeck.FI=2"),
            std::string::npos);
}

TEST_F(MainFrmTest, LosWritesInTheFormatRememberedWithTheDialog) {
  StartService(40);
  struct Case {
    const char* stored;  // settings lines
    bool ansiBox;
    TvCardVersion version;
    bool asAnsi;
  } cases[] = {
      {"", true, vv40, true},
      {"PXOpenSaveFile.Rolodeck.FI=1\r\n", false, vv40, false},
      {"PXOpenSaveFile.Rolodeck.FI=2\r\n", true, vv30, false},
      {"PXOpenSaveFile.Rolodeck.FI=2\r\n", false, vv30, false},
      {"PXOpenSaveFile.Rolodeck.FI=3\r\n", true, vv40, true},
      {"PXOpenSaveFile.Rolodeck.FI=0\r\n", true, vv40, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    WriteSettings(c.stored);
    jobs_.clear();
    messages_.clear();
    unlink((desktop_ + "/pv.vcf").c_str());
    TMainWindow& w = Open();
    w.SetAsAnsi(c.ansiBox);
    w.CheckBox1->setChecked(false);  // every run writes the whole file
    w.Frm().FlatButton1Click();
    ASSERT_EQ(jobs_.size(), 1u);
    EXPECT_EQ(jobs_[0].version, c.version);
    EXPECT_EQ(jobs_[0].asAnsi, c.asAnsi);
    EXPECT_EQ(jobs_[0].outFile, desktop_ + "/pv.vcf");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(w.Frm().ResultOk()) << w.Frm().ResultText();
    const std::string text = ReadFile(desktop_ + "/pv.vcf");
    if (!c.asAnsi) {
      EXPECT_TRUE(IsUtf8(text));
    }
    window_.reset();
    // "Als ANSI" is written back as the box shows it: the 3.0 choice does not change it.
    EXPECT_NE(
        ReadFile(dir_ / "PVTempDir/vcard/UserMode.INI").find(c.ansiBox ? "AsAnsi=1" : "AsAnsi=0"),
        std::string::npos);
  }
}

TEST_F(MainFrmTest, CancelledDialogQueuesNoJobAndKeepsTheChoice) {
  StartService(10);
  WriteSettings("PXOpenSaveFile.Rolodeck.FI=2\r\n");
  TMainWindow& w = Open();
  chosenFilter_ = 1;  // the user switches the type, then cancels
  dialogAnswer_.clear();
  w.Frm().HTMLabel1AnchorClick("");
  EXPECT_EQ(filters_.size(), 1u);
  EXPECT_TRUE(jobs_.empty());
  EXPECT_FALSE(w.Frm().Finished());
  EXPECT_EQ(w.Frm().StoredChoice().Version, vv30);
}

TEST_F(MainFrmTest, ServiceHandsOverItsValuesAsTheyWereTyped) {
  struct Value {
    std::string name, typed;  // command-line text (UTF-8, or not)
    std::string received;     // the client's Windows-1252
  } values[] = {
      {"DBPATH", "/srv/Daten/\xC3\xA4", "/srv/Daten/\xE4"},
      {"EURO", "5 \xE2\x82\xAC", "5 \x80"},
      {"POLISH",
       "\xC5\x82\xC3\xB3"
       "d\xC5\xBA",
       "?\xF3"
       "d?"},                                   // outside Windows-1252
      {"EMOJI", "a\xF0\x9F\x98\x80z", "a??z"},  // one character, two UTF-16 units
      {"LATIN1", "M\xFCnchen", "M\xFCnchen"},   // not UTF-8: taken byte for byte
      {"\xC3\x84NDERUNG", "ja", "ja"},          // the name is text too
  };
  test::ExchangeService::Options options;
  for (const Value& v : values) options.values.emplace_back(v.name, v.typed);
  test::ExchangeService service(options);
  ASSERT_TRUE(service.Running());
  for (const Value& v : values) {
    SCOPED_TRACE(v.typed);
    std::string name = v.name;
    if (name[0] == '\xC3') name = "\xC4NDERUNG";
    EXPECT_EQ(ReadIPCValueSync(name, false, ""), v.received);
  }
}

}  // namespace
}  // namespace pv
