#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/FileDialog.h"
#include "app/MainFrm.h"
#include "files/FileUtil.h"
#include "files/ScopedOverride.h"
#include "settings/UserMode.h"
#include "tests/support/TempDir.h"

namespace pv {
namespace {

using test::TempDir;

const std::string kFI = "PXOpenSaveFile.Rolodeck.FI";
const std::string kWidth = "PXOpenSaveFile.Rolodeck.SWidth";
const std::string kHeight = "PXOpenSaveFile.Rolodeck.SHeigth";
const std::string kFolder = "PXOpenSaveFile.Export";

class FileDialogTest : public testing::Test {
 protected:
  void SetUp() override { SetSettingsFolder(AddBackslash(dir_ / "settings")); }
  void TearDown() override { SetSettingsFolder(""); }

  // Runs a save dialog with the main window's arguments (plus FolderKey/DefaultFolder), answered
  // by `answer`; the prepared settings end up in seen_.
  bool RunSave(std::function<std::string(TFileDialogSettings&)> answer, std::string& name,
               const std::string& key = "Rolodeck", const std::string& folderKey = "",
               const std::string& defaultFolder = "") {
    const TScopedOverride hook(SetFileDialogHook,
                               TFileDialogHook([this, answer](TFileDialogSettings& s) {
                                 const std::string result = answer(s);
                                 seen_ = s;
                                 return result;
                               }));
    return ExecuteFileDialog(key, folderKey, "VCard|*.vcf", ".vcf", defaultFolder, true, nullptr,
                             nullptr, "PV.vcf", name);
  }

  TempDir dir_;
  TFileDialogSettings seen_;
};

TEST_F(FileDialogTest, SaveDialogOfTheMainWindow) {
  std::string name = "stale";
  const std::string target = dir_ / "out.vcf";
  ASSERT_TRUE(RunSave([&](TFileDialogSettings&) { return target; }, name));
  EXPECT_EQ(name, target);
  EXPECT_EQ(seen_.InitialName, "PV.vcf");
  EXPECT_EQ(seen_.DefaultExt, ".vcf");
  EXPECT_EQ(seen_.InitialFolder, "");
  EXPECT_TRUE(seen_.OverwritePrompt);
  EXPECT_EQ(ReadModeInteger(kFI, -99), 1);
  EXPECT_EQ(ReadModeString("PXOpenSaveFile.", "none"), "none");  // no folder key, no folder
}

TEST_F(FileDialogTest, StoredFilterIndexIsCheckedAgainstTheFilter) {
  struct Case {
    const char* filter;
    int stored;  // 1000: none stored
    int opened;
  } cases[] = {{"VCard|*.vcf", 1000, 1},
               {"VCard|*.vcf", 3, 1},
               {"VCard|*.vcf", 2, 1},
               {"A|*.a|B|*.b", 2, 2},
               {"A|*.a|B|*.b", 3, 1},
               {"A|*.a|B", 2, 1},
               {"", 1, 1},
               {"VCard|*.vcf", 0, 0},
               {"VCard|*.vcf", -2, -2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.filter << " " << c.stored);
    TempDir settings;
    SetSettingsFolder(AddBackslash(settings.path()));
    if (c.stored != 1000) WriteModeInteger("PXOpenSaveFile.K.FI", c.stored);
    int opened = 1234;
    const TScopedOverride answer(SetFileDialogHook, TFileDialogHook([&](TFileDialogSettings& s) {
                                   opened = s.FilterIndex;
                                   return std::string("/x/y");
                                 }));
    std::string name;
    ExecuteFileDialog("K", "", c.filter, "", "", false, nullptr, nullptr, "", name);
    EXPECT_EQ(opened, c.opened);
    // Written back as the dialog had it.
    EXPECT_EQ(ReadModeInteger("PXOpenSaveFile.K.FI", 1000), c.opened);
  }
}

TEST_F(FileDialogTest, ChosenTypeIsRememberedOnlyWhenConfirmed) {
  WriteModeInteger(kFI, 1);
  std::string name;
  const TScopedOverride cancelled(SetFileDialogHook, TFileDialogHook([](TFileDialogSettings& s) {
                                    s.FilterIndex =
                                        2;  // the user picked the second type, then cancelled
                                    return std::string();
                                  }));
  EXPECT_FALSE(
      ExecuteFileDialog("Rolodeck", "", "A|*.a|B|*.b", "", "", true, nullptr, nullptr, "", name));
  EXPECT_EQ(name, "");
  EXPECT_EQ(ReadModeInteger(kFI, 0), 1);

  const TScopedOverride confirmed(SetFileDialogHook, TFileDialogHook([](TFileDialogSettings& s) {
                                    s.FilterIndex = 2;
                                    return std::string("/x/y.b");
                                  }));
  EXPECT_TRUE(
      ExecuteFileDialog("Rolodeck", "", "A|*.a|B|*.b", "", "", true, nullptr, nullptr, "", name));
  EXPECT_EQ(ReadModeInteger(kFI, 0), 2);
}

TEST_F(FileDialogTest, EmptyKeyRemembersNoFilterAndSizesUnderDefault) {
  WriteModeInteger("PXOpenSaveFile..FI", 2);
  std::string name;
  ASSERT_TRUE(RunSave(
      [](TFileDialogSettings& s) {
        s.WindowSize = QSize(640, 480);
        return std::string("/x/y.vcf");
      },
      name, ""));
  EXPECT_EQ(seen_.FilterIndex, 1);
  EXPECT_EQ(ReadModeInteger("PXOpenSaveFile..FI", 0), 2);
  EXPECT_EQ(ReadModeInteger("PXOpenSaveFile.Default.SWidth", 0), 640);
  EXPECT_EQ(ReadModeInteger("PXOpenSaveFile.Default.SHeigth", 0), 480);
}

TEST_F(FileDialogTest, FolderIsRememberedWithItsKeyOnly) {
  std::string name;
  // No folder key: the default folder is the start, nothing is stored.
  RunSave([](TFileDialogSettings&) { return std::string("/x/y.vcf"); }, name, "Rolodeck", "",
          dir_ / "start");
  EXPECT_EQ(seen_.InitialFolder, dir_ / "start/");
  EXPECT_EQ(ReadModeString(kFolder, "none"), "none");

  // With a key: the default folder until one is stored, then the stored one.
  const std::string chosen = dir_ / "other dir;x/report.vcf";
  RunSave([&](TFileDialogSettings&) { return chosen; }, name, "Rolodeck", "Export", dir_ / "start");
  EXPECT_EQ(seen_.InitialFolder, dir_ / "start/");
  EXPECT_EQ(ReadModeString(kFolder, ""), dir_ / "other dir;x/");

  RunSave([](TFileDialogSettings&) { return std::string(); }, name, "Rolodeck", "Export",
          dir_ / "start");
  EXPECT_EQ(seen_.InitialFolder, dir_ / "other dir;x/");
  EXPECT_EQ(ReadModeString(kFolder, ""), dir_ / "other dir;x/");  // cancel keeps it
}

TEST_F(FileDialogTest, SaveModeCreatesAMissingStartFolder) {
  std::string name;
  auto cancel = [](TFileDialogSettings&) { return std::string(); };
  const TScopedOverride cancelled(SetFileDialogHook, TFileDialogHook(cancel));
  ExecuteFileDialog("", "", "", "", dir_ / "open/sub", false, nullptr, nullptr, "", name);
  EXPECT_FALSE(DirectoryExistsSafe(dir_ / "open"));
  RunSave(cancel, name, "", "", dir_ / "save/sub");
  EXPECT_TRUE(DirectoryExistsSafe(dir_ / "save/sub"));

  // A start folder that cannot be created is still offered; the dialog copes.
  test::WriteFile(dir_ / "file", "x");
  RunSave(cancel, name, "", "", dir_ / "file/sub");
  EXPECT_EQ(seen_.InitialFolder, dir_ / "file/sub/");
}

TEST_F(FileDialogTest, WindowSizeIsReadLimitedAndWrittenAtEveryClose) {
  WriteModeInteger(kWidth, 5000);
  WriteModeInteger(kHeight, -3);
  std::string name;
  RunSave([](TFileDialogSettings&) { return std::string(); }, name);
  EXPECT_EQ(seen_.WindowSize, QSize(1000, 0));

  WriteModeInteger(kWidth, 700);
  WriteModeInteger(kHeight, 500);
  RunSave(
      [](TFileDialogSettings& s) {
        EXPECT_EQ(s.WindowSize, QSize(700, 500));
        s.WindowSize = QSize(720, 530);
        return std::string();  // cancelled, the size is stored all the same
      },
      name);
  EXPECT_EQ(ReadModeInteger(kWidth, 0), 720);
  EXPECT_EQ(ReadModeInteger(kHeight, 0), 530);
  EXPECT_EQ(ReadModeInteger(kFI, -1), -1);
}

TEST_F(FileDialogTest, FilesListTakesEveryChosenName) {
  std::vector<std::string> files{"keep"};
  std::string name;
  const TScopedOverride answer(SetFileDialogHook, TFileDialogHook([](TFileDialogSettings& s) {
                                 EXPECT_TRUE(s.MultiSelect);
                                 s.Files = {"/a/1", "/a/2"};
                                 return std::string("/a/1");
                               }));
  ExecuteFileDialog("", "", "", "", "", false, nullptr, &files, "", name);
  EXPECT_EQ(files, (std::vector<std::string>{"/a/1", "/a/2"}));
}

TEST(FileDialogRules, FiltersAndPlacement) {
  struct Case {
    const char* filter;
    int count;
    QStringList names;
  } cases[] = {{"VCard|*.vcf", 1, {"VCard (*.vcf)"}},
               {"Bilder|*.jpg;*.png|Alle|*", 2, {"Bilder (*.jpg *.png)", "Alle (*)"}},
               {"A|*.a|B", 1, {"A (*.a)"}},
               {"", 0, {}},
               {"Adre\xDF"
                "en|*.vcf",
                1,
                {QString::fromUtf8("Adre\u00DFen (*.vcf)")}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.filter);
    EXPECT_EQ(FilterCount(c.filter), c.count);
    EXPECT_EQ(FilterToNameFilters(c.filter), c.names);
  }
  EXPECT_EQ(DialogPlacement(QRect(0, 0, 1920, 1080), QSize(800, 600)), QPoint(560, 160));
  // Wider than the monitor: the negative offsets are halved towards zero.
  EXPECT_EQ(DialogPlacement(QRect(1920, 0, 1280, 1024), QSize(1283, 1030)), QPoint(1919, -2));
}

TEST(FileDialogRules, CreatedDialogFollowsTheSettings) {
  TFileDialogSettings s;
  s.Filter = "A|*.a|B|*.b";
  s.FilterIndex = 2;
  s.DefaultExt = ".vcf";
  s.WindowSize = QSize(600, 400);
  auto save = CreateFileDialog(s);
  EXPECT_EQ(save->selectedNameFilter(), "B (*.b)");
  EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(save->size(), QSize(600, 400));

  s.SaveMode = false;
  s.MultiSelect = true;
  s.NoDereferenceLinks = true;
  auto open = CreateFileDialog(s);
  EXPECT_EQ(open->fileMode(), QFileDialog::ExistingFiles);
  EXPECT_TRUE(open->testOption(QFileDialog::DontResolveSymlinks));
}

// The real dialog, answered by a timer on the offscreen platform.
TEST_F(FileDialogTest, RealDialogAppendsTheSuffixPlacesAndRemembers) {
  ASSERT_TRUE(InstallGermanTranslation(*QCoreApplication::instance()));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Save As"), "Speichern unter");

  QWidget form;
  form.resize(300, 200);
  form.show();
  QApplication::setActiveWindow(&form);

  bool sawDialog = false;
  auto answer = [&](bool accept) {
    QTimer::singleShot(0, [&, accept] {
      auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!d) return;
      sawDialog = true;
      EXPECT_EQ(d->viewMode(), QFileDialog::Detail);
      EXPECT_EQ(d->pos(), DialogPlacement(form.screen()->geometry(), d->frameGeometry().size()));
      d->resize(610, 420);
      d->selectFile("bericht");
      QDialog* dialog = d;  // accept() is public as a QDialog
      accept ? dialog->accept() : dialog->reject();
    });
  };
  std::string name;
  answer(true);
  EXPECT_TRUE(ExecuteFileDialog("Rolodeck", "Export", "VCard|*.vcf", ".vcf", dir_.path(), true,
                                &form, nullptr, "PV.vcf", name));
  EXPECT_TRUE(sawDialog);
  EXPECT_EQ(name, dir_ / "bericht.vcf");
  EXPECT_EQ(ReadModeString(kFolder, ""), dir_.path() + "/");
  EXPECT_EQ(ReadModeInteger(kWidth, 0), 610);
  EXPECT_EQ(ReadModeInteger(kHeight, 0), 420);

  sawDialog = false;
  WriteModeInteger(kFI, 0);
  answer(false);
  EXPECT_FALSE(ExecuteFileDialog("Rolodeck", "Export", "VCard|*.vcf", ".vcf", "", true, &form,
                                 nullptr, "PV.vcf", name));
  EXPECT_TRUE(sawDialog);
  EXPECT_EQ(name, "");
  EXPECT_EQ(ReadModeInteger(kFI, -1), 0);
}

// The main window's two file types share one pattern; the dialog tells them apart by name.
TEST_F(FileDialogTest, RealDialogShowsAndRemembersThePhoneFileType) {
  const QString phones = QString::fromUtf8("VCard 3.0 f\u00FCr Android und iPhone (*.vcf)");
  struct Round {
    int stored;
    int picked;  // the type the user picks, 0 for none
    QString shown;
    int remembered;
  } rounds[] = {
      {2, 0, phones, 2},
      {2, 1, "VCard (*.vcf)", 1},
      {1, 2, phones, 2},
      {3, 0, "VCard (*.vcf)", 1},
  };
  for (const Round& r : rounds) {
    SCOPED_TRACE(r.stored * 10 + r.picked);
    WriteModeInteger(kFI, r.stored);
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!d) return;
      auto* types = d->findChild<QComboBox*>("fileTypeCombo");
      if (types && r.picked > 0) {  // the keys a user presses on the list of types
        QTest::keyClick(types, r.picked == 1 ? Qt::Key_Home : Qt::Key_End);
      }
      shown = d->selectedNameFilter();
      d->selectFile("kontakte");
      static_cast<QDialog*>(d)->accept();
    });
    std::string name;
    EXPECT_TRUE(ExecuteFileDialog(OutputDialogKey, "", OutputFileFilter, ".vcf", dir_.path(), true,
                                  nullptr, nullptr, "PV.vcf", name));
    EXPECT_EQ(shown, r.shown);
    EXPECT_EQ(name, dir_ / "kontakte.vcf");
    EXPECT_EQ(ReadModeInteger(kFI, -1), r.remembered);
  }
}

}  // namespace
}  // namespace pv
