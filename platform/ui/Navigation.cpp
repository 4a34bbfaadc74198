#include "platform/ui/Navigation.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <memory>

#include "platform/events/DocumentRequests.h"

namespace {

// Qt's file dialog, taking folders as well as files: Open with a folder
// named in the name field chooses that folder instead of entering it (a
// double click or Return in the list still enters it).
class CChooser : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

protected:
    void accept() override {
        const auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QStringList chosen = selectedFiles();
        bool named = edit && !edit->text().trimmed().isEmpty() && !chosen.isEmpty();
        for (const QString& path : chosen) named = named && QFileInfo(path).exists();
        if (named) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

}  // namespace

struct OpaqueNavDialogRef {
    std::unique_ptr<CChooser> chooser;
    NavUserAction action = kNavUserActionNone;
};

OSStatus NavGetDefaultDialogCreationOptions(NavDialogCreationOptions* outOptions) {
    if (!outOptions) return paramErr;
    *outOptions = NavDialogCreationOptions{};
    return noErr;
}

OSStatus NavCreateChooseObjectDialog(const NavDialogCreationOptions* inOptions, NavEventUPP,
                                     NavPreviewUPP, NavObjectFilterUPP, void*,
                                     NavDialogRef* outDialog) {
    if (!outDialog) return paramErr;
    *outDialog = nullptr;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return paramErr;
    NavDialogCreationOptions options;
    NavGetDefaultDialogCreationOptions(&options);
    if (inOptions) options = *inOptions;
    auto dialog = std::make_unique<OpaqueNavDialogRef>();
    dialog->chooser = std::make_unique<CChooser>(QApplication::activeWindow());
    CChooser& chooser = *dialog->chooser;
    chooser.setOption(QFileDialog::DontUseNativeDialog, true);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode((options.optionFlags & kNavAllowMultipleFiles) ? QFileDialog::ExistingFiles
                                                                       : QFileDialog::ExistingFile);
    chooser.setWindowTitle(options.windowTitle ? QStringFromCFString(options.windowTitle)
                                               : QStringLiteral("Open"));
    chooser.setLabelText(QFileDialog::Accept, options.actionButtonLabel
                                                  ? QStringFromCFString(options.actionButtonLabel)
                                                  : QStringLiteral("Open"));
    chooser.setDirectory(QDir::home());
    *outDialog = dialog.release();
    return noErr;
}

OSStatus NavDialogRun(NavDialogRef inDialog) {
    if (!inDialog) return paramErr;
    inDialog->action = inDialog->chooser->exec() == QDialog::Accepted ? kNavUserActionChoose
                                                                      : kNavUserActionCancel;
    return noErr;
}

NavUserAction NavDialogGetUserAction(NavDialogRef inDialog) {
    return inDialog ? inDialog->action : kNavUserActionNone;
}

OSStatus NavDialogGetReply(NavDialogRef inDialog, NavReplyRecord* outReply) {
    if (!inDialog || !outReply) return paramErr;
    *outReply = NavReplyRecord{};
    outReply->selection = {typeNull, nullptr};
    OSErr err = AECreateList(nullptr, 0, false, &outReply->selection);
    if (err != noErr || inDialog->action != kNavUserActionChoose) return err;
    long index = 0;
    for (const QString& path : inDialog->chooser->selectedFiles()) {
        const QByteArray bytes = QFile::encodeName(path);
        const std::string url = FileURLFromPath(std::string(bytes.constData(), bytes.size()));
        err = AEPutPtr(&outReply->selection, ++index, typeFileURL, url.data(), Size(url.size()));
        if (err != noErr) {
            AEDisposeDesc(&outReply->selection);
            return err;
        }
    }
    outReply->validRecord = index > 0;
    return noErr;
}

OSStatus NavDisposeReply(NavReplyRecord* inReply) {
    if (!inReply) return paramErr;
    AEDisposeDesc(&inReply->selection);
    inReply->validRecord = false;
    return noErr;
}

void NavDialogDispose(NavDialogRef inDialog) {
    delete inDialog;
}
