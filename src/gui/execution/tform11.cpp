#include "gui/execution/tform11.h"

#include "gui/app/activity_log.h"
#include "gui/app/app_icons.h"
#include "gui/app/dialog_seam.h"
#include "gui/app/tform1.h"
#include "gui/app/wrapping_button.h"

#include "core/execution/executor.h"

#include <algorithm>

namespace paritas::gui {

TForm11::TForm11(TForm1* mainWindow)
    : QWidget(mainWindow,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      main_(mainWindow) {
    setWindowTitle(QStringLiteral("Stop Actions"));
    BitBtn1 =
        new WrappingButton(QStringLiteral("To Stop All Activity Press Space or Mouse Click here"), this);
    BitBtn1->setIcon(cancelIcon());
    QFont bold = BitBtn1->font();
    bold.setBold(true);
    BitBtn1->setFont(bold);
    // 337 by 41 in a client area of 352 by 59; higher when a larger font needs more lines.
    const int height = std::max(41, BitBtn1->heightForWidth(337));
    BitBtn1->setGeometry(8, 8, 337, height);
    setFixedSize(352, height + 18);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm11::BitBtn1Click);
}

void TForm11::showBesideMainWindow() {
    if (main_)
        move(main_->frameGeometry().topLeft() + QPoint(200, 40));
    show();
}

void TForm11::takeFocus(Focus when) {
    if (!isVisible())
        showBesideMainWindow();
    else if (when == Focus::WhenLost && isActiveWindow() && BitBtn1->hasFocus())
        return;
    else if (when == Focus::WhenLost && lastRequest_.isValid() && lastRequest_.elapsed() < 250)
        return;
    lastRequest_.start();
    activateWindow();
    BitBtn1->setFocus();
}

// Stops the run after its current action and the job list before its next job.
void TForm11::BitBtn1Click() {
    if (!main_)
        return;
    interruptJobProcessing(main_->stopFlags, main_->activityLog());
    DialogSeam::current().message(this, QString::fromLatin1(kJobInterruptedMessage));
}

} // namespace paritas::gui
