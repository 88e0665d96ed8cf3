// The main window's commands that belong to the window itself: showing the other windows, the view
// commands, exporting the activity log and leaving.

#include "gui/app/activity_log.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/location_chooser.h"
#include "gui/app/tform1.h"
#include "gui/app/tform10.h"
#include "gui/app/tform5.h"
#include "gui/jobs/tform9.h"
#include "gui/settings/tform2.h"

#include "core/app/text_file.h"

#include <QAction>
#include <QCloseEvent>

namespace paritas::gui {

// A secondary window opens centred on the main window the first time it is shown (the main window has
// its place only once it is shown itself); after that it stays where the user put it.
void TForm1::showSecondary(QWidget* window) {
    if (window == nullptr)
        return;
    if (!window->property("placed").toBool()) {
        window->move(frameGeometry().center() - window->rect().center());
        window->setProperty("placed", true);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void TForm1::Configuration1Click() {
    showSecondary(windows_.form2);
}
void TForm1::ShowDescriptions1Click() {
    showSecondary(windows_.form5);
}
void TForm1::Developerinfo1Click() {
    showSecondary(windows_.form10);
}
void TForm1::SpeedButton2Click() {
    showSecondary(windows_.form9);
}
// The schedule is set in the configuration window.
void TForm1::BitBtn4Click() {
    showSecondary(windows_.form2);
}

void TForm1::Help1Click() {
    DialogSeam::current().open(QString::fromLatin1(kWebSite) + QStringLiteral("tutorials.htm"));
}

void TForm1::Exit1Click() {
    close();
}

// Closing the window (Exit, Ctrl+Q, the close box) saves no setting by itself; when favourites or
// settings differ from what the settings files hold, the user is asked whether to save them first.
void TForm1::closeEvent(QCloseEvent* event) {
    if (configurationChangedSinceSave()) {
        const QString question = QStringLiteral("Save configuration?\nFavourites or settings have changed "
                                                "since the configuration was last saved.");
        switch (DialogSeam::current().askSave(this, question)) {
        case SaveAnswer::Save:
            if (!windows_.form2->Saveconfig())
                return event->ignore();
            break;
        case SaveAnswer::DontSave:
            break;
        case SaveAnswer::Cancel:
            return event->ignore();
        }
    }
    // The locations and the mode are kept for the next start whatever the answer: they are where the
    // user was, not settings.
    if (windows_.form2)
        windows_.form2->rememberLastRun();
    QMainWindow::closeEvent(event);
}

bool TForm1::configurationChangedSinceSave() const {
    return windows_.form2 && windows_.form2->changedSinceSave();
}

void TForm1::Compact1Click() {
    Normal1->setChecked(false);
    Compact1->setChecked(true);
    FormResize();
}

void TForm1::Normal1Click() {
    Compact1->setChecked(false);
    Normal1->setChecked(true);
    FormResize();
}

void TForm1::BitBtn7Click() {
    chooserA->refresh();
    chooserB->refresh();
}

void TForm1::ExportActivityLog1Click() {
    const QString fileName = DialogSeam::current().saveFileName(
        this, QStringLiteral("ActionLog"), QStringLiteral("txt"), QStringLiteral("Text Files (*.txt)"));
    if (fileName.isEmpty())
        return;
    ExportLog(fileName);
}

bool TForm1::ExportLog(const QString& fileName) {
    const std::string error = writeTextLines(fileName.toStdString(), log_->lineBytes());
    if (error.empty())
        return true;
    DialogSeam::current().error(
        this, QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, QString::fromStdString(error)));
    return false;
}

} // namespace paritas::gui
