// Picking folders as a Linux user does: dot-folders listed (and hidden on request), the home folder
// in sight at start, paths typed or pasted into the drop-down, mounted drives one click away, and a
// refresh that keeps what the user had opened; folders on other machines typed as rclone writes them,
// and the remotes of the user's rclone configuration offered in the drop-down.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/app/location_chooser.h"

#include "core/remote/remote_session.h"

#include <QComboBox>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

using namespace paritas::gui;
using namespace paritas::gui::testing;

class LocationChooserTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;
    QTemporaryDir dir;

    QString folder(const QString& relative) {
        const QString path = dir.filePath(relative);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase() {
        // No test asks the user's rclone; each that needs remotes gives its own.
        LocationChooser::setRemoteLister([](std::vector<std::string>& names) {
            names.clear();
            return paritas::RcResult();
        });
    }
    void init() {
        w = createWindows();
        f = w.form1;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
    }
    void cleanup() {
        LocationChooser::setMountBases({});
        LocationChooser::setRemoteLister([](std::vector<std::string>& names) {
            names.clear();
            return paritas::RcResult();
        });
        destroyWindows(w);
    }

    // The names the tree lists in a folder (index() of a path would make a hidden one visible).
    static QStringList listed(QTreeView* tree, const QString& path) {
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        const QModelIndex parent = model->index(path);
        QStringList names;
        for (int row = 0; row < model->rowCount(parent); ++row)
            names << model->fileName(model->index(row, 0, parent));
        return names;
    }

    void dotFoldersAreListedUntilTheMenuHidesThem() {
        const QString home = folder("home");
        folder("home/.config");
        folder("home/Documents");
        f->chooserA->selectFolder(home);
        f->ShellTreeView1->expand(f->ShellTreeView1->currentIndex());
        QTRY_COMPARE(listed(f->ShellTreeView1, home), QStringList({".config", "Documents"}));
        QVERIFY(f->chooserA->hiddenFoldersAction()->isChecked());
        f->chooserA->hiddenFoldersAction()->trigger();
        QVERIFY(!f->chooserA->hiddenFoldersShown());
        QTRY_COMPARE(listed(f->ShellTreeView1, home), QStringList({"Documents"}));
        f->chooserB->selectFolder(home);
        f->ShellTreeView2->expand(f->ShellTreeView2->currentIndex());
        QTRY_COMPARE(listed(f->ShellTreeView2, home),
                     QStringList({".config", "Documents"})); // B keeps its own
    }

    void aTypedOrPastedPathIsSelectedOrRefused_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("location"); // empty: refused
        QTest::addColumn<QString>("message");
        QTest::newRow("a folder") << "@/photos/2024"
                                  << "@/photos/2024/"
                                  << "";
        QTest::newRow("a folder with a trailing separator and blanks") << "  @/photos/2024/  "
                                                                       << "@/photos/2024/"
                                                                       << "";
        QTest::newRow("a hidden folder") << "@/.cache"
                                         << "@/.cache/"
                                         << "";
        QTest::newRow("a missing folder") << "@/photos/1999"
                                          << ""
                                          << "Folder @/photos/1999 does not exist.";
        QTest::newRow("a file") << "@/photos/2024/a.jpg"
                                << ""
                                << "Folder @/photos/2024/a.jpg does not exist.";
        QTest::newRow("a relative path") << "photos"
                                         << ""
                                         << "photos is not a full path";
    }
    void aTypedOrPastedPathIsSelectedOrRefused() {
        QFETCH(QString, typed);
        QFETCH(QString, location);
        QFETCH(QString, message);
        FakeDialogs dialogs;
        folder("photos/2024");
        folder(".cache");
        writeFile(dir.filePath("photos/2024/a.jpg"), "jpg");
        const QString root = dir.path();
        typed.replace('@', root);
        location.replace('@', root);
        message.replace('@', root);
        f->chooserA->setHiddenFoldersShown(false);
        QLineEdit* entry = f->ShellComboBox1->lineEdit();
        entry->clear();
        QTest::keyClicks(entry, typed);
        QTest::keyClick(entry, Qt::Key_Return);
        if (location.isEmpty()) {
            QTRY_VERIFY(!dialogs.messages.isEmpty());
            QTest::qWait(50);
            QVERIFY2(dialogs.messages.size() == 1, qPrintable(dialogs.messages.join(" | ")));
            QVERIFY2(dialogs.messages[0].startsWith(message), qPrintable(dialogs.messages[0]));
            QTest::qWait(100);
            QCOMPARE(f->Edit1->text(), QString());
        } else {
            QVERIFY(dialogs.messages.isEmpty());
            QTRY_COMPARE(f->Edit1->text(), location);
        }
    }

    void aTypedRemoteBecomesTheLocationAsWritten_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("location"); // empty: refused
        QTest::addColumn<QString>("message");
        QTest::newRow("a configured remote") << "nas:backup"
                                             << "nas:backup/"
                                             << "";
        QTest::newRow("blanks and doubled separators") << "  nas:photos//2024/ "
                                                       << "nas:photos/2024/"
                                                       << "";
        QTest::newRow("from the server's root") << "nas:/srv/backup"
                                                << "nas:/srv/backup/"
                                                << "";
        QTest::newRow("made on the fly") << ":sftp,host=server,user=ann:backup"
                                         << ":sftp,host=server,user=ann:backup/"
                                         << "";
        QTest::newRow("the top of a remote without a folder") << "nas:"
                                                              << ""
                                                              << "nas: cannot be used: ";
        QTest::newRow("a way out of the folder") << "nas:a/../etc"
                                                 << ""
                                                 << "nas:a/../etc cannot be used: ";
    }
    // The tree shows this machine only: a remote leaves it without a selection, and a later click in
    // it chooses a local folder again.
    void aTypedRemoteBecomesTheLocationAsWritten() {
        QFETCH(QString, typed);
        QFETCH(QString, location);
        QFETCH(QString, message);
        FakeDialogs dialogs;
        const QString local = folder("local");
        QVERIFY(f->chooserB->selectFolder(local));
        QTRY_COMPARE(f->Edit2->text(), local + "/");
        QLineEdit* entry = f->ShellComboBox2->lineEdit();
        entry->clear();
        QTest::keyClicks(entry, typed);
        QTest::keyClick(entry, Qt::Key_Return);
        if (location.isEmpty()) {
            QTRY_VERIFY(!dialogs.messages.isEmpty());
            QVERIFY2(dialogs.messages[0].startsWith(message), qPrintable(dialogs.messages[0]));
            QVERIFY2(dialogs.messages[0].size() > message.size() + 1, qPrintable(dialogs.messages[0]));
            QTest::qWait(100);
            QCOMPARE(f->Edit2->text(), local + "/");
            return;
        }
        QTRY_COMPARE(f->Edit2->text(), location);
        QVERIFY(dialogs.messages.isEmpty());
        QVERIFY(f->ShellTreeView2->selectionModel()->selectedIndexes().isEmpty());
        QTest::qWait(300); // a delayed choice from the tree would come back here
        QCOMPARE(f->Edit2->text(), location);
        QVERIFY(f->chooserB->selectFolder(local));
        QTRY_COMPARE(f->Edit2->text(), local + "/");
    }

    // Picking a remote of the list only starts the text: nothing is chosen until a folder is added.
    void theDropDownOffersTheConfiguredRemotesAskedOnce() {
        int asked = 0;
        LocationChooser::setRemoteLister([&asked](std::vector<std::string>& names) {
            ++asked;
            names = {"nas", "s3"};
            return paritas::RcResult();
        });
        FakeDialogs dialogs;
        const QString chosen = folder("work");
        QVERIFY(f->chooserA->selectFolder(chosen));
        QTRY_COMPARE(f->Edit1->text(), chosen + "/");
        QComboBox* combo = f->ShellComboBox1;
        QCOMPARE(asked, 0); // rclone is not started for a window that never opens the list
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_F4);
        QTRY_VERIFY(combo->view()->isVisible());
        combo->hidePopup();
        QTest::keyClick(combo, Qt::Key_F4);
        combo->hidePopup();
        QCOMPARE(asked, 1);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items.mid(items.size() - 2), QStringList({"nas:", "s3:"}));
        QCOMPARE(items.first(), chosen);
        emit combo->activated(items.indexOf("nas:"));
        QCOMPARE(combo->lineEdit()->text(), QStringLiteral("nas:"));
        QCOMPARE(f->Edit1->text(), chosen + "/");
        QTest::keyClicks(combo->lineEdit(), "backup");
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QTRY_COMPARE(f->Edit1->text(), QStringLiteral("nas:backup/"));
        QVERIFY(dialogs.messages.isEmpty());
        // Choosing a local folder again keeps the remotes in the list without asking again.
        QVERIFY(f->chooserA->selectFolder(chosen));
        items.clear();
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QVERIFY(items.contains("nas:"));
        QCOMPARE(asked, 1);
    }

    // An encrypted configuration: its password is asked once, in a box that hides it, and reaches
    // rclone in memory only; a second window of the same program does not ask again.
    void anEncryptedConfigurationAsksItsPasswordOnce() {
        QStringList passwords;
        LocationChooser::setRemoteLister([&passwords](std::vector<std::string>& names) {
            names.clear();
            const std::string password = paritas::RemoteSession::configured().daemon.configPassword;
            passwords << QString::fromStdString(password);
            if (password != "secret")
                return paritas::RcResult::failure(paritas::kRcloneConfigPassword, "the password is wrong");
            names = {"vault"};
            return paritas::RcResult();
        });
        FakeDialogs dialogs;
        dialogs.inputs.push_back(QStringLiteral("secret"));
        QComboBox* combo = f->ShellComboBox1;
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_F4);
        combo->hidePopup();
        QCOMPARE(dialogs.inputQuestions.size(), 1);
        QVERIFY2(dialogs.inputQuestions[0].contains("encrypted"), qPrintable(dialogs.inputQuestions[0]));
        QCOMPARE(passwords, QStringList({"", "secret"}));
        QVERIFY(combo->findText("vault:") >= 0);
        paritas::RemoteSession::setConfigPassword({});
        destroyWindows(w);
        w = createWindows();
        f = w.form1;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        passwords.clear();
        f->ShellComboBox2->setFocus();
        QTest::keyClick(f->ShellComboBox2, Qt::Key_F4);
        f->ShellComboBox2->hidePopup();
        QCOMPARE(passwords, QStringList({""}));
        QCOMPARE(dialogs.inputQuestions.size(), 1);
        QCOMPARE(f->ShellComboBox2->findText("vault:"), -1);
    }

    void theDropDownListsTheAncestorsAndTheMountedDrives() {
        const QString media = folder("media/ann");
        folder("media/ann/USB STICK");
        folder("media/ann/Backup");
        LocationChooser::setMountBases({media, dir.filePath("no-such-base")});
        const QString chosen = folder("work/projects");
        QVERIFY(f->chooserB->selectFolder(chosen));
        QStringList items;
        for (int i = 0; i < f->ShellComboBox2->count(); ++i)
            items << f->ShellComboBox2->itemText(i);
        items.removeAll(QString()); // the separator
        QCOMPARE(items.mid(0, 3), QStringList({chosen, dir.filePath("work"), dir.path()}));
        // The ancestors up to "/", then the drives.
        QCOMPARE(items.mid(items.indexOf(QStringLiteral("/"))),
                 QStringList({"/", media + "/Backup", media + "/USB STICK"}));
    }

    void refreshKeepsTheExpandedFoldersAndTheSelection() {
        const QString deep = folder("a/b/c");
        QVERIFY(f->chooserA->selectFolder(deep));
        QTRY_VERIFY(f->chooserA->expandedFolders().contains(dir.filePath("a/b")));
        QDir().mkpath(dir.filePath("a/b/new"));
        f->BitBtn7Click();
        QCOMPARE(f->chooserA->selectedFolder(), deep);
        const QStringList expanded = f->chooserA->expandedFolders();
        QVERIFY(expanded.contains(dir.filePath("a")));
        QVERIFY(expanded.contains(dir.filePath("a/b")));
        auto* model = qobject_cast<QFileSystemModel*>(f->ShellTreeView1->model());
        QTRY_VERIFY(model->index(dir.filePath("a/b/new")).isValid()); // the refresh read the folder anew
    }
};

// The home folder stands among hundreds of others; the tree opens with it in sight.
class HomeInSightTest : public QObject {
    Q_OBJECT
private slots:
    void theHomeFolderIsInSightAtStart() {
        QTemporaryDir dir;
        for (int i = 0; i < 300; ++i)
            QDir().mkpath(dir.filePath(QStringLiteral("users/user%1").arg(i, 3, 10, QLatin1Char('0'))));
        const QString home = dir.filePath("users/user250");
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", home.toLocal8Bit());
        Windows w = createWindows();
        QTreeView* tree = w.form1->ShellTreeView1;
        auto* model = qobject_cast<QFileSystemModel*>(tree->model());
        // The folders load before the window is first shown, as they do when the settings file takes
        // its time.
        QTRY_VERIFY(model->rowCount(model->index(dir.filePath("users"))) == 300);
        QTest::qWait(100);
        w.form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form1));
        QTRY_VERIFY_WITH_TIMEOUT(tree->viewport()->rect().contains(tree->visualRect(model->index(home))),
                                 5000);
        destroyWindows(w);
        qputenv("HOME", oldHome);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    LocationChooserTest choosing;
    HomeInSightTest home;
    return QTest::qExec(&choosing, argc, argv) | QTest::qExec(&home, argc, argv);
}

#include "location_chooser_test.moc"
