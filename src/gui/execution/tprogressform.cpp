#include "gui/execution/tprogressform.h"

#include "gui/app/keep_alive.h"
#include "gui/app/tform1.h"
#include "gui/execution/tform11.h"

#include "core/execution/copy_progress.h"
#include "core/execution/executor.h"
#include "core/platform/file_copy.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

namespace paritas::gui {
namespace {

// A copy shows its window once it has run this long; shorter copies finish unseen.
constexpr qint64 kShowAfterMs = 300;

class WindowCopyObserver final : public CopyObserver {
public:
    WindowCopyObserver(TProgressForm& form, const QString& name, const StopFlags& flags)
        : form_(form), name_(name), flags_(flags) {
        clock_.start();
    }
    void progress(uint64_t done, uint64_t total) override {
        if (!form_.isVisible() && clock_.elapsed() >= kShowAfterMs)
            form_.show();
        form_.CopyProgressCallback(name_, done, total);
    }
    bool cancelRequested() override { return form_.cancelFlag || flags_.action; }

private:
    TProgressForm& form_;
    QString name_;
    const StopFlags& flags_;
    QElapsedTimer clock_;
};

} // namespace

TProgressForm::TProgressForm(TForm1* mainWindow, StopFlags& flags, ActivityHost& log)
    : QWidget(mainWindow, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), flags_(flags),
      log_(log) {
    setWindowTitle(QStringLiteral("Copy Progress"));
    setFixedSize(438, 96);
    ProgressBar = new QProgressBar(this);
    ProgressBar->setGeometry(8, 16, 417, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setTextVisible(false);
    ProgressBar->setValue(0);
    Label2 = new QLabel(this);
    Label2->setGeometry(225, 38, 200, 18);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1 = new QLabel(this);
    Label1->setGeometry(8, 64, 233, 33);
    Label1->setWordWrap(true);
    BitBtn1 = new QPushButton(QStringLiteral("Cancel All"), this);
    BitBtn1->setGeometry(256, 67, 81, 25);
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    AbortButton = new QPushButton(QStringLiteral("Cancel"), this);
    AbortButton->setGeometry(344, 67, 81, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &TProgressForm::BitBtn1Click);
    connect(AbortButton, &QPushButton::clicked, this, &TProgressForm::AbortButtonClick);
    if (mainWindow)
        move(mainWindow->geometry().center() - QPoint(438 / 2, 96 / 2));
}

void TProgressForm::CopyProgressCallback(const QString& copyName, uint64_t done, uint64_t total) {
    Label1->setText(copyName);
    Label2->setText(QString::fromStdString(copyMegabyteText(done, total)));
    const int percent = copyPercentage(done, total);
    if (ProgressBar->value() != percent)
        ProgressBar->setValue(percent);
    KeepAlive::pump();
}

void TProgressForm::AbortButtonClick() {
    cancelCopy(cancelFlag, log_);
}
void TProgressForm::BitBtn1Click() {
    cancelAllCopies(cancelFlag, flags_, log_);
}

CopyResult TProgressForm::CopyWithProgress(TForm1& mainWindow, StopFlags& flags, ActivityHost& log,
                                           CopyTask& copy, const QString& copyName) {
    TProgressForm form(&mainWindow, flags, log);
    TForm11* stopWindow = mainWindow.windows().form11;
    if (stopWindow)
        stopWindow->takeFocus();
    KeepAlive::pump();
    WindowCopyObserver observer(form, copyName, flags);
    const CopyResult result = copy.run(observer);
    form.hide();
    return result;
}

} // namespace paritas::gui
