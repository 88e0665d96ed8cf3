#pragma once
// The favourites window: named synchronisations to run again with one command.

#include "core/settings/config_file.h"
#include "gui/app/font_fit.h"

#include <QWidget>

#include <vector>

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

    // The favourites in table order, the open last row left out.
    std::vector<Favourite> favourites() const;
    // Writes a favourite into the open last row and opens a new one below it.
    void appendFavourite(const Favourite& favourite);
    // Moves a favourite to another place in the list (dragging a row does this); the open row stays
    // last.
    void moveFavourite(int from, int to);

public slots:
    void FormCreate();
    void FormResize();
    void FormShow();
    void StringGrid1Click();
    void StringGrid1KeyPress();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void showDetails();
    QString cell(int row, int column) const;

    TForm1* main_;
    TForm2* configuration_;
    FontScale scale_; // the design's pixels at the window's font
};

} // namespace paritas::gui
