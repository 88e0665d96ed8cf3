#pragma once
// One side's location chooser: a folder tree rooted at the file-system root (opened at the home
// folder, which is scrolled into sight), a drop-down of the selected folder and its ancestors linked
// both ways to the tree, and the read-only location box. A selection change is reported after 50 ms;
// a double click at once. The location text is the selected folder with exactly one trailing
// separator; with no folder selected it stays empty (a lone "/" would be the whole file system).
// The other way round, a location box set from elsewhere (a job of the job list, a favourite) has the
// tree select its folder and the drop-down show it, so that what the user sees is what runs.
//
// Linux desktop habits on top:
//   - dot-folders are listed (they are synchronised like any other); the tree's context menu hides
//     them; a right click selects the folder under the pointer first
//   - a path can be typed or pasted into the drop-down: Enter selects it in the tree when it is a
//     folder, and says so when it is not
//   - the drop-down also lists the drives mounted under /media/$USER, /run/media/$USER and /mnt
//   - "Refresh A/B " keeps the expanded folders and the selection
//   - a folder on another machine or in the cloud is typed as rclone writes it ("nas:backup",
//     ":sftp,host=server:/srv/backup"): it becomes the location as it stands, unchecked until the run
//     reads it, and the tree (which shows only this machine's folders) loses its selection; the
//     drop-down lists the remotes of the user's rclone configuration ("nas:"), asked of rclone the
//     first time it opens; picking one puts it into the box to be completed with a folder. An
//     encrypted rclone configuration's password is asked once and kept in memory only.

#include "core/remote/remote_failure.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QMenu;
class QTimer;
class QTreeView;
class QWidget;

namespace paritas::gui {

class LocationChooser : public QObject {
    Q_OBJECT
public:
    LocationChooser(QTreeView* tree, QComboBox* combo, QLineEdit* edit, QObject* parent);
    // Rebuilds the tree so that folders created or removed meanwhile show; keeps the expanded folders
    // and the selection.
    void refresh();
    // Selects a folder in the tree (and so sets the location after the delay).
    bool selectFolder(const QString& path);
    QString selectedFolder() const;
    // The folders now expanded in the tree.
    QStringList expandedFolders() const;
    // Whether dot-folders are listed (the context menu's toggle).
    void setHiddenFoldersShown(bool shown);
    bool hiddenFoldersShown() const;
    // A path typed or pasted into the drop-down, as Enter hands it over: selects the folder, or says
    // why not (through the dialog seam). Returns true when a folder was selected.
    bool chooseTyped(const QString& text);
    // Shows the location the box holds: its folder selected in the tree and named in the drop-down,
    // or, for a folder that is not there, no selection and the text in the drop-down. The box keeps
    // its text.
    void followLocation(const QString& location);

    // The folders whose subfolders are listed in the drop-down as mounted drives (tests set their
    // own); by default /media/$USER, /run/media/$USER and /mnt.
    static QStringList mountBases();
    static void setMountBases(const QStringList& bases);

    // How the drop-down learns the configured remotes (names without ":"); by default rclone is asked
    // (listConfiguredRemotes). Tests give their own.
    using RemoteLister = std::function<RcResult(std::vector<std::string>& names)>;
    static void setRemoteLister(RemoteLister lister);
    // The configured remotes as the drop-down lists them ("nas:"), asked the first time only.
    QStringList configuredRemotes();

    QMenu* popupMenu() const { return popup_; }
    QAction* hiddenFoldersAction() const { return hiddenAction_; }

signals:
    // The tree's selection changed (after the delay) or was double-clicked.
    void changed();
    // A folder was refused because its name holds a character that cannot be carried.
    void refused(const QString& path);

public slots:
    // Takes the selected folder into the location box (the Change / DblClick handlers).
    void takeSelection();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void attachModel();
    void openAtHome();
    void revealHome();
    void fillCombo();
    void comboActivated(int index);
    void showPopup(const QPoint& at);
    void chooseRemote(const QString& location);

    QTreeView* tree_;
    QComboBox* combo_;
    QLineEdit* edit_;
    QFileSystemModel* model_ = nullptr;
    QTimer* delay_;
    QMenu* popup_;
    QAction* hiddenAction_;
    bool typedPending_ = false;
    bool following_ = false; // a selection made to follow the box is not taken into it again
    bool revealingHome_ = true; // until the home folder stands sorted in the tree, or the user acts
    bool remotesAsked_ = false;
    QStringList remotes_;
};

} // namespace paritas::gui
