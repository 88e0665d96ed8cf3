// Runs of the main window with a remote location (rclone) typed into B's box: the password of an
// encrypted rclone configuration is asked when the run needs it, and a backup onto a remote goes
// through the review window to its ending like one onto a local folder.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "core/base/modes.h"
#include "core/jobs/job_list.h"
#include "core/remote/remote_session.h"
#include "gui/execution/tform3.h"
#include "gui/settings/tform2.h"

#include <QLabel>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

namespace {

// "[vault] type = memory", encrypted with the password "sekrit" by rclone 1.60's `rclone config`.
const char* const kEncryptedConfig =
    "# Encrypted rclone configuration File\n\nRCLONE_ENCRYPT_V0:\n"
    "1jYCcAXPU/cGjJUM0GODTyDIHKTNt5CU+3mVtpMlPFBzOmMFYY0seBRKohX8mDFmDVWktrdRhVp1+"
    "MhAam+P\n";

} // namespace

class RemoteRunTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;
    QTemporaryDir work;
    QString rclone;

    // Sessions from now on use rclone from the machine and `config` as their configuration.
    void useConfiguration(const QByteArray& config) {
        writeFile(work.filePath("rclone.conf"), config);
        RemoteSessionOptions options;
        options.daemon.rcloneProgram = rclone.toStdString();
        options.daemon.configPath = work.filePath("rclone.conf").toStdString();
        options.daemon.stopTimeout = std::chrono::seconds(3);
        RemoteSession::configure(options);
        RemoteSession::setConfigPassword({});
    }

    // Rows for a password question answered with the password or cancelled.
    static void answeredOrNot() {
        QTest::addColumn<bool>("answered");
        QTest::newRow("the password given") << true;
        QTest::newRow("cancelled") << false;
    }
    // The encrypted configuration in use, the dialogs' answer to its password question ready, and a
    // file in A.
    void encryptedConfigurationAsked(FakeDialogs& dialogs, bool answered, TwoLocations& t) {
        useConfiguration(kEncryptedConfig);
        dialogs.inputs.push_back(answered ? std::optional<QString>(QStringLiteral("sekrit")) : std::nullopt);
        writeFile(t.a + "/a.txt", "in A");
    }

private slots:
    void initTestCase() {
        rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
        if (rclone.isEmpty())
            QSKIP("rclone is not installed (apt-get install rclone)");
        qunsetenv("RCLONE_CONFIG_PASS");
    }
    void init() {
        w = createWindows();
        f = w.form1;
    }
    void cleanup() {
        destroyWindows(w); // the run's locations let go of the session: its rclone ends
        RemoteSession::setConfigPassword({});
    }

    void aTypedRemoteAsksTheConfigurationsPasswordOnceAndCancelRefusesTheRun_data() { answeredOrNot(); }
    void aTypedRemoteAsksTheConfigurationsPasswordOnceAndCancelRefusesTheRun() {
        QFETCH(bool, answered);
        FakeDialogs dialogs;
        TwoLocations t;
        encryptedConfigurationAsked(dialogs, answered, t);
        f->Edit1->setText(t.a + "/");
        f->Edit2->setText(QStringLiteral("vault:B/"));
        w.form2->CheckBoxConfirm->setChecked(false);
        f->setModeIndex(0);
        f->BitBtn6Click();

        QCOMPARE(dialogs.inputQuestions.size(), 1);
        QVERIFY2(dialogs.inputQuestions[0].contains("encrypted"), qPrintable(dialogs.inputQuestions[0]));
        const QString refusal = QStringLiteral("Refused: Location vault:B/ cannot be used: the rclone "
                                               "configuration is encrypted and no password was given; no "
                                               "action was run");
        QCOMPARE(dialogs.messages.contains(refusal), !answered);
        QCOMPARE(logHas(f, refusal), !answered);
        QCOMPARE(dialogs.endOfRunBoxes, answered ? 1 : 0);
        // The run copied a.txt into the remote, whose scan after the run counts it.
        QCOMPARE(f->StatusPanelB->text().startsWith(QStringLiteral("Files Count B : 1 ")), answered);
        QVERIFY(!f->isBusy());
    }

    // A job list started by hand asks once, as a run does; the job's status tells the outcome.
    void aJobListStartedByHandAsksThePasswordOnceForItsRemoteJobs_data() { answeredOrNot(); }
    void aJobListStartedByHandAsksThePasswordOnceForItsRemoteJobs() {
        QFETCH(bool, answered);
        FakeDialogs dialogs;
        TwoLocations t;
        encryptedConfigurationAsked(dialogs, answered, t);
        const std::string copyMissing(kModeNames[2]);
        f->StringGrid3->setRowCount(3);
        f->setJobAt(0, Job{"Waiting", (t.a + "/").toStdString(), copyMissing, "vault:B/", "Yes"});
        f->setJobAt(1, Job{"Waiting", (t.a + "/").toStdString(), copyMissing, "vault:C/", "Yes"});
        w.form2->CheckBoxConfirm->setChecked(false);
        f->BitBtn3Click();

        QCOMPARE(dialogs.inputQuestions.size(), 1);
        QVERIFY2(dialogs.inputQuestions[0].contains("encrypted"), qPrintable(dialogs.inputQuestions[0]));
        const QString status = answered ? QStringLiteral("Finished") : QStringLiteral("Refused");
        QCOMPARE(f->StringGrid3->item(0, 0)->text(), status);
        QCOMPARE(f->StringGrid3->item(1, 0)->text(), status);
        const QStringList lines = f->activityLog().lines();
        const auto toldWhy = std::count_if(lines.begin(), lines.end(), [](const QString& line) {
            return line.contains(QStringLiteral("cannot be used: the rclone configuration is encrypted and no "
                                                "password was given"));
        });
        QVERIFY2(answered ? toldWhy == 0 : toldWhy >= 2, qPrintable(lines.join('\n')));
        QVERIFY(!f->isBusy());
    }

    // A backup from a local folder onto a remote (rclone's local backend, so that B can be read
    // back from the disk), reviewed and run from the review window.
    void aBackupOntoARemoteRunsThroughTheReviewToItsEnding() {
        useConfiguration({});
        FakeDialogs dialogs;
        TwoLocations t;
        writeFile(t.a + "/new.txt", "new file");
        writeFile(t.a + "/docs/changed.txt", "changed, and longer");
        writeFile(t.b + "/docs/changed.txt", "old");
        writeFile(t.b + "/stale.txt", "stale");
        f->Edit1->setText(t.a + "/");
        const QString b = ":local:" + t.b + "/";
        f->Edit2->setText(b);
        w.form2->CheckBoxConfirm->setChecked(true);
        w.form2->RadioVersions->setChecked(true);
        f->setModeIndex(0);
        f->BitBtn6Click(); // the review
        QVERIFY(w.form3->isVisible());
        w.form3->BitBtn3Click();

        QCOMPARE(readFile(t.b + "/new.txt"), QByteArray("new file"));
        QCOMPARE(readFile(t.b + "/docs/changed.txt"), QByteArray("changed, and longer"));
        QVERIFY(!QFile::exists(t.b + "/stale.txt"));
        // The replaced and the removed file are kept in the remote's own versions folder, marked as
        // Paritas's; nothing else is left beside the files.
        QCOMPARE(QDir(t.b).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList({".paritas-versions", "docs", "new.txt"}));
        const QString versions = t.b + "/.paritas-versions";
        QVERIFY(QFile::exists(versions + "/.paritas-versions-folder"));
        QCOMPARE(QDir(versions + "/docs").entryList(QDir::Files).size(), 1);
        QCOMPARE(QDir(versions).entryList(QDir::Files | QDir::Hidden).size(),
                 2); // the mark and stale.txt's version
        QCOMPARE(dialogs.endOfRunBoxes, 1);
        const QStringList box = dialogs.messages.last().split('\n');
        QCOMPARE(box.value(0), QStringLiteral("Synchronisation FINISHED!"));
        QCOMPARE(box.value(1), QStringLiteral("3 done, 0 failed, 0 skipped"));
        QVERIFY(logHas(f, "Success Copy-File to " + b + "new.txt"));
        QVERIFY(f->StatusPanelB->text().startsWith(QStringLiteral("Files Count B : 2 ")));
    }
};

QTEST_MAIN(RemoteRunTest)
#include "remote_run_test.moc"
