// The application's command handler: Stop ('not!') and Quit ('quit') set the
// requests that a busy run tests between files.
#pragma once

#include "platform/events/CarbonEvents.h"

// Installed on the application's target for {'cmds', 1}. 'not!' sets the stop
// request and is handled; 'quit' sets the quit request and passes on, so that
// the standard handling ends the event loop; anything else passes on, as does
// an event whose command cannot be read.
OSStatus ApplicationCommandHandler(EventHandlerCallRef handlerCallRef, EventRef event,
                                   void* userData);
