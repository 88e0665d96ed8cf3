#pragma once
// The CRC matching window: each file of A with its partner in B, the CRC display texts of both and
// the verdict. "Start CRC Compare" computes them row by row and can be stopped between rows; the two
// preview buttons open the selected row's files.

#include "core/checksum/crc_matching.h"

#include <QAbstractTableModel>
#include <QWidget>

class QProgressBar;
class QPushButton;
class QTableView;

namespace paritas::gui {

class TForm1;

// The grid over the match table: one row per file of A and the empty row after them.
class CrcMatchModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;
    void setTable(CrcMatchTable table);
    CrcMatchTable& table() { return table_; }
    void rowChanged(std::size_t row);
    QString cell(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // Display texts; a row with a file that could not be read whole carries why as its tooltip and
    // a warning sign beside its status.
    QVariant data(const QModelIndex& index, int role) const override;
    QString readProblem(int row) const;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    CrcMatchTable table_;
};

class TCRCMatch : public QWidget {
    Q_OBJECT
public:
    explicit TCRCMatch(TForm1* mainWindow);
    // Shows a new pairing: the rows, an empty progress bar, and the first row current, so that the
    // preview buttons work at once.
    void setPairs(CrcMatchTable table);
    QTableView* StringGrid1;
    CrcMatchModel* grid;
    QPushButton *BitBtn1, *BitBtn2, *BitBtn3, *BitBtn4;
    QProgressBar* ProgressBar1;
    bool stopRequested = false;

    // Number of bad matches of the last compare.
    int badMatches = 0;

public slots:
    void FormCreate();
    void FormResize();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void previewColumn(int column);

    TForm1* main_;
    bool comparing_ = false;
};

} // namespace paritas::gui
