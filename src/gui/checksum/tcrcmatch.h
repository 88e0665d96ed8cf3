#pragma once
// The CRC matching window: each file of A with its partner in B, the CRC display texts of both and
// the verdict. "Start CRC Compare" computes them row by row and can be stopped between rows; the two
// preview buttons open the selected row's files. Rows that need the user's eye (files that differ,
// a file of A without partner) are coloured and carry a sign, so they stand out without colour too;
// "Show only differences" hides the others.

#include "core/checksum/crc_matching.h"

#include <QAbstractProxyModel>
#include <QAbstractTableModel>
#include <QWidget>

#include <vector>

class QCheckBox;
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
    void rowsChanged(std::size_t first, std::size_t last);
    QString cell(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    // Display texts; a row with a file that could not be read whole carries why as its tooltip and
    // a warning sign beside its status.
    QVariant data(const QModelIndex& index, int role) const override;
    QString readProblem(int row) const;
    // A row the compare found different ("Different!!!", a file that could not be read) or without a
    // partner in B ("NoFileMatch"). Rows not yet compared and the empty last row are none.
    bool isDifference(int row) const;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    CrcMatchTable table_;
};

// The rows the grid shows: every row, or only the differences. A proxy of its own rather than a
// sort-filter proxy: switching the filter is one reset and one pass over the table (a sort-filter
// proxy removes the hidden rows range by range, which over 100,000 rows takes seconds), and the rows a
// compare changes are filtered again as they change, with one removal and one insertion at most.
class CrcDifferencesFilter : public QAbstractProxyModel {
    Q_OBJECT
public:
    CrcDifferencesFilter(CrcMatchModel* source, QObject* parent);
    void setOnlyDifferences(bool only);
    bool onlyDifferences() const { return only_; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void rebuild();
    void sourceRowsChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);

    CrcMatchModel* source_;
    bool only_ = false;
    std::vector<int> rows_; // the table rows shown, ascending; used while only_
};

class TCRCMatch : public QWidget {
    Q_OBJECT
public:
    explicit TCRCMatch(TForm1* mainWindow);
    // Shows a new pairing: the rows, an empty progress bar, and the first row current, so that the
    // preview buttons work at once.
    void setPairs(CrcMatchTable table);
    QTableView* StringGrid1;
    CrcMatchModel* grid;         // the match table; the view shows it through `shown`
    CrcDifferencesFilter* shown; // what StringGrid1 shows
    QCheckBox* CheckDifferences; // "Show only differences"
    QPushButton *BitBtn1, *BitBtn2, *BitBtn3, *BitBtn4;
    // The table row (of `grid`) that the view's current row shows, or -1.
    int currentTableRow() const;
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
    void CheckDifferencesClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void previewColumn(int column);

    TForm1* main_;
    bool comparing_ = false;
};

} // namespace paritas::gui
