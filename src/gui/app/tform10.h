#pragma once
// Who made the program, with a link to the maker's web site.

#include <QWidget>

class QLabel;

namespace paritas::gui {

class TForm10 : public QWidget {
    Q_OBJECT
public:
    explicit TForm10(QWidget* mainWindow);
    QLabel *Image1, *Label1, *Label2;

public slots:
    void Label1Click();
};

} // namespace paritas::gui
