#include "gui/app/progress_area.h"

#include "gui/app/repaint_throttle.h"

#include <QLabel>
#include <QProgressBar>

#include <algorithm>

namespace paritas::gui {
namespace {

int clampToInt(int64_t value) {
    return int(std::clamp<int64_t>(value, 0, INT32_MAX));
}

} // namespace

ProgressArea::ProgressArea(QProgressBar* bar, QLabel* label)
    : bar_(bar), label_(label), detail_(new QLabel(bar->parentWidget())), maximum_(bar->maximum()),
      position_(bar->value()), status_(label->text()), colour_(label->palette().color(QPalette::WindowText)),
      repaint_(std::make_unique<RepaintThrottle>([this] { update(); })) {
    detail_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    detail_->hide();
}

ProgressArea::~ProgressArea() = default;

void ProgressArea::setMaximum(int64_t maximum) {
    maximum_ = clampToInt(maximum);
    repaint_->request();
}

void ProgressArea::setPosition(int64_t position) {
    position_ = clampToInt(position);
    repaint_->request();
}

void ProgressArea::setStatus(const QString& text) {
    status_ = text;
    repaint_->request();
}

void ProgressArea::setStatusColour(const QColor& colour) {
    colour_ = colour;
    repaint_->request();
}

void ProgressArea::setDetail(const QString& text) {
    detailText_ = text;
    repaint_->request();
}

void ProgressArea::flush() {
    repaint_->flush();
}

void ProgressArea::update() {
    if (bar_->maximum() != maximum_)
        bar_->setRange(0, maximum_);
    bar_->setValue(position_);
    if (label_->palette().color(QPalette::WindowText) != colour_) {
        QPalette p = label_->palette();
        p.setColor(QPalette::WindowText, colour_);
        label_->setPalette(p);
    }
    if (label_->text() != status_) {
        label_->setText(status_);
        fitLabel();
    } else if (placedDetail_ != detailText_) {
        placeDetail();
    }
}

void ProgressArea::fitLabel() {
    const QWidget* parent = label_->parentWidget();
    const int room = parent ? parent->width() - label_->x() - 8 : label_->width();
    const int needed = label_->fontMetrics().horizontalAdvance(label_->text()) + 2 * label_->margin() + 2;
    label_->resize(std::max(1, std::min(needed, room)),
                   std::max(label_->height(), label_->sizeHint().height()));
    placeDetail();
}

void ProgressArea::placeDetail() {
    constexpr int kGap = 16;
    const int left = label_->x() + label_->width() + kGap;
    const int width = bar_->x() + bar_->width() - left;
    const QFontMetrics metrics = detail_->fontMetrics();
    placedDetail_ = detailText_;
    // The whole text is its tooltip, also when the row cuts it short.
    detail_->setToolTip(detailText_);
    if (detailText_.isEmpty() || width < metrics.averageCharWidth() * 12) {
        detail_->hide();
        return;
    }
    detail_->setGeometry(left, label_->y(), width, label_->height());
    detail_->setText(metrics.elidedText(detailText_, Qt::ElideRight, width));
    detail_->show();
}

} // namespace paritas::gui
