// The main window after a run, whichever started it (Analyse/Synchronize Now, the review, the job
// list): the keyboard works in it at once, the trees and drop-downs show the locations the boxes hold,
// the status bar counts what is there now, and the end says honestly what happened: one count of
// failures everywhere, "Stopped" for a stopped run with a bar that is not full, what the lines did,
// and one line when there was nothing to do.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/app/keep_alive.h"
#include "gui/app/location_chooser.h"
#include "gui/app/log_view.h"
#include "gui/execution/action_review_model.h"
#include "gui/execution/run_ending.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/execution/tprogressform.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>
#include <QWindow>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

namespace {

// A job for location a, copy missing, location b, with subfolders.
void addCopyJob(TForm1* f, const QString& a, const QString& b) {
    f->Edit1->setText(a + "/");
    f->Edit2->setText(b + "/");
    f->setModeIndex(2);
    f->CheckBox1->setChecked(true);
    f->BitBtn1Click();
}

// "Good Actions (g) Bad Actions (b)" of the progress label, as "g done, b failed".
QString labelCounts(const QLabel* label) {
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Good Actions ?\\((\\d+)\\) Bad Actions ?\\((\\d+)\\)"))
            .match(label->text());
    return m.hasMatch() ? m.captured(1) + " done, " + m.captured(2) + " failed"
                        : QStringLiteral("<no counts>");
}

// Types `text` where the system sends keys: into the window that has the keyboard, which hands them
// to its focus widget. Nothing arrives when no window of the program has the keyboard.
bool typeAsTheUser(const QString& text) {
    QWindow* keyboard = QGuiApplication::focusWindow();
    if (!keyboard)
        return false;
    QTest::keyClick(keyboard, Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : text)
        QTest::keyClick(keyboard, c.toLatin1());
    return true;
}

QString cell(TForm1* f, int row, int column) {
    const QTableWidgetItem* item = f->StringGrid3->item(row, column);
    return item ? item->text() : QString();
}

} // namespace

class AfterRunTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        f->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f));
    }
    void cleanup() {
        KeepAlive::setBeforePump({});
        TProgressForm::showAfterMs = 300;
        destroyWindows(w);
    }

    // The stop window had the keyboard during the run; once it was hidden, the keyboard went nowhere
    // and typed paths were lost until another program took the focus.
    void afterAJobListRunTypingIntoTheADropDownChangesItsText_data() {
        QTest::addColumn<bool>("jobList");
        QTest::newRow("Process Job List") << true;
        QTest::newRow("Analyse/Synchronize Now") << false;
    }
    void afterAJobListRunTypingIntoTheADropDownChangesItsText() {
        QFETCH(bool, jobList);
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        addCopyJob(f, t.a, t.b);
        QLineEdit* entry = f->ShellComboBox1->lineEdit();
        entry->setFocus();
        // The drop-down's line edit hands its focus to the drop-down, which passes the keys on.
        QWidget* hadFocus = QApplication::focusWidget();
        QCOMPARE(hadFocus, static_cast<QWidget*>(f->ShellComboBox1));
        w.form2->CheckBoxConfirm->setChecked(false);
        if (jobList)
            f->BitBtn3Click();
        else
            f->BitBtn6Click();
        QCOMPARE(readFile(t.b + "/x.txt"), QByteArray("x"));
        QVERIFY(!w.form11->isVisible());
        QTRY_VERIFY(QGuiApplication::focusWindow() == f->windowHandle());
        QCOMPARE(QApplication::focusWidget(), hadFocus); // where the user had it
        QVERIFY(typeAsTheUser(t.root.filePath("typed")));
        QCOMPARE(entry->text(), t.root.filePath("typed"));
    }

    // The job list put the last job's locations into the boxes while the trees still showed the
    // folders picked before: Analyse then ran on folders the user did not see.
    void afterAJobRunTheDropDownsAndTreesShowTheLocationBoxesFolders() {
        FakeDialogs dialogs;
        TwoLocations t;
        const QString elsewhere = t.root.filePath("elsewhere");
        QDir().mkpath(elsewhere);
        writeFile(t.a + "/x.txt", "x");
        addCopyJob(f, t.a, t.b);
        // The user picks another folder for A after adding the job.
        f->chooserA->selectFolder(elsewhere);
        QTRY_COMPARE(f->Edit1->text(), elsewhere + "/");
        f->BitBtn3Click();
        QCOMPARE(f->Edit1->text(), t.a + "/");
        QCOMPARE(f->chooserA->selectedFolder(), t.a);
        QCOMPARE(f->ShellComboBox1->currentText(), t.a);
        QCOMPARE(f->chooserB->selectedFolder(), t.b);
        QCOMPARE(f->ShellComboBox2->currentText(), t.b);
        QTest::qWait(100); // the tree's delayed take (had it been started) would have run by now
        QCOMPARE(f->Edit1->text(), t.a + "/");
        // A box that names a folder that is not there shows in the drop-down, with nothing selected.
        f->Edit2->setText(t.root.filePath("unplugged") + "/");
        QCOMPARE(f->chooserB->selectedFolder(), QString());
        QCOMPARE(f->ShellComboBox2->currentText(), t.root.filePath("unplugged") + "/");
        QTest::qWait(100);
        QCOMPARE(f->Edit2->text(), t.root.filePath("unplugged") + "/");
    }

    // The job list's runs scanned before their actions: the status bar said "Files Count B : 0" after
    // the copies. It counts what is there now, and one box sums the jobs up.
    void afterAJobRunTheStatusBarCountsWhatIsThereAndOneBoxSumsTheJobsUp() {
        FakeDialogs dialogs;
        TwoLocations t;
        for (int i = 0; i < 5; ++i)
            writeFile(t.a + QStringLiteral("/f%1.txt").arg(i), "x");
        // A first job refused (a backup from a location that is gone), then the copies.
        f->Edit1->setText(t.root.filePath("unplugged") + "/");
        f->Edit2->setText(t.b + "/");
        f->setModeIndex(0);
        f->BitBtn1Click();
        addCopyJob(f, t.a, t.b);
        f->BitBtn3Click();
        QCOMPARE(f->StatusPanelB->text(), QStringLiteral("Files Count B : 5  Size: 0MB"));
        QCOMPARE(dialogs.endOfRunBoxes, 1);
        QCOMPARE(dialogs.warnings.size(), 1);
        const QStringList box = dialogs.warnings[0].split('\n');
        QCOMPARE(box[0], QStringLiteral("Job list FINISHED!"));
        QCOMPARE(box[1], QStringLiteral("2 jobs: 1 finished, 1 refused"));
        QVERIFY2(box[2].startsWith("Job 1 refused: ") && box[2].contains("does not exist"),
                 qPrintable(box[2]));
        QCOMPARE(box[3], QStringLiteral("Actions: 5 done, 0 failed, 0 skipped"));
        QCOMPARE(box[4], QStringLiteral("5 files copied (5 bytes)."));
        QVERIFY(cell(f, 0, 0) == "Refused" &&
                f->StringGrid3->item(0, 0)->toolTip().contains("does not exist"));
        QVERIFY(f->Label9->text().startsWith(
            "Job list FINISHED: 2 jobs: 1 finished, 1 refused; Job 1 refused: "));
    }

    // A stopped copy ended with "Synchronisation FINISHED!" over a full bar, and the box said "0
    // failed" while the label said "Bad Actions (1)".
    void aStoppedRunsEndingSaysStoppedAndAgreesWithTheMainWindowsCounts() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/a-large.bin", QByteArray(8 << 20, 'L'));
        writeFile(t.a + "/b-small.txt", "small");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn6Click(); // the review
        QVERIFY(w.form3->isVisible());
        // Stop All Actions while the copy window shows the large copy.
        TProgressForm::showAfterMs = 0;
        bool pressed = false;
        KeepAlive::setBeforePump([&] {
            bool copying = false;
            for (QWidget* top : QApplication::topLevelWidgets())
                copying = copying || (qobject_cast<TProgressForm*>(top) && top->isVisible());
            if (!pressed && copying) {
                pressed = true;
                f->BitBtn5Click(); // Stop All Actions
            }
        });
        w.form3->BitBtn3Click();
        KeepAlive::setBeforePump({});
        QVERIFY(pressed);
        QVERIFY(!QFile::exists(t.b + "/a-large.bin"));
        QCOMPARE(dialogs.endOfRunBoxes, 1);
        const QStringList box = dialogs.warnings.last().split('\n');
        QCOMPARE(box[0], QStringLiteral("Synchronisation Stopped"));
        QCOMPARE(box[1], QStringLiteral("0 done, 1 failed (1 cancelled), 1 skipped (1 not reached)"));
        QVERIFY(box[1].startsWith(labelCounts(f->Label9)));
        QVERIFY(logHas(f, "Actions summary: " + box[1]));
        QVERIFY2(box.contains("  Failed Copy-File to " + t.b + "/a-large.bin: the copy was cancelled"),
                 qPrintable(box.join('\n')));
        QVERIFY2(
            f->ProgressBar1->value() < f->ProgressBar1->maximum(),
            qPrintable(
                QStringLiteral("%1 of %2").arg(f->ProgressBar1->value()).arg(f->ProgressBar1->maximum())));
    }

    // One count of failures: a line not run after an earlier failure is a bad action on the label,
    // and a failure in the box; what the lines did is split by kind.
    void theEndingSplitsTheLinesByWhatTheyDidAndCountsFailuresAsTheLabelDoes() {
        FakeDialogs dialogs;
        TwoLocations t;
        struct DataHome {
            QByteArray previous = qgetenv("XDG_DATA_HOME");
            ~DataHome() { qputenv("XDG_DATA_HOME", previous); }
        } restored;
        qputenv("XDG_DATA_HOME", t.root.filePath("data").toUtf8());
        writeFile(t.a + "/new.txt", "new");
        writeFile(t.b + "/stale1.txt", "s");
        writeFile(t.b + "/stale2.txt", "s");
        writeFile(t.b + "/gone/x.txt", "x");
        t.setOn(f);
        w.form2->RadioTrash->setChecked(true);
        w.form2->CheckBoxConfirm->setChecked(false);
        f->setModeIndex(0);
        f->BitBtn6Click();
        QCOMPARE(dialogs.endOfRunBoxes, 1);
        const QStringList box = dialogs.messages.last().split('\n');
        QCOMPARE(box[0], QStringLiteral("Synchronisation FINISHED!"));
        QCOMPARE(box[1], QStringLiteral("5 done, 0 failed, 0 skipped"));
        QVERIFY(box[1].startsWith(labelCounts(f->Label9)));
        QCOMPARE(box[2], QStringLiteral("1 file copied (3 bytes), 3 files deleted, 1 folder removed."));
        QCOMPARE(box[3], QStringLiteral("3 files went to the trash; the file manager can put them back."));
        QCOMPARE(box.last(), "Files " + criteriaText(f->currentSettings()) + '.');
        QCOMPARE(f->ProgressBar1->value(), f->ProgressBar1->maximum());
    }

    // Nothing to do opened an empty review ("0 of 0 lines ticked").
    void nothingToDoSaysSoInOneLineInsteadOfAnEmptyReview() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/same.txt", "same");
        writeFile(t.b + "/same.txt", "same");
        t.setOn(f);
        f->setModeIndex(2);
        f->BitBtn6Click();
        QVERIFY(!w.form3->isVisible());
        QCOMPARE(dialogs.messages,
                 QStringList({nothingToDoText(PlanKind::CopyMissing, f->currentSettings())}));
        QVERIFY(
            dialogs.messages[0].startsWith("Nothing to do: every file of A is already in B (compared by "));
        QVERIFY(!f->isBusy());
    }

    // "Show Log" in the box selects the run's lines in the activity log.
    void showLogSelectsTheRunsLinesInTheActivityLog() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/x.txt", "x");
        t.setOn(f);
        f->setModeIndex(2);
        w.form2->CheckBoxConfirm->setChecked(false);
        f->Compact1Click();
        dialogs.showLogAnswers = {true};
        f->BitBtn6Click();
        QVERIFY(f->Normal1->isChecked());
        const QStringList selected = f->Memo3->selectedText().split('\n');
        QVERIFY2(selected.first().startsWith("Actions Started at "), qPrintable(selected.first()));
        QVERIFY(selected.contains("Success Copy-File to " + t.b + "/x.txt"));
        QVERIFY(f->Memo3->hasFocus());
    }
};

QTEST_MAIN(AfterRunTest)
#include "after_run_test.moc"
