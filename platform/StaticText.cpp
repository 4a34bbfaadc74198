#include "platform/StaticText.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTextOption>

namespace {
constexpr int kFrameMs = 16;
}

StaticText::StaticText(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    frame_.setSingleShot(true);
    frame_.setTimerType(Qt::PreciseTimer);
    connect(&frame_, &QTimer::timeout, this, [this]() { update(); });
}

void StaticText::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    schedule();
}

void StaticText::setAlignment(Qt::Alignment alignment) {
    alignment_ = alignment;
    update();
}

void StaticText::setLines(int lines) {
    lines_ = std::max(1, lines);
    updateGeometry();
}

void StaticText::schedule() {
    if (!isVisible()) return;  // painted when shown
    if (!lastPaint_.isValid() || lastPaint_.elapsed() >= kFrameMs) {
        update();
    } else if (!frame_.isActive()) {
        frame_.start(int(kFrameMs - lastPaint_.elapsed()));
    }
}

void StaticText::drawNow() {
    if (!isVisible()) return;
    if (!lastPaint_.isValid() || lastPaint_.elapsed() >= kFrameMs) {
        frame_.stop();
        repaint();
    } else {
        schedule();
    }
}

QSize StaticText::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.averageCharWidth() * 20, metrics.lineSpacing() * lines_ + 2};
}

QSize StaticText::minimumSizeHint() const {
    return {0, sizeHint().height()};
}

void StaticText::paintEvent(QPaintEvent*) {
    ++paints_;
    lastPaint_.start();
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    QTextOption option(alignment_);
    option.setWrapMode(lines_ > 1 ? QTextOption::WrapAtWordBoundaryOrAnywhere
                                  : QTextOption::NoWrap);
    QString shown = text_;
    if (lines_ == 1)
        shown = fontMetrics().elidedText(text_, Qt::ElideMiddle, contentsRect().width());
    painter.drawText(QRectF(contentsRect()), shown, option);
}
