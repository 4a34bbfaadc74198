#include "platform/Alerts.h"

#include <gtest/gtest.h>

#include <QMessageBox>

#include "testkit/AlertAnswer.h"

using testsupport::AlertAnswer;

namespace {

AlertStdCFStringAlertParamRec okCancel() {
    AlertStdCFStringAlertParamRec p;
    EXPECT_EQ(GetStandardAlertDefaultParams(&p, kStdCFStringAlertVersionOne), noErr);
    p.cancelText = CFSTR("Cancel");
    p.cancelButton = kAlertStdAlertCancelButton;
    return p;
}

// Creates and runs an alert; an AlertAnswer set up by the caller answers it.
DialogItemIndex run(AlertType type, const AlertStdCFStringAlertParamRec* p) {
    DialogRef alert = nullptr;
    EXPECT_EQ(CreateStandardAlert(type, CFSTR("Main <b>text</b>"), CFSTR("Details."), p, &alert),
              noErr);
    DialogItemIndex item = 0;
    EXPECT_EQ(RunStandardAlert(alert, nullptr, &item), noErr);
    return item;
}

}  // namespace

TEST(Alerts, StopAlertTakesReturnAsOkAndEscapeAsCancel) {
    AlertStdCFStringAlertParamRec p = okCancel();
    {
        AlertAnswer answer(Qt::Key_Return);
        EXPECT_EQ(run(kAlertStopAlert, &p), 1);
        const auto& seen = answer.seen();
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(seen.icon, QMessageBox::Critical);
        EXPECT_EQ(seen.text, QStringLiteral("Main <b>text</b>"));
        EXPECT_EQ(seen.informativeText, QStringLiteral("Details."));
        EXPECT_EQ(seen.buttons.size(), 2);
        EXPECT_TRUE(seen.defaultButton.contains(QStringLiteral("OK")))
            << seen.defaultButton.toStdString();
        EXPECT_EQ(seen.escapeButton, QStringLiteral("Cancel"));
    }
    {
        AlertAnswer answer(Qt::Key_Escape);
        EXPECT_EQ(run(kAlertStopAlert, &p), 2);
        EXPECT_EQ(answer.alertsShown(), 1);
    }
}

TEST(Alerts, DefaultsGiveOneOkButtonAndOtherButtonsReportTheirIndex) {
    AlertStdCFStringAlertParamRec p;
    ASSERT_EQ(GetStandardAlertDefaultParams(&p, kStdCFStringAlertVersionOne), noErr);
    EXPECT_EQ(p.defaultText, kAlertDefaultOKText);
    EXPECT_EQ(p.cancelText, nullptr);
    EXPECT_EQ(p.cancelButton, 0);
    {
        AlertAnswer answer(Qt::Key_Escape);
        // With OK alone even Escape can only mean OK.
        EXPECT_EQ(run(kAlertNoteAlert, &p), 1);
        EXPECT_EQ(answer.seen().buttons.size(), 1);
        EXPECT_EQ(answer.seen().icon, QMessageBox::Information);
    }
    p.otherText = CFSTR("Skip");
    p.defaultButton = kAlertStdAlertOtherButton;
    {
        AlertAnswer answer(Qt::Key_Return);
        EXPECT_EQ(run(kAlertCautionAlert, &p), 3);
        EXPECT_EQ(answer.seen().defaultButton, QStringLiteral("Skip"));
    }
    DialogRef never = nullptr;
    ASSERT_EQ(CreateStandardAlert(kAlertStopAlert, CFSTR("x"), nullptr, nullptr, &never), noErr);
    DisposeDialog(never);  // made, never shown
    EXPECT_EQ(CreateStandardAlert(kAlertStopAlert, CFSTR("x"), nullptr, nullptr, nullptr),
              paramErr);
    EXPECT_EQ(RunStandardAlert(nullptr, nullptr, nullptr), paramErr);
}
