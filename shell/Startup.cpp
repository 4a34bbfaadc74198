#include "shell/Startup.h"

#include "intake/DragTarget.h"
#include "platform/events/AppleEvents.h"
#include "platform/events/FinderStandIn.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Windows.h"
#include "processing/ProcessingRun.h"
#include "shell/CommandHandler.h"
#include "shell/MainWindow.h"
#include "support/BundleResources.h"

OSStatus StartApplication() {
    // Events addressed to the Finder are answered in this process.
    InstallFinderStandIn();

    // A missing icon leaves the application without one; nothing else changes.
    GetIconRefForResource("Brackwater", kApplicationIconType, gAppIcon);

    IBNibRef nib = nullptr;
    OSStatus err = CreateNibReference(CFSTR("main"), &nib);
    if (err != noErr) return err;
    err = SetMenuBarFromNib(nib, CFSTR("MenuBar"));
    if (err == noErr) err = CreateWindowFromNib(nib, CFSTR("MainWindow"), &gWindow);
    if (err != noErr) {
        DisposeNibReference(nib);
        return err;
    }
    HideWindow(gWindow);

    ControlRef* const controls[] = {&gMessage,      &gSpin,       &gEditButton,   &gProgress,
                                    &gSmallMessage, &gStopButton, &gDetailsButton};
    const SInt32 numbers[] = {1, 2, 4, 5, 6, 7, 8};
    for (int i = 0; i < 7; ++i) {
        const ControlID id = {FOUR_CHAR_CODE("CNTL"), numbers[i]};
        GetControlByID(gWindow, &id, controls[i]);
    }
    DisposeNibReference(nib);

    // The window takes drops from now on; a failure leaves drops on the
    // application's icon as the only road.
    InitDragHandlers();
    InstallDragHandlers(gWindow);
    ShowWindow(gWindow);
    AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments,
                          NewAEEventHandlerUPP(OpenDocsAppleEventHandler), 0, false);
    EnableMenuCommand(nullptr, kHICommandPreferences);
    const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
    InstallApplicationEventHandler(NewEventHandlerUPP(ApplicationCommandHandler), 1, &commandEvent,
                                   nullptr, nullptr);
    return noErr;
}

int RunApplication() {
    OSStatus err = StartApplication();
    if (err != noErr) return int(err);
    RunApplicationEventLoop();
    return 0;
}
