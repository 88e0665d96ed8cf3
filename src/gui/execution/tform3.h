#pragma once
// The review window: the action list as a check list. The user unticks lines, swaps the two files of
// a duplicate pair, previews the file a line names, and confirms; confirming removes the unticked
// lines from the action list and runs it.
//
// The window remembers which action list it was filled from. A planner run that replaces the list
// without refilling the window (review switched off) leaves it showing older lines; confirming then
// runs nothing and says so, so that old ticks never prune a new list.

#include <QWidget>

#include <cstdint>

class QAction;
class QLabel;
class QListView;
class QMenu;
class QPushButton;

namespace paritas::gui {

class ActionReviewModel;
class TForm1;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(TForm1* mainWindow);

    // Fills the check list from the main window's current action list (PrepareActionForm).
    void fill();
    ActionReviewModel* model() const { return model_; }
    int selectedRow() const;
    void selectRow(int row);

    QPushButton *BitBtn1, *BitBtn3;
    QLabel* Label1;
    QListView* CheckListBox1;
    QMenu* PopupMenu1;
    QAction* OriginalToDup;

public slots:
    void CheckListBox1Click();
    void FindPreviewFile();
    void BitBtn1Click();
    void OriginalToDupClick();
    void BitBtn3Click();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void pruneUntickedLines();

    TForm1* main_;
    ActionReviewModel* model_;
    uint64_t generation_ = 0;
};

} // namespace paritas::gui
