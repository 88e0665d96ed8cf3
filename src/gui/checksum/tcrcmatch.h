#pragma once
// The CRC matching window: each file of A with its partner in B, their checksums and the verdict.

#include <QWidget>

class QProgressBar;
class QPushButton;
class QTableWidget;

namespace paritas::gui {

class TForm1;

class TCRCMatch : public QWidget {
    Q_OBJECT
public:
    explicit TCRCMatch(TForm1* mainWindow);
    QTableWidget* StringGrid1;
    QPushButton *BitBtn1, *BitBtn2, *BitBtn3, *BitBtn4;
    QProgressBar* ProgressBar1;
    bool stopRequested = false;

public slots:
    void FormResize();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TForm1* main_;
};

} // namespace paritas::gui
