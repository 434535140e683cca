#include "app/CardDavDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/MainWindow.h"
#include "carddav/Password.h"
#include "carddav/SyncRun.h"
#include "files/AnsiText.h"
#include "settings/UserMode.h"

namespace pv {
namespace {

constexpr const char* kUrlKey = "CardDavUrl";
constexpr const char* kUserKey = "CardDavUser";

QString SettingText(const char* key) {
  return QString::fromStdString(AnsiToUtf8(ReadModeString(key, "")));
}

// Message box text (Windows-1252 mini-HTML) from a QString.
std::string MessageText(const QString& text) { return Utf8ToAnsi(text.toStdString()); }

// Address, user and password of the online address book as the dialog saved them.
void ReadStoredSettings(carddav::TSyncSettings& s) {
  s.Url = SettingText(kUrlKey);
  s.User = SettingText(kUserKey);
  s.Password.clear();
  if (!s.User.isEmpty()) s.Password = carddav::ReadPassword(s.Url, s.User, nullptr, 3000);
}

// "Jetzt ins Online-Adressbuch senden": the window's logic runs the sync on its worker pool;
// with no address book set up yet, the dialog asks for one first.
void SendNow(TMainWindow& window) {
  window.Frm().SyncClick([&window](carddav::TSyncSettings& s) {
    ReadStoredSettings(s);
    if (!s.Url.isEmpty()) return true;
    TCardDavDialog dialog(&window);
    if (dialog.exec() != QDialog::Accepted) return false;
    ReadStoredSettings(s);
    return !s.Url.isEmpty();
  });
}

}  // namespace

TCardDavDialog::TCardDavDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Online-Adressbuch"));
  EditUrl = new QLineEdit(SettingText(kUrlKey), this);
  EditUrl->setPlaceholderText(QStringLiteral("https://server.example.org/"));
  EditUser = new QLineEdit(SettingText(kUserKey), this);
  EditPassword = new QLineEdit(this);
  EditPassword->setEchoMode(QLineEdit::Password);
  if (!EditUser->text().isEmpty()) {
    EditPassword->setText(carddav::ReadPassword(EditUrl->text(), EditUser->text(), nullptr, 3000));
  }
  LabelStatus = new QLabel(this);
  LabelStatus->setWordWrap(true);
  ButtonCheck = new QPushButton(QStringLiteral("Verbindung prüfen"), this);
  ButtonSave = new QPushButton(QStringLiteral("Speichern"), this);
  ButtonSave->setDefault(true);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("Adresse:"), EditUrl);
  form->addRow(QStringLiteral("Benutzer:"), EditUser);
  form->addRow(QStringLiteral("Passwort:"), EditPassword);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(ButtonCheck);
  buttons->addStretch();
  buttons->addWidget(ButtonSave);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(LabelStatus);
  layout->addLayout(buttons);
  setMinimumWidth(420);

  connect(ButtonCheck, &QPushButton::clicked, this, &TCardDavDialog::Check);
  connect(ButtonSave, &QPushButton::clicked, this, &TCardDavDialog::Save);
}

TCardDavDialog::~TCardDavDialog() = default;

void TCardDavDialog::Check() {
  carddav::TSyncSettings s;
  s.Url = EditUrl->text().trimmed();
  s.User = EditUser->text().trimmed();
  s.Password = EditPassword->text();
  LabelStatus->setText(QStringLiteral("Verbindung wird geprüft …"));
  ButtonCheck->setEnabled(false);
  check_ = std::make_unique<carddav::TSyncRun>(s, carddav::TCardSource());
  check_->Check([this](bool ok, const QString& text) {
    LabelStatus->setText(ok ? QStringLiteral("Verbindung in Ordnung: Adressbuch %1").arg(text)
                            : text);
    ButtonCheck->setEnabled(true);
  });
}

void TCardDavDialog::Save() {
  const QString url = EditUrl->text().trimmed();
  const QString user = EditUser->text().trimmed();
  WriteModeString(kUrlKey, MessageText(url));
  WriteModeString(kUserKey, MessageText(user));
  QString problem;
  if (!user.isEmpty() && !EditPassword->text().isEmpty() &&
      !carddav::StorePassword(url, user, EditPassword->text(), &problem)) {
    LabelStatus->setText(
        QStringLiteral("Adresse und Benutzer gespeichert, das Passwort nicht: %1").arg(problem));
    return;
  }
  accept();
}

void InstallCardDavMenu(TMainWindow& window) {
  window.setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(
      &window, &QWidget::customContextMenuRequested, &window, [&window](const QPoint& at) {
        QMenu menu(&window);
        QAction* setup = menu.addAction(QStringLiteral("Online-Adressbuch einrichten…"));
        QAction* send = menu.addAction(QStringLiteral("Jetzt ins Online-Adressbuch senden"));
        send->setEnabled(!window.Frm().SyncRunning());  // one sync at a time
        QAction* chosen = menu.exec(window.mapToGlobal(at));
        if (chosen == setup) {
          TCardDavDialog dialog(&window);
          dialog.exec();
        } else if (chosen == send) {
          SendNow(window);
        }
      });
}

}  // namespace pv
