#include "platform/ui/Alerts.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>

struct OpaqueDialogPtr {
    std::unique_ptr<QMessageBox> box;
    std::map<QAbstractButton*, DialogItemIndex> items;
};

OSStatus GetStandardAlertDefaultParams(AlertStdCFStringAlertParamRec* param, UInt32 version) {
    if (!param || version != kStdCFStringAlertVersionOne) return paramErr;
    *param = AlertStdCFStringAlertParamRec{};
    param->version = version;
    param->defaultText = kAlertDefaultOKText;
    param->defaultButton = kAlertStdAlertOKButton;
    return noErr;
}

namespace {

QMessageBox::Icon iconFor(AlertType type) {
    switch (type) {
        case kAlertStopAlert:
            return QMessageBox::Critical;
        case kAlertNoteAlert:
            return QMessageBox::Information;
        case kAlertCautionAlert:
            return QMessageBox::Warning;
        default:
            return QMessageBox::NoIcon;
    }
}

// Adds a button: the platform's own one for a standard text, else one with the
// given text in the given role.
QAbstractButton* addButton(QMessageBox& box, CFStringRef text, QMessageBox::StandardButton standard,
                           QMessageBox::ButtonRole role) {
    if (text == kAlertDefaultOKText) return box.addButton(standard);
    return box.addButton(QStringFromCFString(text), role);
}

}  // namespace

OSStatus CreateStandardAlert(AlertType alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert) {
    if (!outAlert) return paramErr;
    *outAlert = nullptr;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return paramErr;
    AlertStdCFStringAlertParamRec defaults;
    GetStandardAlertDefaultParams(&defaults, kStdCFStringAlertVersionOne);
    const AlertStdCFStringAlertParamRec& p = param ? *param : defaults;

    auto dialog = std::make_unique<OpaqueDialogPtr>();
    dialog->box = std::make_unique<QMessageBox>(QApplication::activeWindow());
    QMessageBox& box = *dialog->box;
    box.setIcon(iconFor(alertType));
    box.setTextFormat(Qt::PlainText);  // names with '<' are text, not markup
    box.setText(QStringFromCFString(error));
    box.setInformativeText(QStringFromCFString(explanation));
    box.setWindowModality(Qt::ApplicationModal);

    QAbstractButton* buttons[5] = {};
    if (p.defaultText)
        buttons[kAlertStdAlertOKButton] =
            addButton(box, p.defaultText, QMessageBox::Ok, QMessageBox::AcceptRole);
    if (p.cancelText)
        buttons[kAlertStdAlertCancelButton] =
            addButton(box, p.cancelText, QMessageBox::Cancel, QMessageBox::RejectRole);
    if (p.otherText)
        buttons[kAlertStdAlertOtherButton] =
            addButton(box, p.otherText, QMessageBox::Discard, QMessageBox::DestructiveRole);
    if (p.helpButton) buttons[kAlertStdAlertHelpButton] = box.addButton(QMessageBox::Help);
    for (DialogItemIndex i = 1; i <= 4; ++i)
        if (buttons[i]) dialog->items[buttons[i]] = i;

    if (p.defaultButton >= 1 && p.defaultButton <= 3 && buttons[p.defaultButton])
        box.setDefaultButton(qobject_cast<QPushButton*>(buttons[p.defaultButton]));
    if (p.cancelButton >= 1 && p.cancelButton <= 3 && buttons[p.cancelButton])
        box.setEscapeButton(buttons[p.cancelButton]);
    *outAlert = dialog.release();
    return noErr;
}

OSStatus SetStandardAlertDetails(DialogRef inAlert, CFStringRef details) {
    if (!inAlert || !details) return paramErr;
    inAlert->box->setDetailedText(QStringFromCFString(details));
    return noErr;
}

OSStatus RunStandardAlert(DialogRef inAlert, ModalFilterUPP, DialogItemIndex* outItemHit) {
    if (!inAlert) return paramErr;
    std::unique_ptr<OpaqueDialogPtr> dialog(inAlert);
    if (!dialog->box->detailedText().isEmpty()) {
        // The details are what such an alert is for: shown unfolded.
        QTimer::singleShot(0, dialog->box.get(), [box = dialog->box.get()]() {
            for (QAbstractButton* button : box->buttons())
                if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();
        });
    }
    dialog->box->exec();
    DialogItemIndex item = 0;
    auto found = dialog->items.find(dialog->box->clickedButton());
    if (found != dialog->items.end()) item = found->second;
    if (outItemHit) *outItemHit = item;
    return noErr;
}
