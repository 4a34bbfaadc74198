// Interface descriptions, windows and the menu bar. The description "main" is
// the folder main/ of the bundle's resources, one Qt Designer file per
// top-level object (MenuBar.ui, MainWindow.ui, ...), loaded at run time.
// Buttons, popups and menu items carrying a four-character dynamic property
// `command` send that command to their window's event target when used.
#pragma once

#include "platform/cf/CoreFoundation.h"
#include "platform/events/CarbonEvents.h"

struct OpaqueIBNibRef;
using IBNibRef = OpaqueIBNibRef*;
struct Rect;

enum : OSStatus {
    kIBCarbonRuntimeCantFindNibFile = -10960,
    kIBCarbonRuntimeObjectNotOfRequestedType = -10961,
    kIBCarbonRuntimeCantFindObject = -10962,
};

using WindowTransitionEffect = UInt32;
using WindowTransitionAction = UInt32;
enum : UInt32 {
    kWindowFadeTransitionEffect = 4,
    kWindowShowTransitionAction = 1,
    kWindowHideTransitionAction = 2,
};

OSStatus CreateNibReference(CFStringRef inNibName, IBNibRef* outNibRef);
void DisposeNibReference(IBNibRef inNibRef);
// Loads the menu bar from the description's file inName.ui (a main window whose
// menu bar is taken) and makes it the application's menu bar; the next window
// created from a description that is a main window without a menu bar shows it.
OSStatus SetMenuBarFromNib(IBNibRef inNibRef, CFStringRef inName);
// Loads the window inName.ui, hidden. Its controls (widgets with the dynamic
// properties controlSignature and controlNumber) keep their place in the
// layout while hidden.
OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow);

void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean IsWindowVisible(WindowRef window);
// Raises the window above the others and gives it the focus.
void BringToFront(WindowRef window);
// Hides the window at once and destroys it when control is back in the event
// loop (it may be disposed from inside its own handlers); its event target and
// handlers go with it.
void DisposeWindow(WindowRef window);
// Fade: the window's opacity goes to 0 in about a quarter of a second, then the
// window is hidden (its opacity restored for a later show). Returns when done.
OSStatus TransitionWindow(WindowRef window, WindowTransitionEffect effect,
                          WindowTransitionAction action, const Rect* bounds);

// Menu commands: the items of the menu bar (menu null) or of one menu that
// carry the command become selectable, or not.
void EnableMenuCommand(MenuRef inMenu, MenuCommand inCommandID);
Boolean IsMenuCommandEnabled(MenuRef inMenu, MenuCommand inCommandID);

// A widget's `command` property as a four-character code (padded with spaces),
// 0 when it has none.
UInt32 CommandOfObject(const class QObject* object);
