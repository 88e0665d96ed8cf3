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
#include "gui/inventory/window_run_host.h"

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
};

SideControls controls(TForm1& f, Side side) {
    if (side == Side::A)
        return {f.Label1, f.Timer1, f.StatusPanelA};
    return {f.Label7, f.Timer2, f.StatusPanelB};
}

} // namespace

WindowRunHost::WindowRunHost(TForm1& form)
    : f_(form), planner_(form), scanA_(std::make_unique<WindowScanHost>(form, controls(form, Side::A).label,
                                                                        controls(form, Side::A).blink)),
      scanB_(std::make_unique<WindowScanHost>(form, controls(form, Side::B).label,
                                              controls(form, Side::B).blink)) {}

WindowRunHost::~WindowRunHost() = default;

ScanHost& WindowRunHost::scanHost(Side side) {
    return side == Side::A ? *scanA_ : *scanB_;
}

void WindowRunHost::scanStarting(Side side) {
    f_.beginScan(side);
}

void WindowRunHost::scanEnded(Side side, const ScanResult& result) {
    f_.endScan(side, result);
}

void WindowRunHost::whileWaiting() {
    KeepAlive::pump();
}

void TForm1::beginScan(Side side) {
    const SideControls c = controls(*this, side);
    lockChooser(side);
    c.label->setText(QString::fromStdString(searchingLabelText(side)));
    c.blink->start();
    c.label->repaint();
}

void TForm1::endScan(Side side, const ScanResult& result) {
    const SideControls c = controls(*this, side);
    c.blink->stop();
    c.panel->setText(QString::fromStdString(filesCountPanelText(side, result.inventory)));
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

namespace {

// The window's run when it is one of `run`'s locations; otherwise a new run of them (which scans but
// plans nothing until a command plans).
bool sameLocations(const RunRequest& request, const RunLocations& run) {
    return request.locationA == run.a && request.locationB == run.b &&
           request.includeSubfolders == run.includeSubfolders;
}

} // namespace

void TForm1::SearchBothGrids(const RunLocations& run) {
    if (!sameLocations(session_.request(), run))
        replaceSession(RunSession(runRequest(PlanKind::Backup, run)));
    WindowRunHost host(*this);
    session_.scanBoth(host);
}

void TForm1::SearchAGrid(const RunLocations& run) {
    if (!sameLocations(session_.request(), run))
        replaceSession(RunSession(runRequest(PlanKind::Backup, run)));
    WindowRunHost host(*this);
    session_.scanSide(Side::A, host);
}

void TForm1::SearchBGrid(const RunLocations& run) {
    if (!sameLocations(session_.request(), run))
        replaceSession(RunSession(runRequest(PlanKind::Backup, run)));
    WindowRunHost host(*this);
    session_.scanSide(Side::B, host);
}

RunLocations TForm1::planLocations() const {
    const RunRequest& request = session_.request();
    return RunLocations{request.locationA, request.locationB, request.includeSubfolders};
}

} // namespace paritas::gui
