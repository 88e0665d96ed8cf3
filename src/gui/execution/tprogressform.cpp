#include "gui/execution/tprogressform.h"

#include "gui/app/app_icons.h"
#include "gui/app/font_fit.h"
#include "gui/app/keep_alive.h"
#include "gui/app/repaint_throttle.h"
#include "gui/app/tform1.h"
#include "gui/execution/tform11.h"

#include "core/execution/copy_progress.h"
#include "core/execution/executor.h"
#include "core/platform/file_copy.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace paritas::gui {
namespace {

// Reports one copy to the window, which it makes only when the copy turns out to be a long one.
class WindowCopyObserver final : public CopyObserver {
public:
    WindowCopyObserver(TForm1& mainWindow, StopFlags& flags, ActivityHost& log, const QString& name,
                       const TProgressForm::BytesReport& bytes)
        : main_(mainWindow), flags_(flags), log_(log), name_(name), bytes_(bytes) {
        clock_.start();
    }
    ~WindowCopyObserver() override {
        if (form_)
            form_->hide();
    }
    void progress(uint64_t done, uint64_t total) override {
        appearIfDue();
        if (bytes_)
            bytes_(done, total);
        if (form_)
            form_->CopyProgressCallback(name_, done, total);
        KeepAlive::pump();
    }
    bool cancelRequested() override { return (form_ && form_->cancelFlag) || flags_.action; }

    // The window appears once the copy has run for showAfterMs; the stop window takes the focus back.
    void appearIfDue() {
        if (form_ || clock_.elapsed() < TProgressForm::showAfterMs)
            return;
        form_ = std::make_unique<TProgressForm>(&main_, flags_, log_);
        form_->show();
        if (TForm11* stop = main_.windows().form11)
            stop->takeFocus(TForm11::Focus::Now);
        KeepAlive::pumpNow();
    }

    TForm1& main_;
    StopFlags& flags_;
    ActivityHost& log_;
    const QString& name_;
    const TProgressForm::BytesReport& bytes_;
    QElapsedTimer clock_;
    std::unique_ptr<TProgressForm> form_;
};

} // namespace

QString copySpeedText(uint64_t done, uint64_t total, int64_t elapsedMs) {
    if (elapsedMs <= 0 || done == 0)
        return {};
    const double bytesPerSecond = double(done) * 1000.0 / double(elapsedMs);
    const auto secondsLeft = int64_t(double(total > done ? total - done : 0) / bytesPerSecond + 0.5);
    const QString left =
        secondsLeft >= 3600
            ? QStringLiteral("%1:%2:%3")
                  .arg(secondsLeft / 3600)
                  .arg(secondsLeft / 60 % 60, 2, 10, QLatin1Char('0'))
                  .arg(secondsLeft % 60, 2, 10, QLatin1Char('0'))
            : QStringLiteral("%1:%2").arg(secondsLeft / 60).arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1 MB/s, %2 left").arg(bytesPerSecond / 1048576.0, 0, 'f', 1).arg(left);
}

TProgressForm::TProgressForm(TForm1* mainWindow, StopFlags& flags, ActivityHost& log)
    : QWidget(mainWindow,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowDoesNotAcceptFocus),
      flags_(flags), log_(log), repaint_(std::make_unique<RepaintThrottle>([this] { update(); })) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Copy Progress"));
    ProgressBar = new QProgressBar(this);
    ProgressBar->setGeometry(8, 16, 417, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    ProgressBar->setValue(0);
    LabelSpeed = new QLabel(this);
    Label2 = new QLabel(QStringLiteral("8888 MB of 8888 MB Finished"), this);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1 = new QLabel(this);
    Label1->setWordWrap(true);
    BitBtn1 = new QPushButton(QStringLiteral("Cancel All"), this);
    BitBtn1->setIcon(cancelIcon());
    BitBtn1->setIconSize(QSize(14, 14)); // the cross and the caption fit the button's 81 pixels
    AbortButton = new QPushButton(QStringLiteral("Cancel"), this);
    placeControls();
    Label2->clear();
    for (QPushButton* b : {BitBtn1, AbortButton})
        b->setFocusPolicy(Qt::NoFocus);
    connect(BitBtn1, &QPushButton::clicked, this, &TProgressForm::BitBtn1Click);
    connect(AbortButton, &QPushButton::clicked, this, &TProgressForm::AbortButtonClick);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(width() / 2, height() / 2));
    started_.start();
}

TProgressForm::~TProgressForm() = default;

// The design places, in a client area of 438 by 96; a larger font widens the window for the speed and
// the megabyte count, and gives the file name its two lines.
void TProgressForm::placeControls() {
    const int countWidth = grownWidth(Label2, 200);
    const int speedWidth =
        LabelSpeed->fontMetrics().horizontalAdvance(QStringLiteral("9999.9 MB/s, 99:59:59 left"));
    const int width = std::max(438, 8 + speedWidth + 15 + countWidth + 13);
    const int right = width - 13;
    ProgressBar->setGeometry(8, 16, width - 21, 16);
    const int buttonHeight = grownHeight(BitBtn1, 25);
    AbortButton->setGeometry(right - grownWidth(AbortButton, 81), 67, grownWidth(AbortButton, 81),
                             buttonHeight);
    // The design's 81 pixels hold the cross and "Cancel All" with nothing to spare.
    const int cancelAllWidth = grownWidth(BitBtn1, 81, ButtonRoom::Tight);
    BitBtn1->setGeometry(AbortButton->x() - 7 - cancelAllWidth, 67, cancelAllWidth, buttonHeight);
    const int lineHeight = grownHeight(Label2, 18);
    Label2->setGeometry(right - countWidth, 38, countWidth, lineHeight);
    LabelSpeed->setGeometry(8, 38, Label2->x() - 15, lineHeight);
    const int nameHeight = std::max(32, 2 * Label1->fontMetrics().height());
    Label1->setGeometry(8, 64, BitBtn1->x() - 23, nameHeight);
    setFixedSize(width, std::max({96, 64 + nameHeight, 67 + buttonHeight + 4}));
}

void TProgressForm::CopyProgressCallback(const QString& copyName, uint64_t done, uint64_t total) {
    name_ = copyName;
    done_ = done;
    total_ = total;
    repaint_->request();
}

void TProgressForm::flush() {
    repaint_->flush();
}

void TProgressForm::update() {
    if (Label1->text() != name_)
        Label1->setText(name_);
    Label2->setText(QString::fromStdString(copyMegabyteText(done_, total_)));
    LabelSpeed->setText(copySpeedText(done_, total_, started_.elapsed()));
    const int percent = copyPercentage(done_, total_);
    if (ProgressBar->value() != percent)
        ProgressBar->setValue(percent);
}

void TProgressForm::AbortButtonClick() {
    cancelCopy(cancelFlag, log_);
}
void TProgressForm::BitBtn1Click() {
    cancelAllCopies(cancelFlag, flags_, log_);
}

CopyResult TProgressForm::CopyWithProgress(TForm1& mainWindow, StopFlags& flags, ActivityHost& log,
                                           CopyTask& copy, const QString& copyName,
                                           const BytesReport& bytes) {
    WindowCopyObserver observer(mainWindow, flags, log, copyName, bytes);
    observer.appearIfDue();
    return copy.run(observer);
}

} // namespace paritas::gui
