// Carbon events: commands travelling from a window's handlers to the
// application's, and typed event parameters. The one-shot loop timers start
// every processing run and its quit a second later: ProcessingRun's tests.
#include "platform/events/CarbonEvents.h"

#include <gtest/gtest.h>

#include <QWidget>
#include <string>
#include <vector>

namespace {

struct Trace {
    std::vector<std::string> calls;
    OSStatus windowResult = eventNotHandledErr, appResult = eventNotHandledErr;
};

// Records "window" or "app", and answers as the trace says. The command each
// handler reads: MainDescription's tests.
template <bool kWindow>
OSStatus tracingHandler(EventHandlerCallRef, EventRef, void* data) {
    auto* trace = static_cast<Trace*>(data);
    trace->calls.push_back(kWindow ? "window" : "app");
    return kWindow ? trace->windowResult : trace->appResult;
}

}  // namespace

TEST(CarbonEvents, CommandsEndAtAFailureOrStartAtTheApplicationWithoutAWindow) {
    QWidget window;
    Trace trace;
    const EventTypeSpec spec = {kEventClassCommand, kEventCommandProcess};
    EventHandlerRef windowRef = nullptr, appRef = nullptr;
    ASSERT_EQ(InstallEventHandler(GetWindowEventTarget(&window), tracingHandler<true>, 1, &spec,
                                  &trace, &windowRef),
              noErr);
    ASSERT_EQ(InstallApplicationEventHandler(tracingHandler<false>, 1, &spec, &trace, &appRef),
              noErr);

    // A command goes on from the window to the application until a handler
    // takes it: MainDescription's buttons reach the application's handler,
    // and the Preferences window's Cancel never reaches the run's Stop
    // (PreferencesWindow.OneWindowRefreshedFromTheStoreThatCancelAndTheCloseBoxOnlyClose).
    // A failure other than "not handled" also ends the journey, and is returned.
    trace.appResult = paramErr;
    const HICommand ok = {0, kHICommandOK, {}};
    EXPECT_EQ(ProcessHICommandFromWindow(ok, &window), paramErr);
    EXPECT_EQ(trace.calls, (std::vector<std::string>{"window", "app"}));

    // Sent from no window, a command starts at the application.
    trace.calls.clear();
    EXPECT_EQ(ProcessHICommandFromWindow(ok, nullptr), paramErr);
    EXPECT_EQ(trace.calls, (std::vector<std::string>{"app"}));

    ASSERT_EQ(RemoveEventHandler(windowRef), noErr);
    ASSERT_EQ(RemoveEventHandler(appRef), noErr);
    EXPECT_EQ(RemoveEventHandler(appRef), paramErr);
}

TEST(CarbonEvents, ParametersAreTypedAndCopiedWithinTheBuffer) {
    EventRef event = nullptr;
    ASSERT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event), noErr);
    const OSType test = FOUR_CHAR_CODE("test"), text = FOUR_CHAR_CODE("TEXT");
    SetEventParameter(event, test, text, 8, "abcdefgh");
    char buffer[8] = {};
    EXPECT_EQ(GetEventParameter(event, test, typeHICommand, nullptr, 8, nullptr, buffer),
              errAECoercionFail);
    EXPECT_EQ(GetEventParameter(event, FOUR_CHAR_CODE("miss"), text, nullptr, 8, nullptr, buffer),
              eventParameterNotFoundErr);
    // Any type is taken as it was stored, cut at the buffer's size.
    EXPECT_EQ(GetEventParameter(event, test, FOUR_CHAR_CODE("****"), nullptr, 4, nullptr, buffer),
              noErr);
    EXPECT_EQ(std::string(buffer, 8), std::string("abcd\0\0\0\0", 8));
    ReleaseEvent(event);
}
