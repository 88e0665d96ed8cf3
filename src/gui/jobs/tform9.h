#pragma once
// The favourites window: named synchronisations to run again with one command.

#include <QWidget>

class QLabel;
class QPushButton;
class QTableWidget;

namespace paritas::gui {

class TForm1;
class TForm2;

class TForm9 : public QWidget {
    Q_OBJECT
public:
    TForm9(TForm1* mainWindow, TForm2* configuration);
    QTableWidget* StringGrid1;
    QLabel *Mode, *LocA, *SubFolders, *LocB;
    QPushButton *BitBtn1, *BitBtn2, *BitBtn3;

public slots:
    void FormCreate();
    void FormResize();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TForm1* main_;
    TForm2* configuration_;
};

} // namespace paritas::gui
