// Every window, rendered offscreen at the default font and at 12 pt (the main window also at its
// minimum size, maximised and compact, the compact one with a status text as long as a run's): no
// caption of a label, button, radio button, check box or group is cut, no two visible controls
// overlap, and every control of a group box stands inside its frame, below its title. The job list
// shows its headers and its short columns (status, mode, subfolders) whole, and B's caption keeps
// apart from B's drop-down. At the default font the designed pixel rules still hold (the window tests
// check them); what a larger font needs is grown from its metrics.

#include "support/fake_dialogs.h"
#include "support/gui_fixture.h"

#include "core/execution/stop_flags.h"
#include "gui/app/tform10.h"
#include "gui/app/tform5.h"
#include "gui/checksum/tcrcmatch.h"
#include "gui/execution/tform11.h"
#include "gui/execution/tform3.h"
#include "gui/execution/tprogressform.h"
#include "gui/jobs/tform9.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

using namespace paritas;
using namespace paritas::gui;
using namespace paritas::gui::testing;

namespace {

QString plain(const QString& caption) {
    QString text = caption;
    return text.remove(QLatin1Char('&'));
}

QString describe(const QWidget* w) {
    QString text;
    if (const auto* label = qobject_cast<const QLabel*>(w))
        text = label->text();
    else if (const auto* button = qobject_cast<const QAbstractButton*>(w))
        text = button->text();
    else if (const auto* group = qobject_cast<const QGroupBox*>(w))
        text = group->title();
    return QStringLiteral("%1 \"%2\" %3,%4 %5x%6")
        .arg(QString::fromLatin1(w->metaObject()->className()), text.left(40))
        .arg(w->x())
        .arg(w->y())
        .arg(w->width())
        .arg(w->height());
}

// The room a caption needs in its widget, or an empty size when the widget shows it whole.
QString cutCaption(const QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->text().isEmpty() || !label->pixmap().isNull())
            return {};
        const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                          -label->margin());
        QSize needed;
        if (Qt::mightBeRichText(label->text()) && label->textFormat() != Qt::PlainText) {
            QTextDocument doc;
            doc.setDefaultFont(label->font());
            doc.setHtml(label->text());
            doc.setDocumentMargin(0);
            if (label->wordWrap())
                doc.setTextWidth(room.width());
            needed = doc.size().toSize();
        } else if (label->wordWrap()) {
            needed =
                fm.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, label->text()).size();
        } else {
            needed = fm.size(0, label->text());
        }
        if (needed.width() <= room.width() && needed.height() <= room.height())
            return {};
        return QStringLiteral("needs %1x%2").arg(needed.width()).arg(needed.height());
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (button->text().isEmpty())
            return {};
        if (button->property("wrapsText").toBool()) {
            const int needed = button->heightForWidth(button->width());
            return needed <= button->height() ? QString() : QStringLiteral("needs height %1").arg(needed);
        }
        int needed = fm.horizontalAdvance(plain(button->text()));
        if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w))
            needed = button->sizeHint().width();
        else if (!button->icon().isNull())
            needed += button->iconSize().width() + 4;
        needed += qobject_cast<const QPushButton*>(w) ? 4 : 0; // the frame
        const int height = fm.height();
        if (needed <= button->width() && height <= button->height())
            return {};
        return QStringLiteral("needs %1x%2").arg(needed).arg(height);
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(w)) {
        const int needed = fm.horizontalAdvance(group->title()) + 16;
        return needed <= group->width() ? QString() : QStringLiteral("needs %1").arg(needed);
    }
    return {};
}

// Widgets whose insides are their own business (views, combo boxes, line edits, bars).
bool isComposite(const QWidget* w) {
    return qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QMenuBar*>(w) ||
           qobject_cast<const QStatusBar*>(w) || qobject_cast<const QAbstractButton*>(w) ||
           qobject_cast<const QLabel*>(w);
}

void inspect(const QWidget* container, const QString& where, QStringList& problems) {
    QList<const QWidget*> controls;
    for (const QObject* child : container->children()) {
        const auto* w = qobject_cast<const QWidget*>(child);
        if (!w || w->isWindow() || !w->isVisible())
            continue;
        controls << w;
        const QString cut = cutCaption(w);
        if (!cut.isEmpty())
            problems << QStringLiteral("%1: caption cut: %2, %3").arg(where, describe(w), cut);
        if (!isComposite(w))
            inspect(w, where, problems);
    }
    for (int i = 0; i < controls.size(); ++i)
        for (int j = i + 1; j < controls.size(); ++j)
            if (controls[i]->geometry().intersects(controls[j]->geometry()))
                problems << QStringLiteral("%1: %2 overlaps %3")
                                .arg(where, describe(controls[i]), describe(controls[j]));
    // Inside a group box, below its title and inside its frame (a check box across the frame line).
    if (const auto* group = qobject_cast<const QGroupBox*>(container))
        for (const QWidget* w : controls)
            if (!group->contentsRect().contains(w->geometry()))
                problems << QStringLiteral(
                                "%1: %2 crosses the frame or title of group \"%3\" (inside %4,%5 %6x%7)")
                                .arg(where, describe(w), group->title())
                                .arg(group->contentsRect().x())
                                .arg(group->contentsRect().y())
                                .arg(group->contentsRect().width())
                                .arg(group->contentsRect().height());
    // Nothing stands outside its container.
    for (const QWidget* w : controls)
        if (!container->rect().contains(w->geometry()) && !qobject_cast<const QMenuBar*>(w))
            problems << QStringLiteral("%1: %2 runs past the edge of %3 (%4x%5)")
                            .arg(where, describe(w),
                                 QString::fromLatin1(container->metaObject()->className()))
                            .arg(container->width())
                            .arg(container->height());
}

} // namespace

class LayoutTest : public QObject {
    Q_OBJECT
    QFont defaultFont;

    QStringList problemsOf(QWidget* window, const QString& where) {
        window->show();
        if (!QTest::qWaitForWindowExposed(window))
            return {where + ": not shown"};
        QCoreApplication::processEvents();
        QStringList problems;
        inspect(window, where, problems);
        return problems;
    }

private slots:
    void initTestCase() { defaultFont = QApplication::font(); }
    void cleanup() { QApplication::setFont(defaultFont); }

    void noCaptionIsCutAndNoControlsOverlap_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<int>("pointSize");
        for (const char* window :
             {"main window", "Configuration", "File Action List", "Descriptions", "CRC Matching", "Favorites",
              "Developer Info", "Stop Actions", "Copy Progress"})
            for (int pointSize : {0, 12})
                QTest::addRow("%s, %s", window, pointSize ? "12 pt" : "default font")
                    << QString(window) << pointSize;
    }
    void noCaptionIsCutAndNoControlsOverlap() {
        QFETCH(QString, window);
        QFETCH(int, pointSize);
        if (pointSize > 0) {
            QFont larger = defaultFont;
            larger.setPointSize(pointSize);
            QApplication::setFont(larger);
        }
        FakeDialogs dialogs;
        Windows w = createWindows();
        TForm1* f = w.form1;
        StopFlags flags;
        auto* copyWindow = new TProgressForm(f, flags, f->activityLog());
        copyWindow->CopyProgressCallback("a-rather-long-file-name-of-a-photograph.jpg", 1879048192,
                                         4294967296);
        copyWindow->flush();
        // A slow copy of a large file: the longest speed text.
        copyWindow->LabelSpeed->setText(copySpeedText(1 << 20, uint64_t(6) << 30, 1000));
        const QMap<QString, QWidget*> secondary = {{"Configuration", w.form2}, {"File Action List", w.form3},
                                                   {"Descriptions", w.form5},  {"CRC Matching", w.crcMatch},
                                                   {"Favorites", w.form9},     {"Developer Info", w.form10},
                                                   {"Stop Actions", w.form11}, {"Copy Progress", copyWindow}};
        QStringList problems;
        if (window == "main window") {
            struct Size {
                const char* name;
                int width, height;
                bool compact;
            };
            for (const Size& size :
                 {Size{"design size", 876, 691, false}, Size{"minimum size", 650, 430, false},
                  Size{"maximised", 1920, 1050, false}, Size{"compact", 876, 430, true}}) {
                if (size.compact) {
                    f->Compact1Click();
                    // During a run the progress label carries a status as wide as the window.
                    f->setProgressStatus(QStringLiteral("Scanning B: 123,456 files in /media/ann/backup-disk/"
                                                        "Documents/2026/Photographs/Holidays"));
                    f->flushProgress();
                    for (QLabel* bottom : {f->Label1, f->Label7, f->lblActionCount})
                        bottom->setText(QStringLiteral("Scanning"));
                }
                f->resize(size.width, size.height);
                problems << problemsOf(f, QLatin1String(size.name));
            }
        } else {
            problems << problemsOf(secondary.value(window), window);
        }
        destroyWindows(w);
        for (const QString& problem : problems)
            qInfo().noquote() << problem;
        QVERIFY2(problems.isEmpty(),
                 qPrintable(QStringLiteral("%1 problems, listed above").arg(problems.size())));
    }

    // The job list with a job of every mode: each header and each status, mode and subfolder text
    // whole, and every column inside the list beside its vertical scroll bar. B's caption reads as B's
    // and stands apart from B's drop-down.
    void theJobListAndTheCaptionsOfBShowWhole_data() {
        QTest::addColumn<int>("pointSize");
        QTest::addColumn<int>("width");
        for (int pointSize : {0, 12})
            for (int width : {650, 876, 1400})
                QTest::addRow("%s, %d wide", pointSize ? "12 pt" : "default font", width)
                    << pointSize << width;
    }
    void theJobListAndTheCaptionsOfBShowWhole() {
        QFETCH(int, pointSize);
        QFETCH(int, width);
        if (pointSize > 0) {
            QFont larger = defaultFont;
            larger.setPointSize(pointSize);
            QApplication::setFont(larger);
        }
        FakeDialogs dialogs;
        Windows w = createWindows();
        TForm1* f = w.form1;
        f->Edit1->setText("/home/ann/Documents/");
        f->Edit2->setText("/media/ann/backup-disk/Documents/");
        for (int mode = 0; mode < 4; ++mode) {
            f->setModeIndex(mode);
            f->BitBtn1Click();
        }
        f->show();
        QVERIFY(QTest::qWaitForWindowExposed(f));
        f->resize(width, 691);
        QCoreApplication::processEvents();
        QStringList problems;
        QTableWidget* grid = f->StringGrid3;
        const QHeaderView* header = grid->horizontalHeader();
        int total = 0;
        for (int c = 0; c < grid->columnCount(); ++c) {
            total += grid->columnWidth(c);
            if (header->sectionSizeHint(c) > grid->columnWidth(c))
                problems << QStringLiteral("header \"%1\" needs %2, has %3")
                                .arg(grid->horizontalHeaderItem(c)->text())
                                .arg(header->sectionSizeHint(c))
                                .arg(grid->columnWidth(c));
            if (c == 1 || c == 3)
                continue; // paths are elided by design
            for (int row = 0; row < grid->rowCount(); ++row) {
                const QTableWidgetItem* item = grid->item(row, c);
                const int needed = item ? grid->fontMetrics().horizontalAdvance(item->text()) + 6 : 0;
                if (needed > grid->columnWidth(c))
                    problems << QStringLiteral("cell \"%1\" needs %2, has %3")
                                    .arg(item->text())
                                    .arg(needed)
                                    .arg(grid->columnWidth(c));
            }
        }
        const int room = grid->width() - 2 * grid->frameWidth() -
                         grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, grid);
        if (total > room && width >= 876)
            problems << QStringLiteral("the columns take %1 of the list's %2").arg(total).arg(room);
        if (f->Label5->text() != QStringLiteral("Destination Location"))
            problems << QStringLiteral("B's caption reads \"%1\"").arg(f->Label5->text());
        if (f->Label5->geometry().right() + 4 >= f->ShellComboBox2->x())
            problems << QStringLiteral("B's caption ends at %1, B's drop-down begins at %2")
                            .arg(f->Label5->geometry().right())
                            .arg(f->ShellComboBox2->x());
        destroyWindows(w);
        for (const QString& problem : problems)
            qInfo().noquote() << problem;
        QVERIFY2(problems.isEmpty(),
                 qPrintable(QStringLiteral("%1 problems, listed above").arg(problems.size())));
    }
};

QTEST_MAIN(LayoutTest)
#include "layout_test.moc"
