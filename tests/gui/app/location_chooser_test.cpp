// Picking folders as a Linux user does: dot-folders listed (and hidden on request), the home folder
// in sight at start, paths typed or pasted into the drop-down, mounted drives one click away, and a
// refresh that keeps what the user had opened.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "gui/app/location_chooser.h"

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
    void init() {
        w = createWindows();
        f = w.form1;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
    }
    void cleanup() {
        LocationChooser::setMountBases({});
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
