#include "platform/ui/StaticText.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPaintEvent>
#include <QPainter>
#include <QTextOption>

namespace {

constexpr int kFrameMs = 16;

// What assistive technology (AT-SPI on Linux) is told of a static text: a
// static text whose name is its text, as for a label, so that a screen
// reader reads the file in hand and "n of N".
class CStaticTextAccessible : public QAccessibleWidget {
public:
    explicit CStaticTextAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const StaticText*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* accessibleFactory(const QString& key, QObject* object) {
    if (key == QLatin1String("StaticText") && object && object->isWidgetType())
        return new CStaticTextAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

}  // namespace

StaticText::StaticText(QWidget* parent) : QWidget(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleFactory), true);
    (void)factoryInstalled;
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    frame_.setSingleShot(true);
    frame_.setTimerType(Qt::PreciseTimer);
    connect(&frame_, &QTimer::timeout, this, [this]() { update(); });
}

void StaticText::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    if (QAccessible::isActive()) {
        QAccessibleEvent changed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
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
