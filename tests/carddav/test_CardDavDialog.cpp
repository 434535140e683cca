// The window's online address book dialog: what it keeps in UserMode.INI (never the password) and
// its connection check against a real server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "app/CardDavDialog.h"
#include "settings/UserMode.h"
#include "tests/carddav/SyncTestUtil.h"
#include "tests/support/RadicaleServer.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::RadicaleServer;
using test::ReadFile;
using test::TempDir;

class CardDavDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No keyring in this test: its answer must not depend on the desktop it runs on.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qunsetenv("XDG_RUNTIME_DIR");
    qunsetenv("PV_CARDDAV_PASSWORD");
    SetSettingsFolder(dir_.path() + "/");
  }
  void TearDown() override { SetSettingsFolder(""); }

  TempDir dir_;
};

TEST_F(CardDavDialogTest, SavesAddressAndUserButNeverThePassword) {
  {
    TCardDavDialog dialog;
    dialog.EditUrl->setText(" https://dav.example.org/anna/ ");
    dialog.EditUser->setText("J\xC3\xBCrgen");  // UTF-8 in the field, Windows-1252 in the file
    dialog.EditPassword->setText("geheim-123");
    dialog.ButtonSave->click();
    // Without a keyring the password cannot be kept: the dialog says so and stays open.
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.LabelStatus->text().contains(u"Passwort"))
        << dialog.LabelStatus->text().toStdString();
  }
  const std::string ini = ReadFile(dir_ / "UserMode.INI");
  EXPECT_NE(ini.find("CardDavUrl=\"https://dav.example.org/anna/\""), std::string::npos) << ini;
  EXPECT_NE(ini.find("CardDavUser=\"J\xFCrgen\""), std::string::npos) << ini;
  EXPECT_EQ(ini.find("geheim"), std::string::npos) << ini;

  TCardDavDialog again;  // shows what was saved
  EXPECT_EQ(again.EditUrl->text(), "https://dav.example.org/anna/");
  EXPECT_EQ(again.EditUser->text(), QString::fromUtf8("J\xC3\xBCrgen"));
  EXPECT_TRUE(again.EditPassword->text().isEmpty());
}

TEST_F(CardDavDialogTest, CheckFindsTheAddressBookOrSaysWhy) {
  if (access("/usr/bin/radicale", X_OK) != 0) GTEST_SKIP() << "radicale is not installed";
  std::filesystem::create_directories(dir_ / "server");
  RadicaleServer server(dir_ / "server");
  ASSERT_TRUE(server.Ok()) << server.Problem();
  const struct {
    const char* password;
    const char* says;
  } rows[] = {{RadicaleServer::Password, "Verbindung in Ordnung"}, {"falsch", "HTTP 401"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.password);
    TCardDavDialog dialog;
    dialog.EditUrl->setText(QString::fromStdString(server.ServerUrl()));
    dialog.EditUser->setText(RadicaleServer::User);
    dialog.EditPassword->setText(row.password);
    dialog.ButtonCheck->click();
    EXPECT_FALSE(dialog.ButtonCheck->isEnabled());  // until the answer is there
    const bool answered = test::WaitUntil(
        [&] {
          QApplication::processEvents();
          return dialog.ButtonCheck->isEnabled();
        },
        120000);
    ASSERT_TRUE(answered);
    EXPECT_TRUE(dialog.LabelStatus->text().contains(QString::fromUtf8(row.says)))
        << dialog.LabelStatus->text().toStdString();
  }
}

}  // namespace
}  // namespace pv
