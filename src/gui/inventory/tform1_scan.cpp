// The main window's scans: each walks one location into its folder list and inventory, blinking its
// status label while the folders are searched and showing the file count and size when done.
//
//   beginScan(side)     the side's chooser locked, "Searching ..." and the blink timer
//   scanLocation(...)   the core's walk, reporting through the side's WindowScanHost
//   endScan(side, ...)  the result taken, the status panel and "Path A Finished", the chooser freed
//
// The window's part is kept apart from the walk so that both walks run at once: SearchBothGrids walks
// B in the background while A is scanned, and then shows B's scan as it would have come after A's
// (the same labels, blinking, progress and log lines, in the same order).

#include "gui/app/keep_alive.h"
#include "gui/app/tform1.h"

#include "core/inventory/scan.h"

#include <QLabel>
#include <QTimer>

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
    QLabel* label;
    QTimer* blink;
    QLabel* panel;
    FolderList* folders;
    Inventory* inventory;
    ScanCoverage* coverage;
};

SideControls controls(TForm1& f, Side side) {
    if (side == Side::A)
        return {f.Label1, f.Timer1, f.StatusPanelA, &f.foldersA, &f.inventoryA, &f.coverageA};
    return {f.Label7, f.Timer2, f.StatusPanelB, &f.foldersB, &f.inventoryB, &f.coverageB};
}

void scanSide(TForm1& f, Side side, const std::string& location, bool includeSubfolders) {
    f.beginScan(side);
    const SideControls c = controls(f, side);
    WindowScanHost host(f, c.label, c.blink);
    f.endScan(side, scanLocation(location, includeSubfolders, side, host));
}

} // namespace

// The side's old inventory goes before the walk starts (the form empties its grid here too): a walk
// of a large tree must not hold two inventories of the side at once.
void TForm1::beginScan(Side side) {
    const SideControls c = controls(*this, side);
    *c.folders = {};
    *c.inventory = {};
    *c.coverage = {};
    lockChooser(side);
    c.label->setText(QString::fromStdString(searchingLabelText(side)));
    c.blink->start();
    c.label->repaint();
}

void TForm1::endScan(Side side, ScanResult result) {
    const SideControls c = controls(*this, side);
    *c.folders = std::move(result.folders);
    *c.inventory = std::move(result.inventory);
    *c.coverage = std::move(result.coverage);
    c.blink->stop();
    c.panel->setText(QString::fromStdString(filesCountPanelText(side, *c.inventory)));
    unlockChooser(side);
    c.label->setText(QString::fromStdString(finishedLabelText(side)));
    flushProgress();
    KeepAlive::pumpNow();
}

void TForm1::SearchAGrid() {
    SearchAGrid(chosenLocations());
}

void TForm1::SearchBGrid() {
    SearchBGrid(chosenLocations());
}

void TForm1::SearchBothGrids(const RunLocations& run) {
    // B's old inventory goes before either walk starts: neither side holds two at once.
    const SideControls b = controls(*this, Side::B);
    *b.folders = {};
    *b.inventory = {};
    *b.coverage = {};
    ScanOptions options;
    options.includeSubfolders = run.includeSubfolders;
    ScanAhead aheadB(run.b, options, Side::B);
    SearchAGrid(run);
    beginScan(Side::B);
    WindowScanHost host(*this, b.label, b.blink);
    endScan(Side::B, aheadB.finish(host, [] { KeepAlive::pump(); }));
}

void TForm1::SearchAGrid(const RunLocations& run) {
    scanSide(*this, Side::A, run.a, run.includeSubfolders);
}

void TForm1::SearchBGrid(const RunLocations& run) {
    scanSide(*this, Side::B, run.b, run.includeSubfolders);
}

} // namespace paritas::gui
