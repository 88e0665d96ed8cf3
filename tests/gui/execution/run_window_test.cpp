// The main window while actions run: the progress label is as wide as its counts need, and the stop
// window keeps the input focus when a copy window appears.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "core/execution/executor.h"
#include "gui/app/keep_alive.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tprogressform.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

class RunWindowTest : public QObject {
    Q_OBJECT
    Windows w;
    TForm1* f = nullptr;

private slots:
    void init() {
        w = createWindows();
        f = w.form1;
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
    }
    void cleanup() {
        KeepAlive::setBeforePump({});
        TProgressForm::showAfterMs = 300;
        destroyWindows(w);
    }

    void theProgressLabelShowsItsWholeText_data() {
        QTest::addColumn<int>("failures");
        QTest::addColumn<bool>("red");
        QTest::newRow("a few failures") << 3 << false;
        QTest::newRow("more than 100 failures") << 101 << true;
    }
    void theProgressLabelShowsItsWholeText() {
        QFETCH(int, failures);
        QFETCH(bool, red);
        FakeDialogs dialogs;
        ActionList items;
        for (int i = 0; i < failures; ++i)
            items.push_back(removeFolderItem("/nonexistent/folder" + std::to_string(i)));
        planByHand(f, items);
        f->PerformActions();
        const QString text = f->Label9->text();
        QCOMPARE(text.contains("Warning! More then 100 FAILED Actions!!"), red);
        QCOMPARE(f->Label9->palette().color(QPalette::WindowText) == QColor(Qt::red), red);
        QVERIFY2(f->Label9->fontMetrics().horizontalAdvance(text) <= f->Label9->contentsRect().width(),
                 qPrintable(QStringLiteral("%1 px of text in a label %2 px wide")
                                .arg(f->Label9->fontMetrics().horizontalAdvance(text))
                                .arg(f->Label9->width())));
        QVERIFY(f->Label9->geometry().right() < f->Label9->parentWidget()->width());
    }

    // However late in a copy its window appears, the stop window takes the focus back, so the space
    // bar still stops the run rather than pressing "Cancel All".
    void theStopWindowKeepsTheFocusWhenTheCopyWindowAppears_data() {
        QTest::addColumn<int>("showAfterMs");
        QTest::newRow("at once") << 0;
        QTest::newRow("late in the copy") << 30;
    }
    void theStopWindowKeepsTheFocusWhenTheCopyWindowAppears() {
        QFETCH(int, showAfterMs);
        struct SlowCopy final : CopyTask {
            QString active, focus; // class names: the copy window is gone when they are compared
            bool windowSeen = false;
            CopyResult run(CopyObserver& observer) override {
                for (uint64_t done = 0; done <= 10; ++done) {
                    observer.progress(done, 10);
                    QTest::qWait(10); // the display's answers arrive
                    for (QWidget* top : QApplication::topLevelWidgets())
                        windowSeen |= qobject_cast<TProgressForm*>(top) && top->isVisible();
                }
                const QWidget* window = QApplication::activeWindow();
                const QWidget* widget = QApplication::focusWidget();
                active = window ? window->metaObject()->className() : "none";
                focus = widget ? widget->parentWidget()->metaObject()->className() : "none";
                return {};
            }
        };
        TProgressForm::showAfterMs = showAfterMs;
        w.form11->showBesideMainWindow();
        w.form11->takeFocus();
        SlowCopy copy;
        StopFlags flags;
        TProgressForm::CopyWithProgress(*f, flags, f->activityLog(), copy, "big.iso");
        QVERIFY(copy.windowSeen);
        QCOMPARE(copy.active, QStringLiteral("paritas::gui::TForm11"));
        QCOMPARE(copy.focus, QStringLiteral("paritas::gui::TForm11")); // its one button
    }
};

QTEST_MAIN(RunWindowTest)
#include "run_window_test.moc"
