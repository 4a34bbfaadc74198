// The static text control of the interface descriptions: a line or block of
// plain text that wraps anywhere. Unlike a QLabel, a new text never changes
// the window's layout, and its repaints are paced to the display's frame rate,
// so a run that writes two messages per file does not spend its time drawing.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class StaticText : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment)
    Q_PROPERTY(int lines READ lines WRITE setLines)

public:
    explicit StaticText(QWidget* parent = nullptr);

    QString text() const { return text_; }
    // Takes the text; it shows within one frame.
    void setText(const QString& text);
    Qt::Alignment alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment alignment);
    // The number of lines the control is sized for.
    int lines() const { return lines_; }
    void setLines(int lines);

    // Paints the current text now, unless the last paint is less than a frame
    // old; then it is painted when the frame is over.
    void drawNow();
    // Paints so far, for tests.
    int paintCount() const { return paints_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void schedule();

    QString text_;
    Qt::Alignment alignment_ = Qt::AlignLeft | Qt::AlignVCenter;
    int lines_ = 1;
    int paints_ = 0;
    QElapsedTimer lastPaint_;
    QTimer frame_;
};
