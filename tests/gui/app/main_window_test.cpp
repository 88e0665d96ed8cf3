#include "support/fake_dialogs.h"

#include "support/gui_fixture.h"

#include "core/base/modes.h"
#include "gui/app/activity_log.h"
#include "gui/app/application.h"
#include "gui/app/location_chooser.h"
#include "gui/app/log_view.h"
#include "gui/app/tform1.h"
#include "gui/app/tform10.h"
#include "gui/app/tform5.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/jobs/tform9.h"
#include "gui/settings/tform2.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>

using namespace paritas;
using namespace paritas::gui;

class MainWindowTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    // Sizes in the rules are outer sizes, frame included.
    void resizeOuter(int W, int H) {
        const QSize frame = f->frameGeometry().size() - f->size();
        f->resize(W - frame.width(), H - frame.height());
    }
    int outerHeight() const { return f->frameGeometry().height(); }

    void init() {
        w = createWindows();
        f = w.form1;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
    }
    void cleanup() { destroyWindows(w); }

    void eightWindowsExistWithTheirCaptionsAndOnlyTheMainOneShows() {
        QCOMPARE(f->windowTitle(), QStringLiteral("Paritas 1.0"));
        const QList<QPair<QWidget*, QString>> secondary = {{w.form2, "Configuration"},
                                                           {w.form3, "File Action List"},
                                                           {w.form5, "Descriptions of Synchronize Modes"},
                                                           {w.crcMatch, "CRC Matching A-B"},
                                                           {w.form9, "Favorites"},
                                                           {w.form10, "Developer Info"},
                                                           {w.form11, "Stop Actions"}};
        for (const auto& [window, caption] : secondary) {
            QVERIFY(window != nullptr);
            QCOMPARE(window->windowTitle(), caption);
            QVERIFY(!window->isVisible());
        }
    }

    void showingAndClosingASecondaryWindowOnlyHidesIt() {
        f->ShowDescriptions1Click();
        QVERIFY(w.form5->isVisible());
        QVERIFY(w.form5->close());
        QVERIFY(!w.form5->isVisible());
        f->ShowDescriptions1Click();
        QVERIFY(w.form5->isVisible());
        f->Configuration1Click();
        QVERIFY(w.form2->isVisible());
        f->Developerinfo1Click();
        QVERIFY(w.form10->isVisible());
    }

    void mainWindowStartsWithItsDesignState() {
        QCOMPARE(f->Edit1->text(), QString());
        QCOMPARE(f->Edit2->text(), QString());
        QVERIFY(f->Edit1->isReadOnly());
        QVERIFY(f->CheckBox1->isChecked());
        QCOMPARE(f->CheckBox1->text(), QStringLiteral("Include Subfolders"));
        QVERIFY(!f->BitBtn5->isEnabled());
        QCOMPARE(f->BitBtn5->text(), QStringLiteral("Stop All Actions"));
        QCOMPARE(f->modeIndex(), 0);
        QCOMPARE(f->RadioGroup1->title(), QStringLiteral("Synchonize Mode"));
        QCOMPARE(f->RadioGroup1->toolTip(), QStringLiteral("Right Click To Show Desciptions"));
        const QStringList modes = {"BACKUP (ADVANCED) A to B ", "FOLDER SYNCH - Union of A and B ",
                                   "COPY MISSING - from A to B ", "DELETE DUPLICATES in B "};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(f->radioButtons->button(i)->text(), modes[i]);
        QCOMPARE(f->ShowDescriptions1->text(), QStringLiteral("Show Descriptions"));
        QCOMPARE(f->StatusPanelA->text(), QStringLiteral("Files/Folders A:"));
        QCOMPARE(f->StatusPanelB->text(), QStringLiteral("Files/Folders B:"));
        QCOMPARE(f->Label9->text(), QStringLiteral("Synchronize Progress"));
        QCOMPARE(f->Label6->text(), QStringLiteral("Activity Log"));
        QCOMPARE(f->Label10->text(), QStringLiteral("Sync Job List"));
        QCOMPARE(f->Label3->text(), QStringLiteral("Source Location"));
        QCOMPARE(f->Label5->text(), QStringLiteral("Destination Location"));
        QCOMPARE(f->BitBtn7->text(), QStringLiteral("Refresh A/B "));
        QCOMPARE(f->BitBtn7->toolTip(), QStringLiteral("Refresh A/B Folder trees"));
        QCOMPARE(f->BitBtn3->toolTip(), QStringLiteral("Automatic without prompting"));
        QCOMPARE(f->BitBtn4->text(), QStringLiteral("Schedule Job List Procesing"));
        QCOMPARE(f->StringGrid3->rowCount(), 1);
        QStringList headers;
        for (int c = 0; c < 5; ++c)
            headers << f->StringGrid3->horizontalHeaderItem(c)->text();
        QCOMPARE(headers, QStringList({"Status", "Location A", "Synch Mode", "Location B", "Subfolders"}));
        QCOMPARE(f->ToolButton4->toolTip(), QStringLiteral("Save Job List"));
        QCOMPARE(f->ToolButton5->toolTip(), QStringLiteral("Load Job List"));
        QCOMPARE(f->SpeedButton1->toolTip(), QStringLiteral("Add to Favorite Synchronizations"));
        QCOMPARE(f->SpeedButton2->toolTip(), QStringLiteral("Favorite Synchronizations"));
        QCOMPARE(f->ToolButton1->toolTip(), QStringLiteral("Configuration"));
        QCOMPARE(f->ToolButton2->toolTip(), QStringLiteral("Export Log"));
    }

    // The captions as the user reads them (the mnemonics' underlines are no part of the text), and
    // every menu and command reachable by its mnemonic.
    void menusHoldTheirCommandsAndSeparators() {
        QStringList seen;
        for (QAction* menu : f->menuBar()->actions()) {
            QStringList items;
            for (QAction* a : menu->menu()->actions()) {
                QVERIFY2(a->isSeparator() || a->text().contains('&'), qPrintable(a->text()));
                items << (a->isSeparator() ? QStringLiteral("-") : a->text().remove('&'));
            }
            QVERIFY2(menu->text().contains('&'), qPrintable(menu->text()));
            seen << menu->text().remove('&') + ": " + items.join('|');
        }
        QCOMPARE(seen, QStringList({"Main: Configuration|Export Activity Log|-|Exit",
                                    "Actions/Diagnostics: CRC Matching A -> B|-|Delete duplicates within A",
                                    "View: Compact|Normal", "About: Visit Web Help|-|Developer info"}));
        QVERIFY(f->Normal1->isChecked());
        QVERIFY(!f->Compact1->isChecked());
    }

    void webHelpAndTheDeveloperLinkGoToTheOpener() {
        gui::testing::FakeDialogs dialogs;
        f->Help1Click();
        w.form10->Label1Click();
        QCOMPARE(dialogs.opened, QStringList({QString(kWebSite) + "tutorials.htm", QString(kWebSite)}));
    }

    void modeDescriptionsHoldTheFortyFourLinesExactly() {
        const QStringList lines = TForm5::descriptionLines();
        QCOMPARE(lines.size(), 44);
        QCOMPARE(lines[0], QStringLiteral("BACKUP (ADVANCED) A to B:"));
        QCOMPARE(lines[24], QStringLiteral("folders.  "));
        QCOMPARE(lines[26], QStringLiteral("COPY MISSING "));
        QCOMPARE(lines[39],
                 QStringLiteral(
                     "Use this if you want to find duplicates in B folder that is not a subfolder of A."));
        QCOMPARE(lines[43], QString());
        QCOMPARE(w.form5->Memo1->toPlainText(), lines.join('\n'));
        QVERIFY(w.form5->Memo1->isReadOnly());
    }

    void exportingTwiceToTheSameFileKeepsOnlyTheSecond() {
        gui::testing::FakeDialogs dialogs;
        QTemporaryDir dir;
        dialogs.saveName = dir.filePath("ActionLog.txt");
        f->log(QStringLiteral("first line"));
        f->ExportActivityLog1Click();
        f->log(QStringLiteral("second line"));
        f->ExportActivityLog1Click();
        QFile file(dialogs.saveName);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("first line\r\nsecond line\r\n"));
        QVERIFY(dialogs.errors.isEmpty());
    }

    void aCancelledExportWritesNothingAndAnUncreatableFileIsReported() {
        gui::testing::FakeDialogs dialogs;
        QTemporaryDir dir;
        f->log(QStringLiteral("kept"));
        f->ExportActivityLog1Click(); // saveName empty: cancelled
        QVERIFY(dialogs.errors.isEmpty());
        dialogs.saveName = dir.filePath("no/such/folder/log.txt");
        f->ExportActivityLog1Click();
        QCOMPARE(dialogs.errors.size(), 1);
        QCOMPARE(
            dialogs.errors[0],
            QStringLiteral("Cannot create file \"%1\". No such file or directory").arg(dialogs.saveName));
        QCOMPARE(f->activityLog().lines(), QStringList({"kept"}));
    }

    void choosingAFolderGivesItExactlyOneTrailingSeparator() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("Docs"));
        QVERIFY(f->chooserA->selectFolder(dir.filePath("Docs")));
        f->chooserA->takeSelection();
        QCOMPARE(f->Edit1->text(), dir.filePath("Docs") + "/");
        QVERIFY(f->chooserB->selectFolder("/"));
        QTRY_COMPARE(f->Edit2->text(), QStringLiteral("/"));
    }

    void withNoFolderSelectedTheLocationStaysEmpty() {
        f->chooserA->takeSelection();
        QCOMPARE(f->Edit1->text(), QString());
    }

    void compactHidesTheJobAreaAndPinsTheHeightNormalBringsItBack() {
        resizeOuter(876, 691);
        QTRY_COMPARE(outerHeight(), 691);
        QCOMPARE(f->Label9->y(), 446);
        QCOMPARE(f->ProgressBar1->y(), 462);
        QCOMPARE(f->Label1->y(), 479);
        f->Compact1Click();
        QTRY_COMPARE(outerHeight(), 430);
        QVERIFY(!f->StringGrid3->isVisible());
        QVERIFY(!f->Memo3->isVisible());
        QCOMPARE(f->Label9->y(), 306);
        QCOMPARE(f->ProgressBar1->y(), 320);
        QCOMPARE(f->lblActionCount->y(), 341);
        resizeOuter(900, 600);
        QTRY_COMPARE(outerHeight(), 430);
        f->Normal1Click();
        QTRY_VERIFY(f->height() >= 650);
        QVERIFY(f->StringGrid3->isVisible());
        QVERIFY(f->Memo3->isVisible());
    }

    void theWidthRulesPlaceTheMiddleAndRightColumns() {
        for (int width : {876, 877}) {
            resizeOuter(width, 691);
            QTRY_COMPARE(f->frameGeometry().width(), width);
            QCOMPARE(f->ShellTreeView1->width(), 265);
            QCOMPARE(f->Edit1->width(), 265);
            QCOMPARE(f->ShellTreeView2->x(), 590);
            QCOMPARE(f->ShellTreeView2->width(), 263);
            QCOMPARE(f->RadioGroup1->x(), 286);
        }
        resizeOuter(926, 691);
        QTRY_COMPARE(f->StringGrid3->width(), 900);
        // The rules' widths (900 / 9 and 900 / 3), but the mode column shows the longest mode name whole
        // and every column fits beside the vertical scroll bar: the location columns give up the rest in
        // equal parts.
        QList<int> columns;
        int total = 0;
        for (int c = 0; c < 5; ++c) {
            columns << f->StringGrid3->columnWidth(c);
            total += columns.back();
        }
        QCOMPARE(columns[0], 100);
        QCOMPARE(columns[4], 100);
        const int longestMode = f->StringGrid3->fontMetrics().horizontalAdvance(
            QString::fromLatin1(kModeNames[0].data(), kModeNames[0].size()));
        QVERIFY2(columns[2] > longestMode && columns[2] > 100, qPrintable(QString::number(columns[2])));
        QVERIFY(qAbs(columns[1] - columns[3]) <= 1);
        QVERIFY(columns[1] < 300);
        const int room =
            900 - 2 * f->StringGrid3->frameWidth() -
            f->StringGrid3->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, f->StringGrid3);
        QCOMPARE(total, room);
    }

    void ctrlQLeavesAndEscapeClosesASecondaryWindow() {
        gui::testing::FakeDialogs dialogs;
        const QList<QWidget*> secondary = {w.form2, w.form3, w.form5, w.crcMatch, w.form9, w.form10};
        for (QWidget* window : secondary) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QTest::keyClick(window, Qt::Key_Escape);
            QVERIFY2(!window->isVisible(), window->metaObject()->className());
        }
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
        QTest::keyClick(f, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!f->isVisible());
        QVERIFY(dialogs.saveQuestions.isEmpty()); // nothing changed since the configuration was saved
    }

    // Leaving with favourites or settings changed since the last save asks first; Don't Save leaves
    // as before, Save writes config.ini and leaves, Cancel stays.
    void leavingAfterAChangeAsksWhetherToSaveTheConfiguration_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<SaveAnswer>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("left");
        QTest::newRow("nothing changed") << "none" << SaveAnswer::Save << false << false << true;
        QTest::newRow("a favourite, Save") << "favourite" << SaveAnswer::Save << true << true << true;
        QTest::newRow("a favourite, Don't Save")
            << "favourite" << SaveAnswer::DontSave << true << false << true;
        QTest::newRow("a setting, Cancel") << "setting" << SaveAnswer::Cancel << true << false << false;
        QTest::newRow("the window's size only") << "size" << SaveAnswer::Save << false << false << true;
    }
    void leavingAfterAChangeAsksWhetherToSaveTheConfiguration() {
        QFETCH(QString, change);
        QFETCH(SaveAnswer, answer);
        QFETCH(bool, asked);
        QFETCH(bool, saved);
        QFETCH(bool, left);
        gui::testing::FakeDialogs dialogs;
        dialogs.saveAnswers = {answer};
        // config.ini lies where the configuration window keeps it (the current folder or the user's
        // configuration folder).
        const QString config = QString::fromStdString(w.form2->settingsFolder()) + "config.ini";
        const QByteArray before = gui::testing::readFile(config);
        if (change == "favourite")
            w.form9->appendFavourite({"Photos", "/a/", "BACKUP (ADVANCED) A to B ", "/b/", "Yes"});
        else if (change == "setting")
            w.form2->CheckTimeStamp->setChecked(!w.form2->CheckTimeStamp->isChecked());
        else if (change == "size")
            f->resize(f->width() + 40, f->height() + 30);
        f->Exit1Click();
        QCOMPARE(dialogs.saveQuestions.size(), asked ? 1 : 0);
        if (asked)
            QVERIFY(dialogs.saveQuestions[0].startsWith("Save configuration?"));
        QCOMPARE(gui::testing::readFile(config) != before, saved);
        if (saved)
            QVERIFY(gui::testing::readFile(config).contains("*Photos"));
        QCOMPARE(!f->isVisible(), left);
    }

    // The title bar reads the caption alone; the windows carry the program's icon and belong to its
    // desktop entry.
    void theProgramCarriesItsIconAndDesktopEntry() {
        QApplication* app = qApp;
        setUpApplication(*app);
        QCOMPARE(QGuiApplication::desktopFileName(), QStringLiteral("paritas"));
        QCOMPARE(QApplication::applicationName(), QStringLiteral("Paritas"));
        QVERIFY(!QApplication::windowIcon().isNull());
        QVERIFY(!QApplication::windowIcon().pixmap(48, 48).isNull());
        QCOMPARE(f->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
        QCOMPARE(f->windowHandle()->title(), QStringLiteral("Paritas 1.0"));
    }

    // The program starts with the settings of a first start: the review, size, name and modified time
    // as same-file criteria, the newer file kept, removed files to the trash. A configuration window
    // that has read no settings file holds what a reader assumes for a missing entry.
    void configurationStartsWithTheFirstStartSettings() {
        TForm2* c = w.form2;
        for (QCheckBox* on :
             {c->CheckBoxConfirm, c->CheckSize, c->CheckName, c->CheckTimeStamp, c->CheckNewer})
            QVERIFY2(on->isChecked(), qPrintable(on->text()));
        for (QCheckBox* off : {c->CheckDelete, c->CheckCreate, c->CheckCopy, c->CheckKeepOld, c->Monday,
                               c->Tuesday, c->Wednesday, c->Thursday, c->Friday, c->Saturday, c->Sunday,
                               c->Every, c->SaveLog, c->CheckVerify})
            QVERIFY2(!off->isChecked(), qPrintable(off->text()));
        QVERIFY(c->RadioTrash->isChecked());
        // The time field's default until the settings file is loaded at start-up (which then gives it the
        // time of the first start, or the saved time).
        const TForm2 unloaded(nullptr);
        QCOMPARE(unloaded.Edit1->text(), QStringLiteral("12:00"));
        QVERIFY(!unloaded.CheckTimeStamp->isChecked());
        QVERIFY(unloaded.RadioDelete->isChecked());
        QCOMPARE(c->CheckDelete->text(), QStringLiteral("Prompt for every Delete"));
        QCOMPARE(c->CheckBoxConfirm->text(), QStringLiteral("Confirm Action list before File changes"));
        QCOMPARE(c->CheckNewer->text(),
                 QStringLiteral("Leave file with newer modified date (Unchecked leaves older file)"));
        QCOMPARE(c->CheckKeepOld->text(), QStringLiteral("Also keep other file - rename File+ModifiedDate"));
        QCOMPARE(c->CheckName->toolTip(), QStringLiteral("Slower, increases match acuracy "));
        QCOMPARE(c->CheckSize->toolTip(), QStringLiteral("Fast, esential for acurate match"));
        QCOMPARE(c->GroupBox3->title(), QStringLiteral("Same FileName and Location coflict resolution"));
        QCOMPARE(c->Every->text(), QStringLiteral("Every day at :"));
        QCOMPARE(c->SaveLog->text(), QStringLiteral("Save log file After scheduled job finishes"));
        const Settings s = f->currentSettings();
        QVERIFY(s.CheckBoxConfirm && s.CheckSize && s.CheckName && s.CheckNewer && s.CheckTimeStamp);
        QVERIFY(s.removedFiles == RemovedFiles::Trash);
    }

    void aSettingChangedInTheWindowReachesTheNextOperationWithoutSaving() {
        w.form2->CheckBoxConfirm->setChecked(false);
        w.form2->CheckTimeStamp->setChecked(true);
        const Settings s = f->currentSettings();
        QVERIFY(!s.CheckBoxConfirm);
        QVERIFY(s.CheckTimeStamp);
    }

    void everyDayTicksAndUnticksAllSevenDays() {
        w.form2->Tuesday->setChecked(true);
        w.form2->Every->setChecked(true);
        for (QCheckBox* day : w.form2->dayBoxes())
            QVERIFY(day->isChecked());
        w.form2->Every->setChecked(false);
        for (QCheckBox* day : w.form2->dayBoxes())
            QVERIFY(!day->isChecked());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
