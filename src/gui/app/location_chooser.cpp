#include "gui/app/location_chooser.h"

#include "gui/app/dialog_seam.h"

#include "core/platform/path_text.h"
#include "core/remote/remote_path.h"
#include "core/remote/remote_session.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeView>

namespace paritas::gui {
namespace {

constexpr QDir::Filters kFolders = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives;
// The home folder is brought into sight while the tree loads and sorts it, for this long at most.
constexpr int kRevealHomeMs = 5000;

QStringList& mountBaseList() {
    static QStringList bases = [] {
        const QString user = qEnvironmentVariable("USER");
        QStringList list;
        if (!user.isEmpty())
            list << QStringLiteral("/media/") + user << QStringLiteral("/run/media/") + user;
        list << QStringLiteral("/mnt");
        return list;
    }();
    return bases;
}

LocationChooser::RemoteLister& remoteLister() {
    static LocationChooser::RemoteLister lister = [](std::vector<std::string>& names) {
        return listConfiguredRemotes(names);
    };
    return lister;
}

// The password of an encrypted rclone configuration is asked once for the program's life.
bool& passwordAsked() {
    static bool asked = false;
    return asked;
}

} // namespace

LocationChooser::LocationChooser(QTreeView* tree, QComboBox* combo, QLineEdit* edit, QObject* parent)
    : QObject(parent), tree_(tree), combo_(combo), edit_(edit), delay_(new QTimer(this)),
      popup_(new QMenu(tree)) {
    delay_->setSingleShot(true);
    delay_->setInterval(50);
    connect(delay_, &QTimer::timeout, this, &LocationChooser::takeSelection);
    connect(tree_, &QTreeView::doubleClicked, this, [this] {
        delay_->stop();
        takeSelection();
    });
    combo_->setEditable(true);
    combo_->setInsertPolicy(QComboBox::NoInsert);
    combo_->lineEdit()->setPlaceholderText(tr("Type or paste a folder, or a remote such as nas:backup"));
    combo_->installEventFilter(this);
    connect(combo_, &QComboBox::activated, this, &LocationChooser::comboActivated);
    // The combo box hands Enter to its line edit a second time; one choice is made per Enter.
    connect(combo_->lineEdit(), &QLineEdit::returnPressed, this, [this] {
        if (typedPending_)
            return;
        typedPending_ = true;
        QTimer::singleShot(0, this, [this] {
            typedPending_ = false;
            chooseTyped(combo_->lineEdit()->text());
        });
    });
    tree_->setHeaderHidden(true);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tree_, &QWidget::customContextMenuRequested, this, &LocationChooser::showPopup);
    hiddenAction_ = popup_->addAction(tr("Show &Hidden Folders"));
    hiddenAction_->setCheckable(true);
    hiddenAction_->setChecked(true);
    connect(hiddenAction_, &QAction::toggled, this, &LocationChooser::setHiddenFoldersShown);
    // Whatever the user does with the tree ends the bringing of the home folder into sight.
    connect(tree_->verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this] { revealingHome_ = false; });
    QTimer::singleShot(kRevealHomeMs, this, [this] { revealingHome_ = false; });
    attachModel();
    openAtHome();
    connect(edit_, &QLineEdit::textChanged, this, &LocationChooser::followLocation);
}

void LocationChooser::followLocation(const QString& location) {
    const QString folder = location.isEmpty() ? QString() : QDir::cleanPath(location);
    if (!folder.isEmpty() && folder == selectedFolder())
        return;
    following_ = true;
    delay_->stop();
    if (folder.isEmpty() || !QFileInfo(folder).isDir() || !selectFolder(folder)) {
        tree_->selectionModel()->clearSelection();
        combo_->setEditText(location);
    }
    following_ = false;
}

void LocationChooser::attachModel() {
    QFileSystemModel* old = model_;
    model_ = new QFileSystemModel(this);
    // The tree does not refresh by itself; "Refresh A/B " rebuilds it.
    model_->setOption(QFileSystemModel::DontWatchForChanges, true);
    model_->setFilter(hiddenAction_->isChecked() ? kFolders | QDir::Hidden : kFolders);
    model_->setRootPath(QStringLiteral("/"));
    tree_->setModel(model_);
    tree_->setRootIndex(model_->index(QStringLiteral("/")).parent());
    for (int column = 1; column < model_->columnCount(); ++column)
        tree_->hideColumn(column);
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        revealingHome_ = false;
        fillCombo();
        if (!following_)
            delay_->start();
    });
    // The model loads and sorts folders in the background: the home folder's row is known only then.
    connect(model_, &QFileSystemModel::directoryLoaded, this, &LocationChooser::revealHome);
    connect(model_, &QAbstractItemModel::layoutChanged, this, &LocationChooser::revealHome);
    delete old;
}

// The tree opens at the user's home folder without selecting it: its ancestors are expanded as the
// model loads them, and the view scrolls it to the top once it stands sorted in its folder.
void LocationChooser::openAtHome() {
    tree_->installEventFilter(this);
    revealHome();
}

// A tree scrolled before it was first shown or sized loses its place; it is scrolled again then. The
// drop-down about to open (a click, Alt+Down, F4) asks for the configured remotes the first time.
bool LocationChooser::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tree_ && (event->type() == QEvent::Show || event->type() == QEvent::Resize))
        revealHome();
    if (watched == combo_ && !remotesAsked_) {
        const auto* key = event->type() == QEvent::KeyPress ? static_cast<QKeyEvent*>(event) : nullptr;
        const bool opening = event->type() == QEvent::MouseButtonPress ||
                             (key && (key->key() == Qt::Key_F4 ||
                                      (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier))));
        if (opening) {
            const QString typed = combo_->currentText();
            configuredRemotes();
            fillCombo();
            combo_->setEditText(typed);
        }
    }
    return QObject::eventFilter(watched, event);
}

void LocationChooser::revealHome() {
    if (!revealingHome_)
        return;
    const QModelIndex home = model_->index(QDir::homePath());
    if (!home.isValid())
        return;
    for (QModelIndex up = home.parent(); up.isValid(); up = up.parent())
        tree_->expand(up);
    // After the view has laid out the rows the model has just delivered.
    QTimer::singleShot(0, this, [this] {
        if (!revealingHome_)
            return;
        const QModelIndex index = model_->index(QDir::homePath());
        if (index.isValid())
            tree_->scrollTo(index, QAbstractItemView::PositionAtTop);
    });
}

QString LocationChooser::selectedFolder() const {
    const QModelIndexList selected = tree_->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return {};
    return model_->filePath(selected.constFirst());
}

QStringList LocationChooser::expandedFolders() const {
    QStringList expanded;
    for (QModelIndex i = model_->index(0, 0, tree_->rootIndex()); i.isValid(); i = tree_->indexBelow(i))
        if (tree_->isExpanded(i))
            expanded << model_->filePath(i);
    return expanded;
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

bool LocationChooser::chooseTyped(const QString& text) {
    QString path = text.trimmed();
    if (path.isEmpty())
        return false;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    QWidget* window = tree_->window();
    const std::string typed = path.toStdString();
    if (const ParsedLocation parsed = parseLocation(typed); parsed.kind != LocationKind::Local) {
        std::string why = parsed.reason;
        const std::string location =
            parsed.kind == LocationKind::Remote ? remoteLocationText(typed, &why) : "";
        if (location.empty()) {
            DialogSeam::current().message(
                window, tr("%1 cannot be used: %2.").arg(path, QString::fromStdString(why)));
            return false;
        }
        chooseRemote(QString::fromStdString(location));
        return true;
    }
    if (!QDir::isAbsolutePath(path)) {
        DialogSeam::current().message(
            window, tr("%1 is not a full path. Type a folder beginning with /, for example %2.")
                        .arg(text, QDir::homePath()));
        return false;
    }
    path = QDir::cleanPath(path);
    if (!QFileInfo(path).isDir()) {
        DialogSeam::current().message(window, tr("Folder %1 does not exist.").arg(path));
        return false;
    }
    if (path.contains(QLatin1String("/.")) && !hiddenFoldersShown())
        setHiddenFoldersShown(true);
    if (selectFolder(path))
        return true;
    DialogSeam::current().message(window, tr("Folder %1 cannot be shown in the tree.").arg(path));
    return false;
}

// A remote is the location as typed; this machine's tree shows none of it, so it loses its selection.
void LocationChooser::chooseRemote(const QString& location) {
    delay_->stop();
    {
        const QSignalBlocker quiet(tree_->selectionModel());
        tree_->selectionModel()->clearSelection();
    }
    tree_->viewport()->update();
    combo_->setEditText(location);
    edit_->setText(location);
    emit changed();
}

QStringList LocationChooser::configuredRemotes() {
    if (remotesAsked_)
        return remotes_;
    remotesAsked_ = true;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    std::vector<std::string> names;
    RcResult listed = remoteLister()(names);
    QGuiApplication::restoreOverrideCursor();
    if (listed.error == kRcloneConfigPassword && !passwordAsked()) {
        passwordAsked() = true;
        const std::optional<QString> password = DialogSeam::current().inputPassword(
            tree_->window(), tr("rclone configuration"),
            tr("The rclone configuration is encrypted. Its password (kept in memory only, never saved):"));
        if (password && !password->isEmpty()) {
            RemoteSession::setConfigPassword(password->toStdString());
            listed = remoteLister()(names);
        }
    }
    for (const std::string& name : names)
        remotes_ << QString::fromStdString(name) + QLatin1Char(':');
    return remotes_;
}

void LocationChooser::setRemoteLister(RemoteLister lister) {
    remoteLister() = std::move(lister);
}

void LocationChooser::setHiddenFoldersShown(bool shown) {
    if (hiddenAction_->isChecked() != shown)
        hiddenAction_->setChecked(shown); // comes back here through toggled
    model_->setFilter(shown ? kFolders | QDir::Hidden : kFolders);
}

bool LocationChooser::hiddenFoldersShown() const {
    return hiddenAction_->isChecked();
}

// Folders whose names reach back to the selected one's ancestors come first, then the mounted
// drives, so that an external disk is one click away.
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
    QStringList drives;
    for (const QString& base : mountBases())
        for (const QFileInfo& drive : QDir(base).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            if (combo_->findText(drive.absoluteFilePath()) < 0)
                drives << drive.absoluteFilePath();
    if (!drives.isEmpty()) {
        combo_->insertSeparator(combo_->count());
        combo_->addItems(drives);
    }
    if (!remotes_.isEmpty()) {
        combo_->insertSeparator(combo_->count());
        combo_->addItems(remotes_);
    }
    combo_->setCurrentIndex(combo_->count() > 0 ? 0 : -1);
}

// A remote of the list is only the start of a location: it goes into the box, to be completed with a
// folder and Enter.
void LocationChooser::comboActivated(int index) {
    if (index < 0)
        return;
    const QString text = combo_->itemText(index);
    if (remotes_.contains(text)) {
        combo_->setEditText(text);
        combo_->lineEdit()->setFocus();
        combo_->lineEdit()->end(false);
        return;
    }
    selectFolder(text);
}

// A right click selects the folder under the pointer, then offers the menu.
void LocationChooser::showPopup(const QPoint& at) {
    const QModelIndex index = tree_->indexAt(at);
    if (index.isValid()) {
        tree_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
        tree_->setCurrentIndex(index);
    }
    popup_->popup(tree_->viewport()->mapToGlobal(at));
}

void LocationChooser::refresh() {
    const QString selected = selectedFolder();
    const QStringList expanded = expandedFolders();
    attachModel();
    for (const QString& folder : expanded) {
        const QModelIndex index = model_->index(folder);
        if (index.isValid())
            tree_->expand(index);
    }
    if (!selected.isEmpty())
        selectFolder(selected);
}

QStringList LocationChooser::mountBases() {
    return mountBaseList();
}

void LocationChooser::setMountBases(const QStringList& bases) {
    mountBaseList() = bases;
}

} // namespace paritas::gui
