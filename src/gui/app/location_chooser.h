#pragma once
// One side's location chooser: a folder tree rooted at the file-system root (opened at the home
// folder), a drop-down of the selected folder and its ancestors linked both ways to the tree, and
// the read-only location box. A selection change is reported after 50 ms; a double click at once.
// The location text is the selected folder with exactly one trailing separator; with no folder
// selected it stays empty (a lone "/" would be the whole file system).

#include <QObject>
#include <QString>

class QComboBox;
class QFileSystemModel;
class QLineEdit;
class QTimer;
class QTreeView;
class QWidget;

namespace paritas::gui {

class LocationChooser : public QObject {
    Q_OBJECT
public:
    LocationChooser(QTreeView* tree, QComboBox* combo, QLineEdit* edit, QObject* parent);
    // Rebuilds the tree so that folders created or removed meanwhile show; keeps the selection.
    void refresh();
    // Selects a folder in the tree (and so sets the location after the delay).
    bool selectFolder(const QString& path);
    QString selectedFolder() const;

signals:
    // The tree's selection changed (after the delay) or was double-clicked.
    void changed();
    // A folder was refused because its name holds a character that cannot be carried.
    void refused(const QString& path);

public slots:
    // Takes the selected folder into the location box (the Change / DblClick handlers).
    void takeSelection();

private:
    void attachModel();
    void openAtHome();
    void fillCombo();
    void comboActivated(int index);

    QTreeView* tree_;
    QComboBox* combo_;
    QLineEdit* edit_;
    QFileSystemModel* model_ = nullptr;
    QTimer* delay_;
};

} // namespace paritas::gui
