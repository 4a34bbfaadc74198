#include "platform/ui/Sound.h"

#include <QApplication>

namespace {
long gBeeps = 0;
}

void SysBeep(short) {
    ++gBeeps;
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) QApplication::beep();
}

long SysBeepCount() {
    return gBeeps;
}
void ResetSysBeepCount() {
    gBeeps = 0;
}
