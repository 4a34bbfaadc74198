#include "platform/ui/Controls.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <string>

#include "platform/ui/StaticText.h"

TEST(Controls, BarValuesKeepTheirMeaningAndPopupsIgnoreMissingItems) {
    QProgressBar bar;
    bar.setRange(0, 1);  // as the description makes the determinate bar
    // One file: minimum and maximum both 0. A Qt bar with that range would turn
    // into a busy indicator; the control shows full instead.
    SetControlMaximum(&bar, 0);
    SetControlValue(&bar, 0);
    EXPECT_GT(bar.maximum(), bar.minimum());
    EXPECT_EQ(bar.value(), bar.maximum());
    // A minimum above 0 shifts the bar, not the values.
    SetControlMinimum(&bar, 10);
    SetControlMaximum(&bar, 20);
    SetControlValue(&bar, 15);
    EXPECT_EQ(bar.maximum() - bar.minimum(), 10);
    EXPECT_EQ(bar.value(), 5);
    EXPECT_EQ(GetControlValue(&bar), 15);
    // Either end always shows, even a step of less than a pixel away; smaller
    // steps elsewhere wait until they add up to a pixel.
    bar.resize(100, 10);
    SetControlMinimum(&bar, 0);
    SetControlMaximum(&bar, 30000);
    SetControlValue(&bar, 29990);
    SetControlValue(&bar, 30000);
    EXPECT_EQ(bar.value(), 30000);
    // A busy indicator keeps animating whatever values it is given.
    QProgressBar spinner;
    spinner.setRange(0, 0);
    SetControlMaximum(&spinner, 5);
    SetControlValue(&spinner, 3);
    EXPECT_EQ(spinner.maximum(), 0);

    // Checkboxes and popups are set and read by the Preferences window's tests;
    // here a popup value with no such item, which leaves it unchanged.
    QComboBox popup;
    popup.addItems({"one", "two", "three"});
    SetControlValue(&popup, 3);
    SetControlValue(&popup, 0);
    SetControlValue(&popup, 4);
    EXPECT_EQ(GetControlValue(&popup), 3);
}

TEST(Controls, TextIsMacRomanShownAsPlainText) {
    QLabel label;
    const char macRoman[] = "caf\x8E <b>bold</b> \xF0";  // é, markup, the Apple logo
    ASSERT_EQ(SetControlData(&label, kControlEntireControl, kControlStaticTextTextTag,
                             Size(sizeof macRoman - 1), macRoman),
              noErr);
    EXPECT_EQ(label.text(), QString::fromUtf8("caf\u00E9 <b>bold</b> \uF8FF"));
    EXPECT_EQ(label.textFormat(), Qt::PlainText);
    char back[64];
    Size size = 0;
    ASSERT_EQ(GetControlData(&label, 0, kControlStaticTextTextTag, sizeof back, back, &size),
              noErr);
    EXPECT_EQ(std::string(back, size_t(size)), macRoman);
    EXPECT_EQ(SetControlData(&label, 0, FOUR_CHAR_CODE("font"), 4, "abcd"), errDataNotSupported);
    EXPECT_EQ(SetControlData(nullptr, 0, kControlStaticTextTextTag, 1, "x"), paramErr);
    EXPECT_EQ(SetControlData(&label, 0, kControlStaticTextTextTag, 0, nullptr), noErr);
    EXPECT_TRUE(label.text().isEmpty());
}

// Drawing a new text at once or at the end of the frame is the window
// benchmark's concern; a long name changes neither the control's size nor its
// neighbours'.
TEST(Controls, AStaticTextKeepsItsSizeWhateverItsText) {
    StaticText text;
    SetControlData(&text, 0, kControlStaticTextTextTag, 5, "first");
    const QSize hint = text.sizeHint();
    SetControlData(&text, 0, kControlStaticTextTextTag, 200, std::string(200, 'w').c_str());
    EXPECT_EQ(text.sizeHint(), hint);
}
