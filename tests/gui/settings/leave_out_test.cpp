// The configuration window's "Leave out" box: its patterns reach the window's runs (a left-out folder
// is neither read nor carried), a line that cannot be read refuses the run and the save with its
// reason, and the lines come back at the next start.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/execution/tform3.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

class LeaveOutTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
    }
    void cleanup() {
        w.form2->MemoLeaveOut->clear();
        destroyWindows(w);
    }

    void theBoxsPatternsLeaveAFolderOutOfAnAnalyseRun() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/report.txt", "report");
        writeFile(t.a + "/node_modules/pkg/index.js", "js");
        writeFile(t.a + "/cache.tmp", "tmp");
        writeFile(t.b + "/node_modules/own.js", "kept");
        t.setOn(f);
        w.form2->MemoLeaveOut->setPlainText("# dependencies\nnode_modules/\n*.tmp\n");
        f->BitBtn6Click();
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(w.form3->isVisible());
        const std::vector<std::string> lines = planLines(f);
        QCOMPARE(lines.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(lines[0]), "Copy " + t.a + "/report.txt*" + t.b + "/report.txt");
        QCOMPARE(f->session().leftOut(Side::A).files, std::size_t(1));
        QCOMPARE(f->session().leftOut(Side::A).folders, std::size_t(1));
        QCOMPARE(f->session().leftOut(Side::B).folders, std::size_t(1));
        QVERIFY(logHas(f, "Left out by filters: 1 files in 1 folders"));
        QVERIFY(logHas(f, "Left out by filters: 0 files in 1 folders"));
        w.form3->BitBtn3Click();
        QCOMPARE(readFile(t.b + "/report.txt"), QByteArray("report"));
        QCOMPARE(readFile(t.b + "/node_modules/own.js"), QByteArray("kept"));
        QVERIFY(!QFile::exists(t.b + "/cache.tmp"));
    }

    void aLineThatCannotBeReadRefusesTheRunAndTheSaveWithItsReason() {
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/report.txt", "report");
        writeFile(t.b + "/stale.txt", "stale");
        t.setOn(f);
        w.form2->CheckBoxConfirm->setChecked(false);
        w.form2->MemoLeaveOut->setPlainText("*.tmp\nbuild[\n");
        f->BitBtn6Click();
        const QString reason = QStringLiteral(
            "Leave out:2: pattern \"build[\" cannot be read: \"[\" opens a set that \"]\" never closes");
        QCOMPARE(dialogs.messages, QStringList({"Refused: " + reason + "; no action was run"}));
        QVERIFY(logHas(f, "Refused: " + reason + "; no action was run"));
        QVERIFY(planLines(f).empty());
        QVERIFY(!QFile::exists(t.b + "/report.txt"));
        QCOMPARE(readFile(t.b + "/stale.txt"), QByteArray("stale"));
        QVERIFY(f->BitBtn6->isEnabled());

        const QByteArray saved =
            readFile(QString::fromStdString(w.form2->settingsFolder()) + "unattended.ini");
        QVERIFY(!w.form2->Saveconfig());
        QCOMPARE(dialogs.errors.size(), 1);
        QVERIFY2(dialogs.errors[0].contains(reason), qPrintable(dialogs.errors[0]));
        QCOMPARE(readFile(QString::fromStdString(w.form2->settingsFolder()) + "unattended.ini"), saved);
        w.form2->CheckBoxConfirm->setChecked(true);
    }

    void theLinesAreSavedAndComeBackAtTheNextStart() {
        FakeDialogs dialogs;
        w.form2->MemoLeaveOut->setPlainText("# caches\n.cache/\n\n!.cache/keep\n\n");
        QVERIFY(w.form2->changedSinceSave());
        QVERIFY(w.form2->Saveconfig());
        QVERIFY(!w.form2->changedSinceSave());
        const QByteArray file =
            readFile(QString::fromStdString(w.form2->settingsFolder()) + "unattended.ini");
        QVERIFY2(file.contains("leave-out = # caches\r\nleave-out = .cache/\r\nleave-out = \r\nleave-out = "
                               "!.cache/keep\r\n"),
                 file.constData());
        destroyWindows(w);
        w = createWindows();
        f = w.form1;
        QCOMPARE(w.form2->MemoLeaveOut->toPlainText(), QStringLiteral("# caches\n.cache/\n\n!.cache/keep"));
        QVERIFY(!w.form2->changedSinceSave());
        w.form2->MemoLeaveOut->clear();
        QVERIFY(w.form2->Saveconfig());
        QVERIFY(!readFile(QString::fromStdString(w.form2->settingsFolder()) + "unattended.ini")
                     .contains("leave-out"));
    }
};

QTEST_MAIN(LeaveOutTest)
#include "leave_out_test.moc"
