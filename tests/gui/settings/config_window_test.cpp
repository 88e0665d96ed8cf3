#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "core/base/modes.h"
#include "gui/app/location_chooser.h"
#include "gui/execution/tform3.h"
#include "gui/jobs/tform9.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>

#include <unistd.h>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

namespace {

QStringList fileLines(const QString& path) {
    QString text = QString::fromUtf8(readFile(path));
    if (text.endsWith("\r\n"))
        text.chop(2);
    return text.split("\r\n");
}

void writeLines(const QString& path, const QStringList& lines) {
    writeFile(path, (lines.join("\r\n") + "\r\n").toUtf8());
}

QString cell(QTableWidget* t, int row, int column) {
    const QTableWidgetItem* item = t->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

// Each case starts the windows in an empty temporary folder of its own, as a first start there.
class ConfigWindowTest : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    Windows w;
    TForm1* f = nullptr;
    QString previousFolder;
    QByteArray previousDataHome;

    // No config.ini in the current folder: the settings live in the XDG folder.
    QString settingsFolder() const { return dir->filePath("xdg/paritas"); }
    QString configFile() const { return settingsFolder() + "/config.ini"; }
    void start() {
        w = createWindows();
        f = w.form1;
    }
    void restart() {
        destroyWindows(w);
        start();
    }

private slots:
    void init() {
        previousDataHome = qgetenv("XDG_DATA_HOME");
        previousFolder = QDir::currentPath();
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        qputenv("XDG_CONFIG_HOME", dir->filePath("xdg").toUtf8());
    }
    void cleanup() {
        if (f)
            destroyWindows(w);
        f = nullptr;
        qputenv("XDG_DATA_HOME", previousDataHome);
        QDir::setCurrent(previousFolder);
        dir.reset();
    }

    void theFirstStartWritesTheFileWithDefaultsAndTheTimeOfTheStart() {
        FakeDialogs dialogs;
        start();
        QCOMPARE(QString::fromStdString(w.form2->settingsFolder()), settingsFolder() + "/");
        const QStringList lines = fileLines(configFile());
        QCOMPARE(lines.size(), 39);
        QCOMPARE(lines[3], QStringLiteral("T Confirm Action list before File changes"));
        QCOMPARE(lines[6], QStringLiteral("T Match Modified TimeStamp"));
        QVERIFY2(QRegularExpression("^\\d{1,2}:\\d\\d:\\d\\d").match(lines[18]).hasMatch(),
                 qPrintable(lines[18]));
        QCOMPARE(w.form2->Edit1->text(), lines[18]);
        QCOMPARE(lines[19], QStringLiteral("F Compact"));
        QCOMPARE(lines[20], QStringLiteral("H%1").arg(f->height()));
        QCOMPARE(lines[21], QStringLiteral("W%1").arg(f->width()));
        QCOMPARE(lines[22], QStringLiteral(" "));
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(dialogs.messages.isEmpty());
        const QByteArray second = readFile(settingsFolder() + "/unattended.ini");
        QVERIFY2(second.contains("removed-files = trash"), second.constData());
        QVERIFY(second.contains("max-delete-scheduled = 50%"));
        // A new program has no favourites: the header and one empty row.
        QCOMPARE(w.form9->StringGrid1->rowCount(), 1);
        QCOMPARE(w.form9->StringGrid1->horizontalHeaderItem(1)->text(), QStringLiteral("Name"));
    }

    void aSavedConfigurationComesBackInNewWindows() {
        FakeDialogs dialogs;
        start();
        w.form2->CheckDelete->setChecked(true);
        w.form2->CheckName->setChecked(false);
        w.form2->Wednesday->setChecked(true);
        w.form2->Edit1->setText("06:30");
        f->Compact1Click();
        f->resize(900, 640);
        const QSize saved = f->size();
        f->Edit1->setText("/data/");
        f->Edit2->setText("/backup/");
        f->setModeIndex(2);
        dialogs.inputs.push_back(QStringLiteral("Daily"));
        f->SpeedButton1Click();
        w.form2->BitBtn3Click();
        QCOMPARE(dialogs.messages, QStringList({"Configuration Saved"}));
        QCOMPARE(fileLines(configFile()).value(39), QStringLiteral("/data/*A*2*B*/backup/*C*Yes*D*Daily"));

        restart();
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(w.form2->CheckDelete->isChecked());
        QVERIFY(!w.form2->CheckName->isChecked());
        QVERIFY(w.form2->Wednesday->isChecked());
        QVERIFY(!w.form2->Monday->isChecked());
        QCOMPARE(w.form2->Edit1->text(), QStringLiteral("06:30"));
        QCOMPARE(f->layoutChoice(), WindowLayout::Compact);
        QVERIFY(f->Compact1->isChecked());
        QCOMPARE(f->size(), saved);
        QTableWidget* table = w.form9->StringGrid1;
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(cell(table, 0, 1), QStringLiteral("Daily"));
        QCOMPARE(cell(table, 0, 2), QStringLiteral("/data/"));
        QCOMPARE(cell(table, 0, 3), QString::fromLatin1(kModeNames[2].data(), kModeNames[2].size()));
        QCOMPARE(cell(table, 0, 4), QStringLiteral("/backup/"));
        QCOMPARE(cell(table, 0, 5), QStringLiteral("Yes"));
        QCOMPARE(cell(table, 1, 1), QString());
    }

    void aMaximisedWindowIsSavedAsMAndComesBackMaximised() {
        FakeDialogs dialogs;
        start();
        f->setWindowState(Qt::WindowMaximized);
        QVERIFY(w.form2->Saveconfig());
        QCOMPARE(fileLines(configFile()).value(22), QStringLiteral("M"));
        restart();
        QVERIFY(f->isMaximized());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void everyTickedLoadsWithAllDaysTicked() {
        FakeDialogs dialogs;
        start();
        QStringList lines = fileLines(configFile());
        lines[9] = "F Monday";
        lines[16] = "T Every day at :";
        lines[0] = "T something else entirely";
        writeLines(configFile(), lines);
        restart();
        QVERIFY(w.form2->Every->isChecked());
        for (QCheckBox* day : w.form2->dayBoxes())
            QVERIFY2(day->isChecked(), qPrintable(day->text()));
        QVERIFY(w.form2->CheckDelete->isChecked());
    }

    void aShortFileAppliesWhatItHasReportsTheRestAndStartUpGoesOn() {
        FakeDialogs dialogs;
        QStringList lines;
        for (int i = 0; i < 10; ++i)
            lines << "T ticked";
        writeLines(configFile(), lines);
        start();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY2(dialogs.errors[0].contains(configFile()), qPrintable(dialogs.errors[0]));
        QVERIFY2(dialogs.errors[0].contains("Lines 11 to 23 are missing"), qPrintable(dialogs.errors[0]));
        QVERIFY(w.form2->CheckDelete->isChecked());
        QVERIFY(w.form2->Monday->isChecked());
        QVERIFY(!w.form2->Tuesday->isChecked());
        QCOMPARE(w.form2->Edit1->text(), QStringLiteral("12:00"));
        QCOMPARE(w.form9->StringGrid1->rowCount(), 1);
        // The bad file is left alone: nothing is written without a request.
        QCOMPARE(fileLines(configFile()), lines);
    }

    // An empty size line once aborted every start; a bad favourite line cost the favourites after
    // it, and the next save dropped them all.
    void aDamagedFileLoadsAroundItsBadEntriesAndASaveKeepsTheUnreadFavourite() {
        FakeDialogs dialogs;
        start();
        const QSize size = f->size();
        QStringList lines = fileLines(configFile());
        lines[0] = "T Prompt for every Delete";
        lines[20] = "";
        lines[21] = "Wide";
        lines << "/a/*A*x*B*/b/*C*No*D*Broken"
              << "/c/*A*1*B*/d/*C*Yes*D*After";
        writeLines(configFile(), lines);
        restart();
        QCOMPARE(dialogs.errors.size(), 1);
        for (const char* entry : {"Line 21: ", "Line 22: ", "Line 40: "})
            QVERIFY2(dialogs.errors[0].contains(entry), qPrintable(dialogs.errors[0]));
        QVERIFY(w.form2->CheckDelete->isChecked());
        QCOMPARE(f->size(), size);
        QCOMPARE(cell(w.form9->StringGrid1, 0, 1), QStringLiteral("After"));

        w.form9->BitBtn3Click();
        QCOMPARE(fileLines(configFile()).mid(39),
                 QStringList({"/c/*A*1*B*/d/*C*Yes*D*After", "/a/*A*x*B*/b/*C*No*D*Broken"}));
    }

    void aFileThatCannotBeWrittenShowsAnErrorAndNoSuccessMessage() {
        FakeDialogs dialogs;
        start();
        w.form2->CheckCopy->setChecked(true);
        QVERIFY(QDir(settingsFolder()).removeRecursively());
        writeFile(settingsFolder(), "a file where the settings folder was");
        w.form2->BitBtn3Click();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(w.form2->CheckCopy->isChecked());
    }

    void aFolderNamedConfigIniIsReportedAndNotReplaced() {
        FakeDialogs dialogs;
        QVERIFY(QDir().mkpath(configFile()));
        start();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(QFileInfo(configFile()).isDir());
        QVERIFY(w.form9 != nullptr);
    }

    void aSaveGoesToTheFolderOfTheStartEvenAfterTheCurrentFolderChanged() {
        FakeDialogs dialogs;
        start();
        QTemporaryDir elsewhere;
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        w.form2->CheckDelete->setChecked(true);
        w.form9->BitBtn3Click();
        QCOMPARE(dialogs.messages, QStringList({"Configuration saved"}));
        QVERIFY(!QFile::exists(elsewhere.filePath("config.ini")));
        QCOMPARE(fileLines(configFile()).value(0), QStringLiteral("T Prompt for every Delete"));
    }

    // config.ini is used where the program starts when one is there, else in the user's settings
    // folder; the deletion bound of scheduled runs goes beside it, never into its 39 lines.
    void theSettingsLiveInTheStartFolderOnlyWhenItHoldsAConfigIni_data() {
        QTest::addColumn<bool>("configHere");
        QTest::newRow("config.ini in the start folder") << true;
        QTest::newRow("none there: the XDG folder") << false;
    }
    void theSettingsLiveInTheStartFolderOnlyWhenItHoldsAConfigIni() {
        QFETCH(bool, configHere);
        FakeDialogs dialogs;
        if (configHere) {
            start();
            QVERIFY(QFile::copy(configFile(), dir->filePath("config.ini")));
            QVERIFY(QDir(settingsFolder()).removeRecursively());
            restart();
        } else {
            start();
        }
        const QString folder = configHere ? dir->path() : settingsFolder();
        QCOMPARE(QString::fromStdString(w.form2->settingsFolder()), folder + "/");
        w.form2->EditMaxDelete->setText("25%");
        w.form2->BitBtn3Click();
        QCOMPARE(fileLines(folder + "/config.ini").size(), 39);
        QVERIFY(readFile(folder + "/unattended.ini").contains("max-delete-scheduled = 25%"));
        QCOMPARE(QFile::exists(settingsFolder()), !configHere);
        restart();
        QCOMPARE(w.form2->scheduledDeletionBound().text(), std::string("25%"));
        w.form2->EditMaxDelete->setText("most");
        w.form2->BitBtn3Click();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(readFile(folder + "/unattended.ini").contains("max-delete-scheduled = 25%"));
    }

    // What becomes of removed and replaced files (the trash at a first start) and copy verification
    // live in unattended.ini and come back in new windows; config.ini keeps its 39 lines. A relative
    // versions folder is refused.
    void theRemovedFilesChoiceIsSavedBesideConfigIniAndTheTrashIsTheFirstStartsChoice() {
        FakeDialogs dialogs;
        start();
        QVERIFY(w.form2->RadioTrash->isChecked());
        QVERIFY(!w.form2->CheckVerify->isChecked());
        QVERIFY(w.form2->currentSettings().removedFiles == RemovedFiles::Trash);
        w.form2->RadioVersions->setChecked(true);
        QVERIFY(w.form2->takeVersionsFolder("/srv/versions/"));
        w.form2->SpinKeepDays->setValue(30);
        w.form2->CheckVerify->setChecked(true);
        w.form2->BitBtn3Click();
        QCOMPARE(fileLines(configFile()).size(), 39);
        const QByteArray second = readFile(settingsFolder() + "/unattended.ini");
        for (const char* entry : {"removed-files = versions", "versions-folder = /srv/versions",
                                  "versions-keep-days = 30", "verify-copies = yes"})
            QVERIFY2(second.contains(entry), entry);

        restart();
        const Settings s = w.form2->currentSettings();
        QVERIFY(s.removedFiles == RemovedFiles::Versions);
        QCOMPARE(s.versionsFolder, std::string("/srv/versions"));
        QCOMPARE(s.versionsKeepDays, 30);
        QVERIFY(s.verifyCopies);
        w.form2->RadioTrash->setChecked(true);
        w.form2->EditVersions->setText("versions");
        w.form2->BitBtn3Click();
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(readFile(settingsFolder() + "/unattended.ini").contains("removed-files = versions"));
    }

    // With size and name alone an edited file of the same size counted as unchanged: a backup left
    // B's old copy in place and said all was well. A first start matches the time too, and keeps the
    // replaced file in the trash.
    void aFirstStartCopiesAnEditedFileOfTheSameSizeAndKeepsTheOldOneInTheTrash() {
        FakeDialogs dialogs;
        qputenv("XDG_DATA_HOME", dir->filePath("data").toUtf8());
        start();
        QVERIFY(w.form2->CheckTimeStamp->isChecked());
        QVERIFY(w.form2->CheckBoxConfirm->isChecked());
        TwoLocations t;
        writeFile(t.a + "/notes.txt", "edited text", 1800000000);
        writeFile(t.b + "/notes.txt", "older text!", 1700000000);
        t.setOn(f);
        f->setModeIndex(0);
        f->BitBtn6Click();
        QVERIFY(w.form3->isVisible());
        w.form3->BitBtn3Click();
        QCOMPARE(readFile(t.b + "/notes.txt"), QByteArray("edited text"));
        QCOMPARE(readFile(dir->filePath("data/Trash/files/notes.txt")), QByteArray("older text!"));
        const QStringList box = dialogs.messages.value(dialogs.messages.size() - 1).split('\n');
        QCOMPARE(box.mid(0, 2), QStringList({"Synchronisation FINISHED!", "1 done, 0 failed, 0 skipped"}));
        QVERIFY(box.contains("1 file went to the trash; the file manager can put them back."));
    }

    // Settings files that exist keep what they hold: a config.ini without the time criterion, and
    // without an unattended.ini (an older version's) or with one that says delete, loads so.
    void existingSettingsFilesKeepWhatTheyHold_data() {
        QTest::addColumn<QString>("unattended"); // empty: no unattended.ini
        QTest::addColumn<int>("removal");
        QTest::newRow("config.ini alone") << QString() << int(RemovedFiles::Delete);
        QTest::newRow("unattended.ini says delete") << "removed-files = delete" << int(RemovedFiles::Delete);
        QTest::newRow("unattended.ini says versions")
            << "removed-files = versions" << int(RemovedFiles::Versions);
    }
    void existingSettingsFilesKeepWhatTheyHold() {
        QFETCH(QString, unattended);
        QFETCH(int, removal);
        FakeDialogs dialogs;
        start();
        QStringList lines = fileLines(configFile());
        lines[6] = "F Match Modified TimeStamp";
        writeLines(configFile(), lines);
        QVERIFY(QFile::remove(settingsFolder() + "/unattended.ini"));
        if (!unattended.isEmpty())
            writeLines(settingsFolder() + "/unattended.ini", {unattended});
        restart();
        QVERIFY(dialogs.errors.isEmpty());
        QVERIFY(!w.form2->CheckTimeStamp->isChecked());
        QCOMPARE(int(w.form2->currentSettings().removedFiles), removal);
        QCOMPARE(fileLines(configFile()), lines); // nothing written without a request
        // What the files hold is what the window shows: leaving asks nothing.
        f->show();
        f->close();
        QVERIFY(!f->isVisible());
        QVERIFY(dialogs.saveQuestions.isEmpty());
    }

    // Every setting of the window, the newer ones included, makes leaving ask; after a save nothing
    // does. A changed removal choice was once lost without a word.
    void leavingAfterAnyChangedSettingAsksAndASaveKeepsIt_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("entry"); // what unattended.ini holds after the save
        for (const char* change : {"delete them", "versions folder", "versions days", "verify copies",
                                   "deletion bound", "leave out", "time criterion",
                                   "hard links", "compare attributes"}) {
            const QString entry = QString(change) == "delete them"       ? "removed-files = delete"
                                  : QString(change) == "versions folder" ? "removed-files = versions"
                                  : QString(change) == "versions days"   ? "versions-keep-days = 7"
                                  : QString(change) == "verify copies"   ? "verify-copies = yes"
                                  : QString(change) == "deletion bound"  ? "max-delete-scheduled = 20%"
                                  : QString(change) == "leave out"       ? "leave-out = node_modules/"
                                  : QString(change) == "hard links"      ? "hard-links = yes"
                                  : QString(change) == "compare attributes" ? "compare-attributes = yes"
                                                                         : "";
            QTest::newRow(change) << QString(change) << entry;
        }
    }
    void leavingAfterAnyChangedSettingAsksAndASaveKeepsIt() {
        QFETCH(QString, change);
        QFETCH(QString, entry);
        FakeDialogs dialogs;
        start();
        f->show();
        TForm2* c = w.form2;
        if (change == "delete them") {
            c->RadioDelete->setChecked(true);
        } else if (change == "versions folder") {
            c->RadioVersions->setChecked(true);
            QVERIFY(c->takeVersionsFolder(dir->filePath("versions")));
        } else if (change == "versions days") {
            c->SpinKeepDays->setValue(7);
        } else if (change == "verify copies") {
            c->CheckVerify->setChecked(true);
        } else if (change == "deletion bound") {
            c->EditMaxDelete->setText("20%");
        } else if (change == "leave out") {
            c->MemoLeaveOut->setPlainText("node_modules/");
        } else if (change == "hard links") {
            c->CheckHardLinks->setChecked(true);
        } else if (change == "compare attributes") {
            c->CheckXattrs->setChecked(true);
        } else {
            c->CheckTimeStamp->setChecked(false);
        }
        dialogs.saveAnswers = {SaveAnswer::Cancel, SaveAnswer::Save};
        f->close();
        QCOMPARE(dialogs.saveQuestions.size(), 1);
        QVERIFY(dialogs.saveQuestions[0].startsWith("Save configuration?"));
        QVERIFY(f->isVisible());
        f->close();
        QCOMPARE(dialogs.saveQuestions.size(), 2);
        QVERIFY(!f->isVisible());
        if (!entry.isEmpty())
            QVERIFY2(readFile(settingsFolder() + "/unattended.ini").contains(entry.toUtf8()),
                     qPrintable(entry));
        restart();
        f->show();
        f->close();
        QCOMPARE(dialogs.saveQuestions.size(), 2);
        QVERIFY(dialogs.errors.isEmpty());
    }

    void aDeletionBoundThatIsNoneAsksAndIsNotSaved() {
        FakeDialogs dialogs;
        start();
        f->show();
        w.form2->EditMaxDelete->setText("most");
        dialogs.saveAnswers = {SaveAnswer::Save};
        f->close();
        QCOMPARE(dialogs.saveQuestions.size(), 1);
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY(f->isVisible()); // the save failed: the window stays
        QVERIFY(readFile(settingsFolder() + "/unattended.ini").contains("max-delete-scheduled = 50%"));
    }

    // A versions folder that a run would refuse is refused when it is typed or chosen, with the run's
    // reason, and the field goes back to the folder taken before; one a run can use is taken, cleaned.
    void aVersionsFolderThatARunWouldRefuseIsRefusedWhenChosen_data() {
        QTest::addColumn<QString>("folder"); // below the case's folder unless absolute; see the test
        QTest::addColumn<bool>("typed");     // typed and Enter, or chosen in the folder dialog
        QTest::addColumn<QString>("reason"); // empty: taken
        QTest::newRow("a folder of other files")
            << "photos" << true << "holds files that Paritas did not put there";
        QTest::newRow("a folder of other files, chosen")
            << "photos" << false << "holds files that Paritas did not put there";
        QTest::newRow("inside location A") << "A/versions" << true << "lies inside location";
        QTest::newRow("holding location B") << "." << false << "lies inside the versions folder";
        QTest::newRow("a file") << "notes.txt" << true << "is a file, not a folder";
        QTest::newRow("a relative path") << "relative" << true << "is not an absolute folder path";
        QTest::newRow("an empty folder") << "empty/" << true << "";
        QTest::newRow("a marked folder of versions") << "kept" << false << "";
        QTest::newRow("a folder not made yet") << "later/versions" << true << "";
    }
    void aVersionsFolderThatARunWouldRefuseIsRefusedWhenChosen() {
        QFETCH(QString, folder);
        QFETCH(bool, typed);
        QFETCH(QString, reason);
        FakeDialogs dialogs;
        start();
        const QString root = dir->path();
        QVERIFY(QDir().mkpath(root + "/A") && QDir().mkpath(root + "/B") && QDir().mkpath(root + "/empty"));
        writeFile(root + "/photos/holiday.jpg", "jpg");
        writeFile(root + "/notes.txt", "notes");
        writeFile(root + "/kept/.paritas-versions-folder", "");
        writeFile(root + "/kept/docs/report12_09_26 10_15_30.txt", "old report");
        f->Edit1->setText(root + "/A/");
        f->Edit2->setText(root + "/B/");
        TForm2* c = w.form2;
        c->show();
        c->RadioVersions->setChecked(true);
        QVERIFY(c->takeVersionsFolder(root + "/empty"));
        const QString path = folder == "relative" ? folder : QDir::cleanPath(root + "/" + folder);
        if (typed) {
            c->EditVersions->setText(folder == "relative" ? folder : root + "/" + folder);
            QTest::keyClick(c->EditVersions, Qt::Key_Return);
        } else {
            dialogs.folderChosen = path;
            c->ButtonVersions->click();
        }
        if (reason.isEmpty()) {
            QVERIFY2(dialogs.errors.isEmpty(), qPrintable(dialogs.errors.join('\n')));
            QCOMPARE(c->EditVersions->text(), path);
            QCOMPARE(QString::fromStdString(c->currentSettings().versionsFolder), path);
            QVERIFY(!QFile::exists(root + "/empty/.paritas-versions-folder")); // nothing marked yet
        } else {
            QCOMPARE(dialogs.errors.size(), 1);
            QVERIFY2(dialogs.errors[0].contains(reason), qPrintable(dialogs.errors[0]));
            QVERIFY2(dialogs.errors[0].startsWith("This versions folder is refused: "),
                     qPrintable(dialogs.errors[0]));
            QCOMPARE(c->EditVersions->text(), root + "/empty");
            QCOMPARE(QString::fromStdString(c->currentSettings().versionsFolder), root + "/empty");
        }
        QCOMPARE(readFile(root + "/photos/holiday.jpg"), QByteArray("jpg"));
    }

    // The locations, the mode and "Include Subfolders" of the last session come back at the next
    // start; they are kept without a question. A location that is gone comes back empty.
    void theLastLocationsAndModeComeBackAtTheNextStart() {
        FakeDialogs dialogs;
        start();
        TwoLocations t;
        f->show();
        t.setOn(f);
        f->setModeIndex(2);
        f->CheckBox1->setChecked(false);
        f->close();
        QVERIFY(dialogs.saveQuestions.isEmpty());
        QCOMPARE(fileLines(configFile()).size(), 39);
        const QByteArray second = readFile(settingsFolder() + "/unattended.ini");
        for (const QString& entry : {"last-location-a = " + t.a + "/", "last-location-b = " + t.b + "/",
                                     QString("last-mode = 2"), QString("last-subfolders = no")})
            QVERIFY2(second.contains(entry.toUtf8()), qPrintable(entry));
        restart();
        QCOMPARE(f->Edit1->text(), t.a + "/");
        QCOMPARE(f->Edit2->text(), t.b + "/");
        QCOMPARE(f->modeIndex(), 2);
        QVERIFY(!f->CheckBox1->isChecked());
        QTRY_COMPARE(f->chooserA->selectedFolder(), t.a);

        QVERIFY(QDir(t.b).removeRecursively());
        f->show();
        f->close();
        restart();
        QCOMPARE(f->Edit1->text(), t.a + "/");
        QCOMPARE(f->Edit2->text(), QString());
        QVERIFY(dialogs.saveQuestions.isEmpty());
        QVERIFY(dialogs.errors.isEmpty());
    }

    void aNightlyFavouriteRunsWithItsOwnLocationsModeAndSubfolderOption() {
        FakeDialogs dialogs;
        start();
        TwoLocations t;
        writeFile(t.a + "/top.txt", "top");
        writeFile(t.a + "/sub/deep.txt", "deep");
        t.setOn(f);
        f->setModeIndex(2); // copy missing
        f->CheckBox1->setChecked(false);
        dialogs.inputs.push_back(QStringLiteral("Nightly"));
        f->SpeedButton1Click();
        QCOMPARE(dialogs.inputQuestions, QStringList({"Input Name|Type a name for this synchronization:"}));
        QVERIFY(w.form9->isVisible());
        QCOMPARE(w.form9->Mode->text(), QString::fromLatin1(kModeNames[2].data(), kModeNames[2].size()));
        QTableWidget* table = w.form9->StringGrid1;
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(cell(table, 0, 1), QStringLiteral("Nightly"));
        QCOMPARE(cell(table, 0, 5), QStringLiteral("No"));

        // The main window moves on to something else; Execute brings the favourite back.
        f->Edit1->setText("/elsewhere/");
        f->Edit2->clear();
        f->CheckBox1->setChecked(true);
        f->setModeIndex(0);
        table->selectRow(0);
        QCOMPARE(w.form9->LocA->text(), t.a + "/");
        QCOMPARE(w.form9->SubFolders->text(), QStringLiteral("No"));
        w.form9->BitBtn1Click();
        QCOMPARE(f->Edit1->text(), t.a + "/");
        QCOMPARE(f->Edit2->text(), t.b + "/");
        QVERIFY(!f->CheckBox1->isChecked());
        QCOMPARE(f->modeIndex(), 2);
        // The review is on: the analysis ran and its list waits in the review window.
        QVERIFY(w.form3->isVisible());
        // Without subfolders only the top file is planned.
        QVERIFY(!f->session().actions().empty());
        bool top = false;
        for (const std::string& line : planLines(f)) {
            QVERIFY2(line.find("deep.txt") == std::string::npos, line.c_str());
            top = top || line.find("top.txt") != std::string::npos;
        }
        QVERIFY(top);
        QVERIFY(w.form9->isVisible());
    }

    void executeNeverStartsARunWhileAnotherHoldsTheMainWindow() {
        FakeDialogs dialogs;
        start();
        dialogs.inputs.push_back(QStringLiteral("Nightly"));
        f->Edit1->setText("/favourite/");
        f->SpeedButton1Click();
        f->Edit1->setText("/current/");
        w.form9->StringGrid1->selectRow(0);
        f->beginBusy();
        w.form9->BitBtn1Click();
        f->endBusy();
        QCOMPARE(f->Edit1->text(), QStringLiteral("/current/"));
        f->BitBtn6->setEnabled(false); // the schedule holds the button
        w.form9->BitBtn1Click();
        QCOMPARE(f->Edit1->text(), QStringLiteral("/current/"));
        QVERIFY(!w.form3->isVisible());
    }

    // Such a favourite once ran the main window's mode: a backup deleted B's file.
    void aFavouriteWithoutAModeRunsNothingAndSaysSo() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.b + "/only-in-b.txt", "keep");
        start();
        QStringList lines = fileLines(configFile());
        lines[3] = "F Confirm Action list before File changes"; // a run would act at once
        lines << t.a + "/*A*7*B*" + t.b + "/*C*Yes*D*Odd";
        writeLines(configFile(), lines);
        restart();
        f->setModeIndex(0);
        f->Edit1->setText("/current/");
        w.form9->StringGrid1->selectRow(0);
        w.form9->BitBtn1Click();
        QCOMPARE(readFile(t.b + "/only-in-b.txt"), QByteArray("keep"));
        const QString why =
            "Favourite \"Odd\" not run: its Synch Mode names none of the synchronisation modes";
        QCOMPARE(dialogs.messages, QStringList({why}));
        QVERIFY(logHas(f, why));
        QCOMPARE(f->modeIndex(), 0);
        QCOMPARE(f->Edit1->text(), QStringLiteral("/current/"));
    }

    void aCancelledOrEmptyNameAddsNothing() {
        FakeDialogs dialogs;
        start();
        dialogs.inputs.push_back(std::nullopt);
        f->SpeedButton1Click();
        dialogs.inputs.push_back(QString());
        f->SpeedButton1Click();
        QCOMPARE(w.form9->StringGrid1->rowCount(), 1);
        QCOMPARE(cell(w.form9->StringGrid1, 0, 1), QString());
        QVERIFY(!w.form9->isVisible());
    }

    void deletingMovesTheRowsBelowUpAndTheOpenRowStays() {
        FakeDialogs dialogs;
        start();
        QTableWidget* table = w.form9->StringGrid1;
        dialogs.inputs = {QStringLiteral("One"), QStringLiteral("Two")};
        f->SpeedButton1Click();
        f->SpeedButton1Click();
        QCOMPARE(table->rowCount(), 3);
        table->selectRow(2); // the open row never goes
        w.form9->BitBtn2Click();
        QCOMPARE(table->rowCount(), 3);
        table->selectRow(0);
        w.form9->BitBtn2Click();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(cell(table, 0, 1), QStringLiteral("Two"));
        table->selectRow(0);
        w.form9->BitBtn2Click();
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(cell(table, 0, 1), QString());
        QVERIFY(dialogs.confirmations.isEmpty());
    }

    void aFavouriteMovedToTheTopIsSavedFirst() {
        FakeDialogs dialogs;
        start();
        dialogs.inputs = {QStringLiteral("First"), QStringLiteral("Second")};
        f->SpeedButton1Click();
        f->SpeedButton1Click();
        w.form9->moveFavourite(1, 0);
        w.form9->moveFavourite(0, 5); // beyond the end: last favourite, above the open row
        w.form9->moveFavourite(1, 0);
        QCOMPARE(w.form9->StringGrid1->rowCount(), 3);
        QVERIFY(w.form2->Saveconfig());
        const QStringList lines = fileLines(configFile());
        QCOMPARE(lines.size(), 41);
        QVERIFY2(lines[39].endsWith("*D*Second"), qPrintable(lines[39]));
        QVERIFY2(lines[40].endsWith("*D*First"), qPrintable(lines[40]));
    }

    void theNameColumnTakesTwoThirdsOfTheTableByIntegerDivision() {
        FakeDialogs dialogs;
        start();
        TForm9* fav = w.form9;
        fav->resize(330, 432); // the table is 314 wide
        fav->FormResize();
        QCOMPARE(fav->StringGrid1->width(), 314);
        QCOMPARE(fav->StringGrid1->columnWidth(1), 208);
        fav->resize(417, 432); // 401 / 3 * 2, not 401 * 2 / 3
        fav->FormResize();
        QCOMPARE(fav->StringGrid1->columnWidth(1), 266);
        for (int c = 2; c <= 5; ++c)
            QCOMPARE(fav->StringGrid1->columnWidth(c), 1);
    }
};

QTEST_MAIN(ConfigWindowTest)
#include "config_window_test.moc"
