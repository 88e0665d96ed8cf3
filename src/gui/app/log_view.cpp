#include "gui/app/log_view.h"

#include "gui/app/log_store.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace paritas::gui {
namespace {

constexpr int kTextMargin = 4;

} // namespace

LogView::LogView(const LogStore& store, QWidget* parent) : QAbstractScrollArea(parent), store_(store) {
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setCursor(Qt::IBeamCursor);
    updateRanges();
}

int LogView::lineHeight() const {
    return fontMetrics().lineSpacing();
}

int LogView::visibleLineCount() const {
    return std::max(1, viewport()->height() / lineHeight());
}

std::size_t LogView::firstVisibleLine() const {
    return std::size_t(verticalScrollBar()->value());
}

std::size_t LogView::lineAt(int y) const {
    if (store_.empty())
        return kNoLine;
    const std::size_t line = firstVisibleLine() + std::size_t(std::max(0, y) / lineHeight());
    return std::min(line, store_.size() - 1);
}

// The vertical range counts lines (the first line in sight); the horizontal one pixels, estimated
// from the longest line's length, since measuring every line would cost more than the log itself.
void LogView::updateRanges() {
    const int lines = int(std::min<std::size_t>(store_.size(), INT32_MAX));
    const int page = visibleLineCount();
    QScrollBar* vertical = verticalScrollBar();
    const bool atEnd = vertical->value() >= vertical->maximum();
    vertical->setRange(0, std::max(0, lines - page));
    vertical->setPageStep(page);
    vertical->setSingleStep(1);
    if (atEnd)
        vertical->setValue(vertical->maximum());
    const int width =
        int(std::min<std::size_t>(store_.longestLine(), 100000)) * fontMetrics().averageCharWidth() * 6 / 5 +
        2 * kTextMargin;
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, std::max(0, width - viewport()->width()));
    horizontal->setPageStep(viewport()->width());
    horizontal->setSingleStep(fontMetrics().averageCharWidth() * 4);
}

void LogView::storeChanged() {
    if (anchor_ != kNoLine && anchor_ >= store_.size())
        anchor_ = cursor_ = kNoLine;
    updateRanges();
    viewport()->update();
}

void LogView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const int height = lineHeight();
    const int ascent = fontMetrics().ascent();
    const int x = kTextMargin - horizontalScrollBar()->value();
    const std::size_t first = firstVisibleLine();
    const std::size_t last = std::min(store_.size(), first + std::size_t(visibleLineCount()) + 1);
    const std::size_t selFirst = std::min(anchor_, cursor_);
    const std::size_t selLast = hasSelection() ? std::max(anchor_, cursor_) : 0;
    const QPalette& p = palette();
    for (std::size_t i = first; i < last; ++i) {
        const int y = int(i - first) * height;
        const bool selected = hasSelection() && i >= selFirst && i <= selLast;
        if (selected)
            painter.fillRect(0, y, viewport()->width(), height, p.brush(QPalette::Highlight));
        painter.setPen(p.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const std::string bytes = store_.line(i);
        painter.drawText(x, y + ascent, QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
    }
}

void LogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateRanges();
}

void LogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateRanges();
}

void LogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const std::size_t line = lineAt(int(event->position().y()));
    if (line == kNoLine)
        return;
    if (!(event->modifiers() & Qt::ShiftModifier) || !hasSelection())
        anchor_ = line;
    cursor_ = line;
    viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !hasSelection())
        return;
    const int y = int(event->position().y());
    if (y < 0)
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (y > viewport()->height())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    cursor_ = lineAt(std::clamp(y, 0, viewport()->height() - 1));
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy))
        return copySelection();
    if (event->matches(QKeySequence::SelectAll))
        return selectAll();
    QScrollBar* vertical = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Up:
        return vertical->triggerAction(QAbstractSlider::SliderSingleStepSub);
    case Qt::Key_Down:
        return vertical->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    case Qt::Key_PageUp:
        return vertical->triggerAction(QAbstractSlider::SliderPageStepSub);
    case Qt::Key_PageDown:
        return vertical->triggerAction(QAbstractSlider::SliderPageStepAdd);
    case Qt::Key_Home:
        return vertical->triggerAction(QAbstractSlider::SliderToMinimum);
    case Qt::Key_End:
        return vertical->triggerAction(QAbstractSlider::SliderToMaximum);
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("&Copy"), this, &LogView::copySelection);
    copy->setEnabled(hasSelection());
    menu.addAction(tr("Select &All"), this, &LogView::selectAll);
    menu.exec(event->globalPos());
}

void LogView::selectAll() {
    if (store_.empty())
        return;
    anchor_ = 0;
    cursor_ = store_.size() - 1;
    viewport()->update();
}

void LogView::selectLines(std::size_t first, std::size_t last) {
    if (store_.empty() || first >= store_.size())
        return;
    anchor_ = first;
    cursor_ = std::min(last, store_.size() - 1);
    updateRanges();
    verticalScrollBar()->setValue(int(std::min<std::size_t>(first, INT32_MAX)));
    viewport()->update();
}

QString LogView::selectedText() const {
    if (!hasSelection())
        return {};
    QStringList lines;
    for (std::size_t i = std::min(anchor_, cursor_); i <= std::max(anchor_, cursor_); ++i) {
        const std::string bytes = store_.line(i);
        lines << QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    }
    return lines.join(QLatin1Char('\n'));
}

void LogView::copySelection() const {
    if (hasSelection())
        QApplication::clipboard()->setText(selectedText());
}

} // namespace paritas::gui
