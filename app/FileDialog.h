// The open and save dialog that remembers, in the MODE settings, the last folder, the last chosen
// file type and its window size under keys the caller names; and Qt's own German dialog texts.
#pragma once

#include <QFileDialog>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCoreApplication;
class QShowEvent;
class QWidget;

namespace pv {

// Loads Qt's German translation ("qtbase_de" from Qt's translations folder) into the application,
// so that the dialogs' own buttons and questions are German. False when it cannot be found.
bool InstallGermanTranslation(QCoreApplication& app);

// Where a file dialog is placed when it is shown.
enum class TDlgPosition {
  dlgpoDefault,          // where Qt puts it (centred over its parent)
  dlgpoOwnerFormCenter,  // on the monitor of the owner form
  dlgpoMainFormCenter,   // on the monitor of the program's main window
};

// Everything ExecuteFileDialog prepared for one dialog run. Text is Windows-1252 except the paths
// (InitialFolder, InitialName, Files), which are file-system bytes as the system passes paths on.
struct TFileDialogSettings {
  bool SaveMode = true;
  std::string Filter;         // pairs "description|pattern|..."; patterns separated by ';'
  std::string DefaultExt;     // appended when the user types no extension (leading '.' allowed)
  std::string InitialFolder;  // with trailing '/'; empty lets Qt choose
  std::string InitialName;    // the file name proposed in the name field; may be empty
  int FilterIndex = 1;        // 1-based; zero or negative selects no particular filter
  bool MultiSelect = false;
  bool OverwritePrompt = true;
  bool NoDereferenceLinks = false;  // a chosen symbolic link is returned as itself
  bool ShowDetails = true;          // the file list in its detail view
  TDlgPosition DlgPosition = TDlgPosition::dlgpoOwnerFormCenter;
  QWidget* Owner = nullptr;  // the form the dialog belongs to; may be none
  // The size remembered from the last close (each side limited to 0..1000); empty when none is
  // stored. The dialog opens in it, and its size at close is written back.
  QSize WindowSize;
  // Filled by a test hook that answers a multiple selection; the dialog fills it itself.
  std::vector<std::string> Files;
};

// Test seam: when set, ExecuteFileDialog calls the hook with the prepared settings instead of
// showing a dialog. It returns the chosen file name, or empty for cancel. It may change FilterIndex
// (the user picked another file type), WindowSize (the user resized the window) and Files.
// Null shows the dialog again. Returns the previous hook (for TScopedOverride). Window thread only.
using TFileDialogHook = std::function<std::string(TFileDialogSettings&)>;
TFileDialogHook SetFileDialogHook(TFileDialogHook hook);

// Asks the user for a file name with the open (SaveMode false) or save dialog.
// Key names the remembered filter index "PXOpenSaveFile.<Key>.FI" and the window size
// "PXOpenSaveFile.<Key or Default>.SWidth"/".SHeigth"; FolderKey the remembered folder
// "PXOpenSaveFile.<FolderKey>". Empty keys remember nothing (an empty Key starts at filter 1).
// DefaultFolder is the start folder when none is remembered; in save mode a missing start folder
// is created. Files, when given, receives every chosen name (multiple selection in open mode).
// OwnerWnd, when given, is raised afterwards.
// Out: FileName is the chosen path, empty on cancel; returns whether a file was chosen. On cancel
// the folder and the filter index are left as stored; the window size is stored at every close.
bool ExecuteFileDialog(const std::string& Key, const std::string& FolderKey,
                       const std::string& Filter, const std::string& DefaultExt,
                       const std::string& DefaultFolder, bool SaveMode, QWidget* OwnerWnd,
                       std::vector<std::string>* Files, const std::string& DefaultName,
                       std::string& FileName);

// The number of filters in a filter text: pairs of description and pattern, ('|' count + 1) / 2.
int FilterCount(const std::string& filter);

// Qt's name filters for a filter text: "description (pattern pattern)" per pair; patterns
// separated by ';' become space-separated; a description without a pattern is dropped.
QStringList FilterToNameFilters(const std::string& filter);

// The top left corner of a window of that size on the monitor: centred across, a third down.
QPoint DialogPlacement(const QRect& monitor, const QSize& window);

// Qt's file dialog (never the desktop's native one, so that placement, detail view, size and the
// German texts apply) with the open/save variants' additions. Both variants accept names of files
// that do not exist yet, as the system's open dialog does.
class TDDOpenDialog : public QFileDialog {
  Q_OBJECT

 public:
  explicit TDDOpenDialog(QWidget* ownerForm);

  bool ShowDetails = false;
  TDlgPosition DlgPosition = TDlgPosition::dlgpoDefault;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* FOwnerForm;
};

class TDDSaveDialog : public TDDOpenDialog {
  Q_OBJECT

 public:
  explicit TDDSaveDialog(QWidget* ownerForm);
};

// A dialog set up from the settings (variant, options, filters and index, default suffix, start
// folder and name, view, placement, size), not yet shown.
std::unique_ptr<TDDOpenDialog> CreateFileDialog(const TFileDialogSettings& settings);

}  // namespace pv
