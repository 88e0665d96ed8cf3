#pragma once
// The review window: the action list as a check list. The user unticks lines, swaps the two files of
// a duplicate pair, previews the file a line names, and confirms; confirming removes the unticked
// lines from the action list and runs it.
//
// Lists of a hundred thousand lines are reviewed in bulk: Shift/Ctrl click and Ctrl+A select many
// lines, Space ticks or unticks every selected line that may be unticked, and the context menu
// unticks every line under the folder of the line clicked. The summary above the list says what the
// ticked lines will do, by which criteria the files were compared and how many the filters left out;
// it wraps at any width. The confirmation says where the files the lines remove or replace go; when
// they delete or overwrite anything, Enter in the confirmation box means Cancel.
//
// The window remembers which action list it was filled from. A planner run that replaces the list
// without refilling the window (review switched off) leaves it showing older lines; confirming then
// runs nothing and says so, so that old ticks never prune a new list.

#include <QWidget>

#include <cstdint>

class QAction;
class QLabel;
class QTreeView;
class QMenu;
class QPushButton;

namespace paritas::gui {

class ActionReviewModel;
class TForm1;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(TForm1* mainWindow);

    // Fills the check list from the main window's current plan (PrepareActionForm).
    void fill();
    // The plan shown is about to go (a new run replaces it): the list lets go of its items. Confirming
    // afterwards runs nothing and says that the list was planned again.
    void letGo();
    ActionReviewModel* model() const { return model_; }
    int selectedRow() const;
    void selectRow(int row);

    QPushButton *BitBtn1, *BitBtn3;
    QLabel* Label1;
    QLabel* LabelSummary; // what the ticked lines will do, word-wrapped
    // The summary's text: the model's summary, the criteria, what the filters left out.
    QString summaryText() const;
    // The confirmation's text: the specified question and where removed files go.
    QString confirmationText() const;
    QTreeView* CheckListBox1;
    QMenu* PopupMenu1;
    QAction* OriginalToDup;
    QAction* UntickFolder; // "Untick lines under this folder"

public slots:
    void CheckListBox1Click();
    void FindPreviewFile();
    void BitBtn1Click();
    void OriginalToDupClick();
    void BitBtn3Click();
    // Space: ticks every selected tickable line, or unticks them all when all are ticked.
    void toggleSelectedTicks();
    // Unticks every line with a path at or beneath the folder of line `row`.
    void untickFolderOf(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPopup(const QPoint& at);
    void fitColumnToLines();
    void placeControls();
    void updateSummary();

    TForm1* main_;
    ActionReviewModel* model_;
    uint64_t generation_ = 0;
    int popupRow_ = -1;
};

} // namespace paritas::gui
