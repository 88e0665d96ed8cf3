#include "gui/app/location_chooser.h"

#include "core/platform/path_text.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>

namespace paritas::gui {

LocationChooser::LocationChooser(QTreeView* tree, QComboBox* combo, QLineEdit* edit, QObject* parent)
    : QObject(parent), tree_(tree), combo_(combo), edit_(edit), delay_(new QTimer(this)) {
    delay_->setSingleShot(true);
    delay_->setInterval(50);
    connect(delay_, &QTimer::timeout, this, &LocationChooser::takeSelection);
    connect(tree_, &QTreeView::doubleClicked, this, [this] {
        delay_->stop();
        takeSelection();
    });
    connect(combo_, &QComboBox::activated, this, &LocationChooser::comboActivated);
    tree_->setHeaderHidden(true);
    tree_->setContextMenuPolicy(Qt::PreventContextMenu);
    attachModel();
    openAtHome();
}

// The tree opens at the user's home folder without selecting it: its ancestors are expanded as the
// model loads them, and the view scrolls to it once it stands in the tree.
void LocationChooser::openAtHome() {
    const QString home = QDir::homePath();
    auto reveal = [this, home](const QString& loaded) {
        if (!home.startsWith(loaded))
            return;
        const QModelIndex target = model_->index(home);
        for (QModelIndex up = target.parent(); up.isValid(); up = up.parent())
            tree_->expand(up);
        tree_->scrollTo(target, QAbstractItemView::PositionAtTop);
    };
    connect(model_, &QFileSystemModel::directoryLoaded, this, reveal);
    tree_->expand(model_->index(home).parent());
}

void LocationChooser::attachModel() {
    QFileSystemModel* old = model_;
    model_ = new QFileSystemModel(this);
    // The tree does not refresh by itself; "Refresh A/B " rebuilds it.
    model_->setOption(QFileSystemModel::DontWatchForChanges, true);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    model_->setRootPath(QStringLiteral("/"));
    tree_->setModel(model_);
    tree_->setRootIndex(model_->index(QStringLiteral("/")).parent());
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        fillCombo();
        delay_->start();
    });
    delete old;
}

QString LocationChooser::selectedFolder() const {
    const QModelIndexList selected = tree_->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return {};
    return model_->filePath(selected.constFirst());
}

void LocationChooser::takeSelection() {
    const QString folder = selectedFolder();
    const std::string bytes = folder.toStdString();
    if (holdsUncarriableCharacter(bytes)) {
        emit refused(folder);
        return;
    }
    edit_->setText(QString::fromStdString(withTrailingSeparator(bytes)));
    emit changed();
}

bool LocationChooser::selectFolder(const QString& path) {
    const QModelIndex index = model_->index(path);
    if (!index.isValid())
        return false;
    tree_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    return true;
}

void LocationChooser::refresh() {
    const QString selected = selectedFolder();
    attachModel();
    if (!selected.isEmpty())
        selectFolder(selected);
}

void LocationChooser::fillCombo() {
    combo_->clear();
    QString folder = selectedFolder();
    while (!folder.isEmpty()) {
        combo_->addItem(folder);
        if (folder == QLatin1String("/"))
            break;
        const int cut = folder.lastIndexOf(QLatin1Char('/'));
        folder = cut <= 0 ? QStringLiteral("/") : folder.left(cut);
    }
}

void LocationChooser::comboActivated(int index) {
    if (index >= 0)
        selectFolder(combo_->itemText(index));
}

} // namespace paritas::gui
