#include "platform/ui/Controls.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/base/TextEncoding.h"
#include "platform/ui/StaticText.h"
#include "platform/ui/WindowRecords.h"
#include "platform/ui/Windows.h"

namespace {

// The control's own values, as the application set them; the widget shows them
// in its own terms. Kept in a table beside the widgets rather than as dynamic
// properties: a run sets the bar's value for every file, and a property is
// found by its name each time.
struct CControlValues {
    bool hasMinimum = false, hasMaximum = false, hasValue = false;
    SInt16 minimum = 0, maximum = 0, value = 0;
    bool busyIndicator = false;  // a bar made with an empty range, decided when first set
};

CWindowRecords<CControlValues> gValues;

const CControlValues* valuesOf(ControlRef c) {
    return gValues.value(c, nullptr);
}

// A progress bar made with an empty range (0 to 0) is a busy indicator.
bool isBusyIndicator(QProgressBar* bar, const CControlValues* v) {
    return (v && v->busyIndicator) ||
           ((!v || !v->hasMaximum) && bar->minimum() == 0 && bar->maximum() == 0);
}

void apply(ControlRef c, const CControlValues& v) {
    const SInt16 minimum = v.hasMinimum ? v.minimum : 0;
    const SInt16 maximum = v.hasMaximum ? v.maximum : 0;
    const SInt16 value = v.hasValue ? v.value : 0;
    if (auto* bar = qobject_cast<QProgressBar*>(c)) {
        if (isBusyIndicator(bar, &v)) return;
        if (maximum <= minimum) {
            // Nothing between the two ends: the bar shows full.
            bar->setRange(0, 1);
            bar->setValue(1);
        } else {
            const int span = int(maximum) - int(minimum);
            const int shown = std::clamp(int(value), int(minimum), int(maximum)) - int(minimum);
            // A move of less than one pixel is not shown: a bar moved for
            // every file of a large folder would make Qt format its text and
            // measure its groove each time. Either end is always shown.
            if (bar->minimum() == 0 && bar->maximum() == span && shown != 0 && shown != span &&
                qint64(std::abs(shown - bar->value())) * std::max(bar->width(), 1) < span)
                return;
            bar->setRange(0, span);
            bar->setValue(shown);
        }
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(c)) {
        slider->setRange(minimum, std::max(minimum, maximum));
        slider->setValue(value);
    } else if (auto* combo = qobject_cast<QComboBox*>(c)) {
        if (value >= 1 && value <= combo->count()) combo->setCurrentIndex(value - 1);
    } else if (auto* button = qobject_cast<QAbstractButton*>(c)) {
        if (button->isCheckable()) button->setChecked(value != 0);
    }
}

// The control's record, made when a value is first set; it goes with the control.
CControlValues& recordOf(ControlRef c) {
    if (CControlValues* v = gValues.value(c, nullptr)) return *v;
    auto* v = new CControlValues;
    if (auto* bar = qobject_cast<QProgressBar*>(c))
        v->busyIndicator = isBusyIndicator(bar, nullptr);
    gValues.insert(c, v);
    QObject::connect(c, &QObject::destroyed, [c]() {
        if (!decltype(gValues)::gone()) delete gValues.take(c);
    });
    return *v;
}

SInt16 stored(ControlRef c, SInt16 CControlValues::*field, bool CControlValues::*has) {
    const CControlValues* v = valuesOf(c);
    return v && v->*has ? v->*field : 0;
}

void setStored(ControlRef c, SInt16 CControlValues::*field, bool CControlValues::*has, SInt16 n) {
    if (!c) return;
    CControlValues& v = recordOf(c);
    v.*field = n;
    v.*has = true;
    apply(c, v);
}

}  // namespace

OSStatus GetControlByID(WindowRef inWindow, const ControlID* inID, ControlRef* outControl) {
    if (!inWindow || !inID || !outControl) return paramErr;
    *outControl = nullptr;
    for (QWidget* w : inWindow->findChildren<QWidget*>()) {
        const QByteArray sig = w->property("controlSignature").toString().toLatin1();
        const QVariant number = w->property("controlNumber");
        if (sig.size() != 4 || !number.isValid()) continue;
        const char code[5] = {sig[0], sig[1], sig[2], sig[3], 0};
        if (FOUR_CHAR_CODE(code) == inID->signature && number.toInt() == inID->id) {
            *outControl = w;
            return noErr;
        }
    }
    return errControlNotFound;
}

void ShowControl(ControlRef control) {
    if (control) control->setVisible(true);
}

void HideControl(ControlRef control) {
    if (control) control->setVisible(false);
}

Boolean IsControlVisible(ControlRef control) {
    return control && !control->isHidden();
}

OSStatus EnableControl(ControlRef control) {
    if (!control) return paramErr;
    control->setEnabled(true);
    return noErr;
}

OSStatus DisableControl(ControlRef control) {
    if (!control) return paramErr;
    control->setEnabled(false);
    return noErr;
}

Boolean IsControlEnabled(ControlRef control) {
    return control && control->isEnabled();
}

void SetControlMinimum(ControlRef control, SInt16 value) {
    setStored(control, &CControlValues::minimum, &CControlValues::hasMinimum, value);
}
void SetControlMaximum(ControlRef control, SInt16 value) {
    setStored(control, &CControlValues::maximum, &CControlValues::hasMaximum, value);
}
void SetControlValue(ControlRef control, SInt16 value) {
    setStored(control, &CControlValues::value, &CControlValues::hasValue, value);
}

SInt16 GetControlMinimum(ControlRef control) {
    return control ? stored(control, &CControlValues::minimum, &CControlValues::hasMinimum) : 0;
}
SInt16 GetControlMaximum(ControlRef control) {
    return control ? stored(control, &CControlValues::maximum, &CControlValues::hasMaximum) : 0;
}
SInt16 GetControlValue(ControlRef control) {
    if (!control) return 0;
    if (auto* combo = qobject_cast<QComboBox*>(control)) return SInt16(combo->currentIndex() + 1);
    if (auto* button = qobject_cast<QAbstractButton*>(control); button && button->isCheckable())
        return button->isChecked() ? 1 : 0;
    return stored(control, &CControlValues::value, &CControlValues::hasValue);
}

OSErr SetControlData(ControlRef control, ControlPartCode, ResType tagName, Size size,
                     const void* data) {
    if (!control || size < 0 || (size > 0 && !data)) return paramErr;
    if (tagName != kControlStaticTextTextTag) return OSErr(errDataNotSupported);
    // Mac Roman's first 128 characters are ASCII's: a text of those alone
    // (a run's counter line, most names) needs no conversion.
    const auto* bytes = static_cast<const char*>(data);
    const bool ascii = std::all_of(bytes, bytes + size, [](char c) { return (c & 0x80) == 0; });
    const QString text =
        ascii ? QString::fromLatin1(bytes, qsizetype(size))
              : QString::fromStdString(Utf8FromMacRoman(std::string(bytes, size_t(size))));
    if (auto* staticText = qobject_cast<StaticText*>(control)) {
        staticText->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        // A file name such as "<b>x" is text, never markup.
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
    } else {
        return OSErr(errDataNotSupported);
    }
    return noErr;
}

OSErr GetControlData(ControlRef control, ControlPartCode, ResType tagName, Size bufferSize,
                     void* buffer, Size* actualSize) {
    if (!control || bufferSize < 0) return paramErr;
    if (tagName != kControlStaticTextTextTag) return OSErr(errDataNotSupported);
    QString text;
    if (auto* staticText = qobject_cast<StaticText*>(control))
        text = staticText->text();
    else if (auto* label = qobject_cast<QLabel*>(control))
        text = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        text = button->text();
    else if (auto* edit = qobject_cast<QLineEdit*>(control))
        text = edit->text();
    else
        return OSErr(errDataNotSupported);
    const std::string bytes = MacRomanFromUtf8(text.toStdString());
    if (actualSize) *actualSize = Size(bytes.size());
    if (buffer)
        std::memcpy(buffer, bytes.data(), std::min<size_t>(size_t(bufferSize), bytes.size()));
    return noErr;
}

void Draw1Control(ControlRef control) {
    if (!control || !control->isVisible()) return;
    if (auto* staticText = qobject_cast<StaticText*>(control))
        staticText->drawNow();
    else
        control->repaint();
}
