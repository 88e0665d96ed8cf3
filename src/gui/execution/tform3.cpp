#include "gui/execution/tform3.h"

#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/execution/action_review_model.h"
#include "gui/execution/run_ending.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTreeView>

#include <algorithm>

namespace paritas::gui {

inline constexpr const char* kConfirmText =
    "Action list is prepared. Continue with actions? (Warning! Actions are non reversable, this step moves, "
    "copies, deletes and creates data!)";
inline constexpr const char* kStaleText =
    "The action list has been planned again since this review was filled. Nothing was run; please "
    "analyse again to review the new list.";

TForm3::TForm3(TForm1* mainWindow)
    : QWidget(mainWindow, Qt::Window | Qt::WindowStaysOnTopHint), main_(mainWindow),
      model_(new ActionReviewModel(this)) {
    setWindowTitle(QStringLiteral("File Action List"));
    setMinimumSize(300, 300);
    BitBtn1 = new QPushButton(QStringLiteral("Preview File"), this);
    BitBtn1->setGeometry(8, 8, 105, 25);
    Label1 = new QLabel(this);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setTextFormat(Qt::PlainText);
    // A flat tree view: its header carries the summary above the lines, and its one column is as wide
    // as the longest line, so long paths scroll instead of being cut.
    CheckListBox1 = new QTreeView(this);
    CheckListBox1->setModel(model_);
    CheckListBox1->setRootIsDecorated(false);
    CheckListBox1->setItemsExpandable(false);
    CheckListBox1->setUniformRowHeights(true);
    CheckListBox1->setAllColumnsShowFocus(true);
    CheckListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    CheckListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    CheckListBox1->setTextElideMode(Qt::ElideMiddle);
    CheckListBox1->setHeaderHidden(true);
    CheckListBox1->header()->setSectionsClickable(false);
    CheckListBox1->header()->setStretchLastSection(false);
    LabelSummary = new QLabel(this);
    LabelSummary->setWordWrap(true);
    LabelSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelSummary->setTextFormat(Qt::PlainText);
    CheckListBox1->installEventFilter(this);
    PopupMenu1 = new QMenu(this);
    OriginalToDup = PopupMenu1->addAction(QStringLiteral("Switch Original to duplicate"));
    OriginalToDup->setEnabled(false);
    UntickFolder = PopupMenu1->addAction(QStringLiteral("Untick lines under this folder"));
    connect(UntickFolder, &QAction::triggered, this, [this] { untickFolderOf(popupRow_); });
    connect(model_, &ActionReviewModel::ticksChanged, this, &TForm3::updateSummary);
    BitBtn3 = new QPushButton(QStringLiteral("Confirm/Perform Actions"), this);
    QFont bold = BitBtn3->font();
    bold.setBold(true);
    BitBtn3->setFont(bold);

    connect(BitBtn1, &QPushButton::clicked, this, &TForm3::BitBtn1Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TForm3::BitBtn3Click);
    connect(OriginalToDup, &QAction::triggered, this, &TForm3::OriginalToDupClick);
    connect(CheckListBox1->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &TForm3::CheckListBox1Click);
    connect(CheckListBox1, &QWidget::customContextMenuRequested, this, &TForm3::showPopup);

    resize(568, 494);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(568 / 2, 494 / 2));
}

void TForm3::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeControls();
}

// The design's places, with the summary between the path label and the list: as many lines as its
// text needs at the window's width, the list taking what is left.
void TForm3::placeControls() {
    const int w = width(), h = height();
    const int pathHeight = std::max(32, 2 * Label1->fontMetrics().height());
    Label1->setGeometry(120, 8, w - 141, pathHeight);
    const int buttonHeight = std::max(25, BitBtn1->sizeHint().height());
    BitBtn1->setGeometry(8, 8, std::max(105, BitBtn1->sizeHint().width()), buttonHeight);
    const int summaryTop = std::max(Label1->geometry().bottom(), BitBtn1->geometry().bottom()) + 4;
    const int summaryHeight =
        std::max(LabelSummary->fontMetrics().height(), LabelSummary->heightForWidth(w - 23));
    LabelSummary->setGeometry(8, summaryTop, w - 23, summaryHeight);
    const int listTop = summaryTop + summaryHeight + 4;
    const int confirmHeight = std::max(25, BitBtn3->sizeHint().height());
    BitBtn3->setGeometry(8, h - 25 - confirmHeight, w - 23, confirmHeight);
    CheckListBox1->setGeometry(8, listTop, w - 23, std::max(40, BitBtn3->y() - 10 - listTop));
    fitColumnToLines();
}

QString TForm3::summaryText() const {
    const RunSession& run = main_->session();
    QString text = model_->summary() + QStringLiteral(". Files ") + criteriaText(run.request().settings);
    const ScanLeftOut& a = run.scanned(Side::A).leftOut;
    const ScanLeftOut& b = run.scanned(Side::B).leftOut;
    const uint64_t files = uint64_t(a.files) + uint64_t(b.files);
    const uint64_t folders = uint64_t(a.folders) + uint64_t(b.folders);
    if (files + folders > 0) {
        QStringList parts;
        if (files > 0)
            parts << countOf(files, "file", "files");
        if (folders > 0)
            parts << countOf(folders, "folder", "folders");
        text += QStringLiteral("; ") + parts.join(QStringLiteral(" and ")) + QStringLiteral(" left out by filters");
    }
    return text + '.';
}

void TForm3::updateSummary() {
    const QString text = summaryText();
    if (LabelSummary->text() == text)
        return;
    const int before = LabelSummary->heightForWidth(LabelSummary->width());
    LabelSummary->setText(text);
    if (LabelSummary->heightForWidth(LabelSummary->width()) != before)
        placeControls();
}

QString TForm3::confirmationText() const {
    const QString where = removalNote(model_->ticked(ActionKind::DeleteFile), model_->tickedOverwrites(),
                                      main_->currentSettings());
    const QString question = QString::fromLatin1(kConfirmText);
    return where.isEmpty() ? question : question + QStringLiteral("\n\n") + where;
}

void TForm3::fill() {
    model_->fill(&main_->session().actions());
    generation_ = main_->session().generation();
    OriginalToDup->setEnabled(false);
    fitColumnToLines();
}

// The column is as wide as the longest line is estimated to be (measuring every line would cost more
// than the list), and at least as wide as the view.
void TForm3::fitColumnToLines() {
    const std::size_t longest = model_->longestLine();
    const QFontMetrics metrics = CheckListBox1->fontMetrics();
    const int text = int(std::min<std::size_t>(longest, 4000)) * metrics.averageCharWidth() * 6 / 5;
    const int room = CheckListBox1->viewport()->width();
    CheckListBox1->header()->resizeSection(0, std::max(room, text + 60));
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
    if (watched == CheckListBox1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space &&
        static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        toggleSelectedTicks();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm3::toggleSelectedTicks() {
    const QItemSelection selection = CheckListBox1->selectionModel()->selection();
    bool allTicked = true;
    for (const QItemSelectionRange& range : selection)
        for (int row = range.top(); row <= range.bottom() && allTicked; ++row)
            allTicked =
                !ActionReviewModel::isTickable(model_->item(std::size_t(row))) || model_->isTicked(row);
    for (const QItemSelectionRange& range : selection)
        model_->setTickedRange(range.top(), range.bottom(), !allTicked);
}

void TForm3::untickFolderOf(int row) {
    if (row < 0 || row >= model_->rowCount())
        return;
    const std::string folder = ActionReviewModel::folderOf(model_->item(std::size_t(row)));
    const std::vector<int> rows = model_->rowsUnder(folder);
    // Runs of neighbouring rows, one change notice each.
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        model_->setTickedRange(rows[i], rows[j], false);
        i = j + 1;
    }
}

void TForm3::showPopup(const QPoint& at) {
    const QModelIndex clicked = CheckListBox1->indexAt(at);
    popupRow_ = clicked.isValid() ? clicked.row() : selectedRow();
    UntickFolder->setEnabled(popupRow_ >= 0 &&
                             !ActionReviewModel::folderOf(model_->item(std::size_t(popupRow_))).empty());
    PopupMenu1->popup(CheckListBox1->viewport()->mapToGlobal(at));
}

int TForm3::selectedRow() const {
    const QModelIndex current = CheckListBox1->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TForm3::selectRow(int row) {
    CheckListBox1->setCurrentIndex(model_->index(row));
}

// On every change of the selected line, by mouse or keyboard.
void TForm3::CheckListBox1Click() {
    const int row = selectedRow();
    if (row < 0)
        return;
    FindPreviewFile();
    OriginalToDup->setEnabled(model_->item(std::size_t(row)).kind == ActionKind::Original);
}

// Shows the path the selected line names; a create-folder line leaves the label as it was.
void TForm3::FindPreviewFile() {
    const int row = selectedRow();
    if (row < 0)
        return;
    const std::string& path = shownPath(model_->item(std::size_t(row)));
    if (!path.empty())
        Label1->setText(QString::fromStdString(path));
}

void TForm3::BitBtn1Click() {
    if (!Label1->text().isEmpty())
        DialogSeam::current().open(Label1->text());
}

// Swaps the kept and the deleted file of the selected pair: the other file is kept and the formerly
// kept one deleted. The delete line's tick still decides whether it runs.
void TForm3::OriginalToDupClick() {
    const int row = selectedRow();
    if (row < 0 || generation_ != main_->session().generation())
        return;
    if (main_->session().swapDuplicatePair(std::size_t(row)))
        model_->rowsChanged(row, row + 1);
}

void TForm3::letGo() {
    model_->fill(nullptr);
    OriginalToDup->setEnabled(false);
}

void TForm3::BitBtn3Click() {
    if (main_->isBusy())
        return;
    DialogSeam& dialogs = DialogSeam::current();
    // Enter must not run a list that deletes or overwrites on a slip of the finger.
    const Answer byDefault = model_->ticksDestroyData() ? Answer::Cancel : Answer::Ok;
    if (dialogs.confirm(this, confirmationText(), false, byDefault) != Answer::Ok)
        return;
    if (generation_ != main_->session().generation()) {
        hide();
        dialogs.message(main_, QString::fromLatin1(kStaleText));
        return;
    }
    main_->beginBusy();
    // The unticked lines leave the plan; every item keeps its number, so an item that depends on a
    // removed one is not run.
    const std::vector<char> ticks = model_->ticks();
    letGo();
    main_->session().keepTicked(ticks);
    generation_ = main_->session().generation();
    hide();
    main_->activateWindow();
    main_->stopFlags.action = false;
    main_->setRunButtonsEnabled(false);
    const ExecutionCounts counts = main_->PerformActions();
    main_->setRunButtonsEnabled(true);
    // The scans after the run look at the locations the list was planned for.
    main_->SearchBothGrids(main_->planLocations());
    main_->endBusy();
    main_->reportRunEnd(counts);
}

} // namespace paritas::gui
