#include "app/FileDialog.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QTranslator>
#include <algorithm>

#include "files/FileUtil.h"
#include "settings/UserMode.h"
#include "widgets/AnsiQt.h"

namespace pv {

namespace {

// Settings keys: prefix + caller's key (+ suffix).
constexpr const char* kKeyPrefix = "PXOpenSaveFile.";
constexpr const char* kFilterIndexSuffix = ".FI";
constexpr const char* kWidthSuffix = ".SWidth";
constexpr const char* kHeightSuffix = ".SHeigth";
constexpr const char* kDefaultSizeKey = "Default";
constexpr int kMaxStoredSide = 1000;
// A start folder this short (a root) is never created.
constexpr std::size_t kShortestCreatedFolder = 3;

QString PathToQt(const std::string& path) {
  return QFile::decodeName(QByteArray::fromStdString(path));
}
std::string PathFromQt(const QString& path) { return QFile::encodeName(path).toStdString(); }

TFileDialogHook& DialogHook() {
  static TFileDialogHook hook;
  return hook;
}

// The folder part of a path, up to and including its last delimiter; empty when it has none.
std::string FolderOf(const std::string& path) {
  const auto pos = path.rfind(PathDelim);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

// The program's main window: its first visible top-level window or dialog that is no file dialog.
QWidget* ProgramMainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    const auto type = w->windowType();
    if (w->isVisible() && (type == Qt::Window || type == Qt::Dialog) &&
        !qobject_cast<QFileDialog*>(w)) {
      return w;
    }
  }
  return nullptr;
}

// Splits at '|'.
std::vector<std::string> SplitBars(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto bar = text.find('|', start);
    parts.push_back(text.substr(start, bar - start));
    if (bar == std::string::npos) return parts;
    start = bar + 1;
  }
}

// Creates a missing start folder for the save dialog; a failure leaves the choice to the user.
void EnsureFolder(const std::string& folder) {
  if (folder.size() < kShortestCreatedFolder || DirectoryExistsSafe(folder)) return;
  try {
    ForceFolders(folder);
  } catch (const std::exception&) {
  }
}

// Reads the remembered window size; each side limited to 0..1000.
QSize ReadWindowSize(const std::string& sizeKey) {
  auto side = [&](const char* suffix) {
    return std::clamp(ReadModeInteger(kKeyPrefix + sizeKey + suffix, 0), 0, kMaxStoredSide);
  };
  return QSize(side(kWidthSuffix), side(kHeightSuffix));
}

void WriteWindowSize(const std::string& sizeKey, const QSize& size) {
  if (size.isEmpty()) return;  // no window was there to measure
  WriteModeInteger(kKeyPrefix + sizeKey + kWidthSuffix, size.width());
  WriteModeInteger(kKeyPrefix + sizeKey + kHeightSuffix, size.height());
}

// Runs the real dialog: the filter index follows the user's type changes, the size at close is
// reported back. Returns the chosen names, empty on cancel.
QStringList RunDialog(TFileDialogSettings& s, int& rememberedFilterIndex) {
  QPointer<TDDOpenDialog> dialog = CreateFileDialog(s).release();
  // The owner may destroy the dialog (its child) while it runs; delete it here only if it lives.
  struct Deleter {
    QPointer<TDDOpenDialog>& d;
    ~Deleter() { delete d.data(); }
  } deleter{dialog};

  const QStringList filters = dialog->nameFilters();
  QObject::connect(dialog.data(), &QFileDialog::filterSelected,
                   [&rememberedFilterIndex, filters](const QString& filter) {
                     const auto i = filters.indexOf(filter);
                     if (i >= 0) rememberedFilterIndex = static_cast<int>(i) + 1;
                   });
  const int result = dialog->exec();
  if (!dialog) return {};
  s.WindowSize = dialog->size();
  return result == QDialog::Accepted ? dialog->selectedFiles() : QStringList();
}

}  // namespace

bool InstallGermanTranslation(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QStringLiteral("qtbase_de"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

int FilterCount(const std::string& filter) {
  const auto bars = std::count(filter.begin(), filter.end(), '|');
  return static_cast<int>((bars + 1) / 2);
}

QStringList FilterToNameFilters(const std::string& filter) {
  QStringList result;
  if (filter.empty()) return result;
  const auto parts = SplitBars(filter);
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = AnsiToQString(parts[i + 1]);
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    result << AnsiToQString(parts[i]) + QStringLiteral(" (") + patterns.simplified() +
                  QLatin1Char(')');
  }
  return result;
}

QPoint DialogPlacement(const QRect& monitor, const QSize& window) {
  return QPoint(monitor.left() + (monitor.width() - window.width()) / 2,
                monitor.top() + (monitor.height() - window.height()) / 3);
}

TDDOpenDialog::TDDOpenDialog(QWidget* ownerForm) : QFileDialog(ownerForm), FOwnerForm(ownerForm) {
  setOption(QFileDialog::DontUseNativeDialog);
  setAcceptMode(QFileDialog::AcceptOpen);
  setFileMode(QFileDialog::AnyFile);
}

TDDSaveDialog::TDDSaveDialog(QWidget* ownerForm) : TDDOpenDialog(ownerForm) {
  setAcceptMode(QFileDialog::AcceptSave);
}

void TDDOpenDialog::showEvent(QShowEvent* event) {
  QFileDialog::showEvent(event);
  if (event->spontaneous()) return;
  if (ShowDetails) setViewMode(QFileDialog::Detail);
  QWidget* anchor = nullptr;
  if (DlgPosition == TDlgPosition::dlgpoOwnerFormCenter) anchor = FOwnerForm;
  if (DlgPosition == TDlgPosition::dlgpoMainFormCenter) anchor = ProgramMainWindow();
  if (anchor && anchor->screen()) {
    move(DialogPlacement(anchor->screen()->geometry(), frameGeometry().size()));
  }
}

std::unique_ptr<TDDOpenDialog> CreateFileDialog(const TFileDialogSettings& s) {
  std::unique_ptr<TDDOpenDialog> d;
  if (s.SaveMode) {
    d = std::make_unique<TDDSaveDialog>(s.Owner);
  } else {
    d = std::make_unique<TDDOpenDialog>(s.Owner);
  }
  d->ShowDetails = s.ShowDetails;
  d->DlgPosition = s.DlgPosition;
  d->setOption(QFileDialog::DontResolveSymlinks, s.NoDereferenceLinks);
  d->setOption(QFileDialog::DontConfirmOverwrite, !s.OverwritePrompt);
  if (s.MultiSelect && !s.SaveMode) d->setFileMode(QFileDialog::ExistingFiles);

  const QStringList filters = FilterToNameFilters(s.Filter);
  if (!filters.isEmpty()) d->setNameFilters(filters);
  if (s.FilterIndex >= 1 && s.FilterIndex <= filters.size()) {
    d->selectNameFilter(filters.at(s.FilterIndex - 1));
  }
  d->setDefaultSuffix(AnsiToQString(s.DefaultExt));  // Qt drops a leading '.'

  if (!s.InitialFolder.empty()) d->setDirectory(PathToQt(s.InitialFolder));
  if (!s.InitialName.empty()) d->selectFile(PathToQt(s.InitialName));
  if (!s.WindowSize.isEmpty()) d->resize(s.WindowSize);
  return d;
}

TFileDialogHook SetFileDialogHook(TFileDialogHook hook) {
  std::swap(DialogHook(), hook);
  return hook;
}

bool ExecuteFileDialog(const std::string& Key, const std::string& FolderKey,
                       const std::string& Filter, const std::string& DefaultExt,
                       const std::string& DefaultFolder, bool SaveMode, QWidget* OwnerWnd,
                       std::vector<std::string>* Files, const std::string& DefaultName,
                       std::string& FileName) {
  FileName.clear();
  QPointer<QWidget> ownerWnd = OwnerWnd;
  // Raises the caller's window whatever way the dialog ends.
  struct RaiseOwner {
    QPointer<QWidget>& w;
    ~RaiseOwner() {
      if (!w) return;
      w->raise();
      w->activateWindow();
    }
  } raiseOwner{ownerWnd};

  TFileDialogSettings s;
  s.SaveMode = SaveMode;
  s.Owner = QApplication::activeWindow();
  if (!s.Owner) s.Owner = ProgramMainWindow();
  s.ShowDetails = true;
  s.DlgPosition = TDlgPosition::dlgpoOwnerFormCenter;
  s.NoDereferenceLinks = !SaveMode;
  s.OverwritePrompt = true;
  s.MultiSelect = Files != nullptr;
  s.Filter = Filter;
  s.DefaultExt = DefaultExt;

  std::string folder =
      FolderKey.empty() ? DefaultFolder : ReadModeString(kKeyPrefix + FolderKey, DefaultFolder);
  if (!folder.empty()) {
    folder = AddBackslash(folder);
    if (SaveMode) EnsureFolder(folder);
  }
  s.InitialFolder = folder;
  s.InitialName = DefaultName;

  int filterIndex = 1;
  if (!Key.empty()) {
    filterIndex = ReadModeInteger(kKeyPrefix + Key + kFilterIndexSuffix, 1);
    if (filterIndex > FilterCount(Filter)) filterIndex = 1;
  }
  s.FilterIndex = filterIndex;
  int rememberedFilterIndex = filterIndex;

  const std::string sizeKey = Key.empty() ? kDefaultSizeKey : Key;
  s.WindowSize = ReadWindowSize(sizeKey);

  std::vector<std::string> chosen;
  if (const TFileDialogHook hook = DialogHook()) {
    const std::string answer = hook(s);
    rememberedFilterIndex = s.FilterIndex;
    if (!answer.empty()) {
      FileName = answer;
      chosen = s.Files.empty() ? std::vector<std::string>{answer} : s.Files;
    }
  } else {
    for (const QString& name : RunDialog(s, rememberedFilterIndex)) {
      chosen.push_back(PathFromQt(name));
    }
    if (!chosen.empty()) FileName = chosen.front();
  }
  WriteWindowSize(sizeKey, s.WindowSize);

  if (FileName.empty()) return false;
  if (Files) *Files = chosen;
  if (!FolderKey.empty()) WriteModeString(kKeyPrefix + FolderKey, FolderOf(FileName));
  if (!Key.empty()) WriteModeInteger(kKeyPrefix + Key + kFilterIndexSuffix, rememberedFilterIndex);
  return true;
}

}  // namespace pv
