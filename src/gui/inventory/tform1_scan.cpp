// The main window's scans: each walks one location into its folder list and inventory, blinking its
// status label while the folders are searched and showing the file count and size when done.

#include "gui/app/keep_alive.h"
#include "gui/app/tform1.h"

#include "core/inventory/scan.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

namespace paritas::gui {
namespace {

class WindowScanHost final : public ScanHost {
public:
    WindowScanHost(TForm1& form, QLabel* label, QTimer* blink) : form_(form), label_(label), blink_(blink) {}
    void log(std::string_view line) override { form_.log(line); }
    void setProgressMaximum(int64_t maximum) override { form_.setProgressMaximum(maximum); }
    void setProgressPosition(int64_t position) override { form_.setProgressPosition(position); }
    void keepAlive() override { KeepAlive::pump(); }
    void foldersListed() override {
        blink_->stop();
        QPalette p = label_->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        label_->setPalette(p);
        form_.update();
    }

private:
    TForm1& form_;
    QLabel* label_;
    QTimer* blink_;
};

struct SideControls {
    Side side;
    QLineEdit* edit;
    QTreeView* tree;
    QLabel* label;
    QTimer* blink;
    QLabel* panel;
    FolderList* folders;
    Inventory* inventory;
    ScanCoverage* coverage;
};

void scanSide(TForm1& f, const SideControls& c) {
    c.tree->setEnabled(false);
    c.label->setText(QString::fromStdString(searchingLabelText(c.side)));
    c.blink->start();
    c.label->repaint();
    WindowScanHost host(f, c.label, c.blink);
    ScanResult result = scanLocation(c.edit->text().toStdString(), f.CheckBox1->isChecked(), c.side, host);
    *c.folders = std::move(result.folders);
    *c.inventory = std::move(result.inventory);
    *c.coverage = std::move(result.coverage);
    c.blink->stop();
    c.panel->setText(QString::fromStdString(filesCountPanelText(c.side, *c.inventory)));
    c.tree->setEnabled(true);
    c.label->setText(QString::fromStdString(finishedLabelText(c.side)));
    KeepAlive::pumpNow();
}

} // namespace

void TForm1::SearchAGrid() {
    scanSide(*this, {Side::A, Edit1, ShellTreeView1, Label1, Timer1, StatusPanelA, &foldersA, &inventoryA,
                     &coverageA});
}

void TForm1::SearchBGrid() {
    scanSide(*this, {Side::B, Edit2, ShellTreeView2, Label7, Timer2, StatusPanelB, &foldersB, &inventoryB,
                     &coverageB});
}

} // namespace paritas::gui
