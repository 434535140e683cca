// The window's online address book: the small dialog that sets it up (address, user, password,
// "Verbindung prüfen", "Speichern") and the sync started from the form's context menu, with the
// spinner running and the result in the message box.
#pragma once

#include <QDialog>
#include <memory>

#include "app/MainFrm.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pv {

class TMainWindow;

namespace carddav {
class TSyncRun;
}

// Address and user live in UserMode.INI (section MODE, keys CardDavUrl and CardDavUser); the
// password only in the desktop's keyring.
class TCardDavDialog : public QDialog {
 public:
  explicit TCardDavDialog(QWidget* parent = nullptr);
  ~TCardDavDialog() override;

  QLineEdit* EditUrl;
  QLineEdit* EditUser;
  QLineEdit* EditPassword;
  QLabel* LabelStatus;
  QPushButton* ButtonCheck;
  QPushButton* ButtonSave;

 private:
  void Check();
  void Save();

  std::unique_ptr<carddav::TSyncRun> check_;
};

// Gives the window's form a context menu with "Online-Adressbuch einrichten…" and "Jetzt ins
// Online-Adressbuch senden" (the window's logic runs the sync; the entry is disabled while one
// runs). The window's layout stays as it is.
void InstallCardDavMenu(TMainWindow& window);

}  // namespace pv
