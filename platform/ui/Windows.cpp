#include "platform/ui/Windows.h"

#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPropertyAnimation>
#include <QUiLoader>
#include <string>

#include "platform/cf/CFBundle.h"
#include "platform/ui/StaticText.h"

struct OpaqueIBNibRef {
    std::string folder;
};

namespace {

QPointer<QMenuBar> gMenuBar;
QMainWindow* gMenuBarHolder = nullptr;  // the loaded description, kept for its actions

std::string utf8(CFStringRef s) {
    if (!s) return {};
    return QStringFromCFString(s).toStdString();
}

// Knows the platform's own controls besides Qt's widgets.
class Loader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        if (className != "StaticText") return QUiLoader::createWidget(className, parent, name);
        auto* widget = new StaticText(parent);
        widget->setObjectName(name);
        return widget;
    }
};

QWidget* load(IBNibRef nib, CFStringRef name, OSStatus* err) {
    const std::string object = utf8(name);
    if (!nib || object.empty() || object.find('/') != std::string::npos) {
        *err = paramErr;
        return nullptr;
    }
    QFile file(QString::fromStdString(nib->folder + "/" + object + ".ui"));
    if (!file.open(QIODevice::ReadOnly)) {
        *err = kIBCarbonRuntimeCantFindObject;
        return nullptr;
    }
    Loader loader;
    QWidget* widget = loader.load(&file);
    *err = widget ? noErr : OSStatus(kIBCarbonRuntimeObjectNotOfRequestedType);
    return widget;
}

void sendCommand(UInt32 command, QWidget* window) {
    HICommand hc{};
    hc.commandID = command;
    ProcessHICommandFromWindow(hc, window);
}

// Closing a window asks its handlers first ({'wind', 72}); without one, the
// window that holds the menu bar quits the application (the command 'quit', so
// that a busy run sees the quit request), any other window is hidden.
class CloseFilter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close) return false;
        auto* window = static_cast<QWidget*>(watched);
        EventRef e = nullptr;
        CreateEvent(nullptr, kEventClassWindow, kEventWindowClose, 0, 0, &e);
        SetEventParameter(e, kEventParamDirectObject, typeWindowRef, sizeof window, &window);
        OSStatus status = SendEventToEventTarget(e, GetWindowEventTarget(window));
        ReleaseEvent(e);
        if (status != eventNotHandledErr) {
            event->ignore();
            return true;
        }
        if (gMenuBar && gMenuBar->window() == window) {
            event->ignore();
            sendCommand(kHICommandQuit, window);
            return true;
        }
        return false;
    }
};

void wireCommands(QWidget* root) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        const UInt32 command = CommandOfObject(button);
        if (!command) continue;
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [button, command]() { sendCommand(command, button->window()); });
    }
    // A popup sends its command once the user has chosen an item, with the
    // new item already its value.
    for (QComboBox* popup : root->findChildren<QComboBox*>()) {
        const UInt32 command = CommandOfObject(popup);
        if (!command) continue;
        QObject::connect(popup, &QComboBox::activated, popup,
                         [popup, command]() { sendCommand(command, popup->window()); });
    }
}

void wireMenuCommands(QObject* root) {
    for (QAction* action : root->findChildren<QAction*>()) {
        const UInt32 command = CommandOfObject(action);
        if (!command) continue;
        QObject::connect(action, &QAction::triggered, action, [command]() {
            sendCommand(command, gMenuBar ? gMenuBar->window() : nullptr);
        });
    }
}

QList<QAction*> actionsOf(MenuRef menu) {
    if (menu) return reinterpret_cast<QMenu*>(menu)->findChildren<QAction*>();
    return gMenuBarHolder ? gMenuBarHolder->findChildren<QAction*>() : QList<QAction*>();
}

}  // namespace

UInt32 CommandOfObject(const QObject* object) {
    if (!object) return 0;
    const QByteArray text = object->property("command").toString().toLatin1();
    if (text.isEmpty() || text.size() > 4) return 0;
    char code[5] = "    ";
    for (int i = 0; i < text.size(); ++i) code[i] = text[i];
    return FOUR_CHAR_CODE(code);
}

OSStatus CreateNibReference(CFStringRef inNibName, IBNibRef* outNibRef) {
    if (!outNibRef) return paramErr;
    *outNibRef = nullptr;
    const std::string name = utf8(inNibName);
    CFBundleRef bundle = CFBundleGetMainBundle();
    if (name.empty() || name.find('/') != std::string::npos || !bundle)
        return kIBCarbonRuntimeCantFindNibFile;
    const std::string folder = MainBundleResourcesDirectory() + "/" + name;
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return kIBCarbonRuntimeCantFindNibFile;
    *outNibRef = new OpaqueIBNibRef{folder};
    return noErr;
}

void DisposeNibReference(IBNibRef inNibRef) {
    delete inNibRef;
}

OSStatus SetMenuBarFromNib(IBNibRef inNibRef, CFStringRef inName) {
    OSStatus err = noErr;
    QWidget* widget = load(inNibRef, inName, &err);
    if (!widget) return err;
    auto* holder = qobject_cast<QMainWindow*>(widget);
    QMenuBar* bar = holder ? holder->findChild<QMenuBar*>() : nullptr;
    if (!bar) {
        delete widget;
        return kIBCarbonRuntimeObjectNotOfRequestedType;
    }
    if (gMenuBar && gMenuBar->window() != gMenuBarHolder) delete gMenuBar;
    delete gMenuBarHolder;
    gMenuBarHolder = holder;
    gMenuBar = bar;
    wireMenuCommands(holder);
    return noErr;
}

OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef* outWindow) {
    if (!outWindow) return paramErr;
    *outWindow = nullptr;
    OSStatus err = noErr;
    QWidget* window = load(inNibRef, inName, &err);
    if (!window) return err;
    window->hide();
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->property("controlNumber").isValid()) continue;
        // Showing and hiding a control must not move the others.
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    auto* main = qobject_cast<QMainWindow*>(window);
    if (main && gMenuBar && gMenuBar->window() == gMenuBarHolder && !main->findChild<QMenuBar*>())
        main->setMenuBar(gMenuBar);
    wireCommands(window);
    window->installEventFilter(new CloseFilter(window));
    *outWindow = window;
    return noErr;
}

void ShowWindow(WindowRef window) {
    if (!window) return;
    window->show();
    window->raise();
    window->activateWindow();
}

void HideWindow(WindowRef window) {
    if (window) window->hide();
}

Boolean IsWindowVisible(WindowRef window) {
    return window && window->isVisible();
}

void BringToFront(WindowRef window) {
    if (!window) return;
    window->raise();
    window->activateWindow();
}

void DisposeWindow(WindowRef window) {
    if (!window) return;
    window->hide();
    window->deleteLater();
}

OSStatus TransitionWindow(WindowRef window, WindowTransitionEffect effect,
                          WindowTransitionAction action, const Rect*) {
    if (!window) return paramErr;
    if (action == kWindowShowTransitionAction) {
        ShowWindow(window);
        return noErr;
    }
    if (action != kWindowHideTransitionAction) return paramErr;
    if (effect == kWindowFadeTransitionEffect && window->isVisible()) {
        QPropertyAnimation fade(window, "windowOpacity");
        fade.setDuration(250);
        fade.setStartValue(window->windowOpacity());
        fade.setEndValue(0.0);
        QEventLoop loop;
        QObject::connect(&fade, &QPropertyAnimation::finished, &loop, &QEventLoop::quit);
        fade.start();
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    window->hide();
    window->setWindowOpacity(1.0);
    return noErr;
}

void EnableMenuCommand(MenuRef inMenu, MenuCommand inCommandID) {
    for (QAction* action : actionsOf(inMenu))
        if (CommandOfObject(action) == inCommandID) action->setEnabled(true);
}

Boolean IsMenuCommandEnabled(MenuRef inMenu, MenuCommand inCommandID) {
    for (QAction* action : actionsOf(inMenu))
        if (CommandOfObject(action) == inCommandID) return action->isEnabled();
    return false;
}
