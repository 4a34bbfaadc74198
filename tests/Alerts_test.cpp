// Standard alerts answered from the keyboard as a person would: Return takes
// the default button, Escape the cancel button when there is one. Return on
// the confirmation's OK: Settings.ConfirmationShowsTheOperationsTextAfterABeep.
#include "platform/ui/Alerts.h"

#include <gtest/gtest.h>

#include <QMessageBox>

#include "testkit/AlertAnswer.h"

using testsupport::AlertAnswer;

TEST(Alerts, ButtonsAnswerWithTheirIndexAndEscapeMeansCancelOnlyWhenThereIsOne) {
    AlertStdCFStringAlertParamRec okOnly, okCancel, skip;
    ASSERT_EQ(GetStandardAlertDefaultParams(&okOnly, kStdCFStringAlertVersionOne), noErr);
    okCancel = skip = okOnly;
    okCancel.cancelText = CFSTR("Cancel");
    okCancel.cancelButton = kAlertStdAlertCancelButton;
    skip.otherText = CFSTR("Skip");
    skip.defaultButton = kAlertStdAlertOtherButton;
    const struct {
        AlertType type;
        const AlertStdCFStringAlertParamRec* params;
        int key;
        DialogItemIndex item;
        QMessageBox::Icon icon;
        int buttons;
        const char* defaultButton;
    } cases[] = {
        {kAlertStopAlert, &okCancel, Qt::Key_Escape, 2, QMessageBox::Critical, 2, "OK"},
        {kAlertNoteAlert, &okOnly, Qt::Key_Escape, 1, QMessageBox::Information, 1, "OK"},
        {kAlertCautionAlert, &skip, Qt::Key_Return, 3, QMessageBox::Warning, 2, "Skip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        AlertAnswer answer(c.key);
        DialogRef alert = nullptr;
        ASSERT_EQ(
            CreateStandardAlert(c.type, CFSTR("Main text."), CFSTR("Details."), c.params, &alert),
            noErr);
        DialogItemIndex item = 0;
        EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noErr);
        EXPECT_EQ(item, c.item);
        const auto& seen = answer.seen();
        EXPECT_EQ(answer.alertsShown(), 1);
        EXPECT_EQ(seen.icon, c.icon);
        EXPECT_EQ(seen.buttons.size(), c.buttons);
        EXPECT_TRUE(seen.defaultButton.contains(c.defaultButton))
            << seen.defaultButton.toStdString();
    }
    EXPECT_EQ(CreateStandardAlert(kAlertStopAlert, CFSTR("x"), nullptr, nullptr, nullptr),
              paramErr);
    EXPECT_EQ(RunStandardAlert(nullptr, nullptr, nullptr), paramErr);
}
