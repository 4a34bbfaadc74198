#include "shell/MainWindow.h"

#include "platform/base/TextUtils.h"
#include "platform/ui/Controls.h"

WindowRef gWindow = nullptr;
ControlRef gMessage = nullptr;
ControlRef gSpin = nullptr;
ControlRef gEditButton = nullptr;
ControlRef gProgress = nullptr;
ControlRef gSmallMessage = nullptr;
ControlRef gStopButton = nullptr;
ControlRef gDetailsButton = nullptr;

OSErr SetStaticTextText(ControlRef control, const unsigned char* text, Boolean draw) {
    if (!control || !text) return paramErr;
    OSErr err = SetControlData(control, kControlEntireControl, kControlStaticTextTextTag, text[0],
                               text + 1);
    if (err != noErr) return err;
    if (draw) Draw1Control(control);
    return noErr;
}

void showMessage(const char* text, int line) {
    Str255 message;
    CopyCStringToPascal(text, message);
    if (line == 1)
        SetStaticTextText(gMessage, message, true);
    else if (line == 2)
        SetStaticTextText(gSmallMessage, message, true);
}

void print_message(const char* text, int line) {
    showMessage(text, line);
    EventRecord event;
    WaitNextEvent(0, &event, 0, nullptr);
}
