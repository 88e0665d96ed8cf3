#pragma once
// Descriptions of the four synchronisation modes, in the program's own words.

#include <QWidget>

class QPlainTextEdit;

namespace paritas::gui {

class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(QWidget* mainWindow);
    QPlainTextEdit* Memo1;
    // The text, line by line, trailing blanks kept.
    static const QStringList& descriptionLines();
};

} // namespace paritas::gui
