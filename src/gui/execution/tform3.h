#pragma once
// The review window: the action list as a check list, to untick lines, swap duplicate pairs, preview
// the named files and confirm.

#include <QWidget>

class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QAction;

namespace paritas::gui {

class TForm1;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(TForm1* mainWindow);
    QPushButton *BitBtn1, *BitBtn3;
    QLabel* Label1;
    QListWidget* CheckListBox1;
    QMenu* PopupMenu1;
    QAction* OriginalToDup;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TForm1* main_;
};

} // namespace paritas::gui
