// Answers the next modal message box of a test with a key press (Return takes
// the default button, Escape the cancel button) and records what it showed,
// with the number of beeps heard by the time it appeared.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace testsupport {

struct SeenAlert {
    bool shown = false;
    QString text;
    QString informativeText;
    QString detailedText;  // behind "Show Details…"
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;    // texts, in the order the box lays them out
    QString defaultButton;  // text of the button Return chooses
    long beepsWhenShown = -1;
};

class AlertAnswer {
public:
    // Starts watching for a modal message box; the key goes to the first one seen.
    explicit AlertAnswer(int key);
    ~AlertAnswer();
    AlertAnswer(const AlertAnswer&) = delete;
    AlertAnswer& operator=(const AlertAnswer&) = delete;

    const SeenAlert& seen() const { return seen_; }
    int alertsShown() const { return count_; }

private:
    void poll();

    int key_;
    QTimer timer_;
    SeenAlert seen_;
    int count_ = 0;
};

}  // namespace testsupport
