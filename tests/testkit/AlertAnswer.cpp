#include "testkit/AlertAnswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "platform/ui/Sound.h"

namespace testsupport {

AlertAnswer::AlertAnswer(int key) : key_(key) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
}

AlertAnswer::~AlertAnswer() {
    timer_.stop();
}

void AlertAnswer::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    ++count_;
    if (!seen_.shown) {
        seen_.shown = true;
        seen_.text = box->text();
        seen_.informativeText = box->informativeText();
        seen_.detailedText = box->detailedText();
        seen_.icon = box->icon();
        for (QAbstractButton* b : box->buttons()) seen_.buttons << b->text();
        if (box->defaultButton()) seen_.defaultButton = box->defaultButton()->text();
        seen_.beepsWhenShown = SysBeepCount();
    }
    // Later boxes are answered the same way so a test never hangs on one.
    QTest::keyClick(box, Qt::Key(key_));
}

}  // namespace testsupport
