#include "gui/app/tform5.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace paritas::gui {

const QStringList& TForm5::descriptionLines() {
    static const QStringList lines = {
        QStringLiteral("BACKUP (ADVANCED) A to B:"),
        QString(),
        QStringLiteral("- Changes only B"),
        QString(),
        QStringLiteral(
            "Copies all files from A, that are missing from B, into B. If a file is found in B that "),
        QStringLiteral(
            "is also in A the file is moved to correspond to the location present in A, this way "),
        QStringLiteral("you save time and file is not copied again. All data that is in B before synch "),
        QStringLiteral("actions and is not in A is deleted. Note that no changes are done to location A. "),
        QStringLiteral("Use this if you want update your backup folder B but you are not sure what "),
        QStringLiteral("files in A are new and you don't have the time to recopy the whole "),
        QStringLiteral("folder(Useful for large Terabyte or larger backups). This mode is faster then "),
        QStringLiteral("regular copy since it intelligently moves same files in B even if you changed "),
        QStringLiteral("folder names in A. Same files are identified by parameters chosen in "),
        QStringLiteral("configuration window. "),
        QString(),
        QStringLiteral("FOLDER SYNCH:"),
        QString(),
        QStringLiteral("- Changes A and B"),
        QString(),
        QStringLiteral(
            "Copies all files from A to B that are missing in B . Copies all files from B to A that "),
        QStringLiteral("are missing from A. If a file has same name and location folder, a conflict "),
        QStringLiteral("resolution set up in parameters determines which file stays. If all same name "),
        QStringLiteral(
            "files (old and new) should be kept, it is possible to keep both conflicting files by "),
        QStringLiteral("adding modified timestamp. Use this to synch your work place and home "),
        QStringLiteral("folders.  "),
        QString(),
        QStringLiteral("COPY MISSING "),
        QString(),
        QStringLiteral("- Changes only B"),
        QString(),
        QStringLiteral(
            "Scans A for files that are not in B and copies them into B. If a file that is missing "),
        QStringLiteral("has the same name as file already in B it is copied with reanamed filename "),
        QStringLiteral("(Filename+Modified)"),
        QString(),
        QStringLiteral("DELETE DUPLICATES in B"),
        QString(),
        QStringLiteral("-Changes only B"),
        QString(),
        QStringLiteral("A and B are scanned for same files. If a match is found file is deleted from B. "),
        QStringLiteral("Use this if you want to find duplicates in B folder that is not a subfolder of A."),
        QString(),
        QStringLiteral("* If you just want to delete duplicates within A folder go to menu "),
        QStringLiteral("Actions/Diagnostics->Delete duplicates within A"),
        QString(),
    };
    return lines;
}

TForm5::TForm5(QWidget* mainWindow) : QWidget(mainWindow, Qt::Window) {
    setWindowTitle(QStringLiteral("Descriptions of Synchronize Modes"));
    resize(401, 549);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(descriptionLines().join(QLatin1Char('\n')));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(401 / 2, 549 / 2));
}

} // namespace paritas::gui
