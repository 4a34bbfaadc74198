#include "platform/events/DocumentRequests.h"

#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QWidget>
#include <cstdio>

#include "platform/events/AppleEvents.h"

namespace {

// One request: the magic line, a count, then each path as length and bytes.
const QByteArray kMagic = "brackwater-open 1\n";
constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 5000;
const QByteArray kTaken = "taken\n";

QPointer<QLocalServer> gServer;

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[PATH_MAX + 1];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

QByteArray encodeRequest(const std::vector<std::string>& paths) {
    QByteArray out = kMagic;
    QDataStream stream(&out, QIODevice::Append);
    stream << quint32(paths.size());
    for (const auto& p : paths) stream << QByteArray(p.data(), qsizetype(p.size()));
    return out;
}

// Complete requests only; false while bytes are still missing or malformed.
bool decodeRequest(const QByteArray& data, std::vector<std::string>& paths, bool* malformed) {
    *malformed = false;
    if (data.size() < kMagic.size()) return false;
    if (!data.startsWith(kMagic)) {
        *malformed = true;
        return false;
    }
    QDataStream stream(data.mid(kMagic.size()));
    quint32 count = 0;
    stream >> count;
    if (stream.status() != QDataStream::Ok) return false;
    paths.clear();
    for (quint32 i = 0; i < count; ++i) {
        QByteArray p;
        stream >> p;
        if (stream.status() != QDataStream::Ok) return false;
        if (p.isEmpty() || p[0] != '/' || p.contains('\0')) {
            *malformed = true;
            return false;
        }
        paths.emplace_back(p.constData(), size_t(p.size()));
    }
    return true;
}

// A socket in a shared folder must be our own before we talk to it.
bool socketIsOurs(const std::string& name) {
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) return true;  // nothing there yet
    return S_ISSOCK(st.st_mode) && st.st_uid == getuid();
}

void serve(QLocalSocket* socket) {
    auto* buffer = new QByteArray;
    QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer]() {
        buffer->append(socket->readAll());
        std::vector<std::string> paths;
        bool malformed = false;
        if (decodeRequest(*buffer, paths, &malformed)) {
            SendOpenDocumentsToSelf(paths);
            // The user launched us again: show where the work happens, also
            // when the window was minimized.
            for (QWidget* window : QApplication::topLevelWidgets()) {
                if (!window->isVisible()) continue;
                if (window->isMinimized())
                    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
                window->raise();
                window->activateWindow();
            }
            socket->write(kTaken);
            socket->flush();
            socket->disconnectFromServer();
        } else if (malformed || buffer->size() > (64 << 20)) {
            socket->abort();
        }
    });
    QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, buffer]() {
        delete buffer;
        socket->deleteLater();
    });
}

bool listenAt(const std::string& name) {
    auto* server = new QLocalServer(QCoreApplication::instance());
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(QString::fromStdString(name))) {
        delete server;
        return false;
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [server]() {
        while (QLocalSocket* socket = server->nextPendingConnection()) serve(socket);
    });
    gServer = server;
    return true;
}

}  // namespace

std::vector<std::string> DocumentPathsFromArguments(int argc, char** argv) {
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        std::string path = argv[i];
        if (strncasecmp(argv[i], "file:", 5) == 0) {
            // file:///path or file://localhost/path, percent-encoded bytes.
            QByteArray rest = QByteArray(argv[i] + 5);
            if (rest.startsWith("//localhost/"))
                rest = rest.mid(11);
            else if (rest.startsWith("///"))
                rest = rest.mid(2);
            else if (!rest.startsWith("/") || rest.startsWith("//"))
                rest.clear();
            const int cut = int(rest.indexOf('?') >= 0 ? rest.indexOf('?') : rest.indexOf('#'));
            if (cut >= 0) rest.truncate(cut);
            const QByteArray decoded = QByteArray::fromPercentEncoding(rest);
            if (decoded.isEmpty() || decoded.contains('\0')) {
                std::fprintf(stderr, "brackwater: not a local file: %s\n", argv[i]);
                continue;
            }
            path.assign(decoded.constData(), size_t(decoded.size()));
        } else {
            path = absolute(path);
        }
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            std::fprintf(stderr, "brackwater: no such file or folder: %s\n", argv[i]);
            continue;
        }
        paths.push_back(path);
    }
    return paths;
}

std::string DocumentServerName() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/brackwater.socket";
    return "/tmp/brackwater-" + std::to_string(getuid()) + ".socket";
}

LaunchRole ClaimDocumentServer(const std::vector<std::string>& paths) {
    const std::string name = DocumentServerName();
    if (!socketIsOurs(name)) {
        std::fprintf(stderr, "brackwater: %s belongs to someone else; not listening\n",
                     name.c_str());
        return LaunchRole::Primary;
    }
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(name));
    if (socket.waitForConnected(kConnectMs)) {
        socket.write(encodeRequest(paths));
        socket.flush();
        QByteArray answer;
        while (!answer.endsWith('\n') && socket.waitForReadyRead(kAnswerMs))
            answer += socket.readAll();
        answer += socket.readAll();
        return answer == kTaken ? LaunchRole::HandedOver : LaunchRole::Unreachable;
    }
    // Nobody answers: a socket left by a killed instance is taken over.
    QLocalServer::removeServer(QString::fromStdString(name));
    if (!listenAt(name)) std::fprintf(stderr, "brackwater: cannot listen at %s\n", name.c_str());
    return LaunchRole::Primary;
}

void CloseDocumentServer() {
    if (!gServer) return;
    gServer->close();
    delete gServer;
}

std::string FileURLFromPath(const std::string& path) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            url += char(c);
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 15];
        }
    }
    return url;
}

OSErr SendOpenDocumentsToSelf(const std::vector<std::string>& paths) {
    if (paths.empty()) return noErr;
    AEAddressDesc target = {typeNull, nullptr};
    AppleEvent event = {typeNull, nullptr};
    AEDescList list = {typeNull, nullptr};
    const ProcessSerialNumber self = {0, UInt32(kCurrentProcess)};
    OSErr err = AECreateDesc(typeProcessSerialNumber, &self, sizeof self, &target);
    if (err == noErr)
        err = AECreateAppleEvent(kCoreEventClass, kAEOpenDocuments, &target, kAutoGenerateReturnID,
                                 kAnyTransactionID, &event);
    if (err == noErr) err = AECreateList(nullptr, 0, false, &list);
    for (size_t i = 0; err == noErr && i < paths.size(); ++i) {
        const std::string url = FileURLFromPath(paths[i]);
        err = AEPutPtr(&list, 0, typeFileURL, url.data(), Size(url.size()));
    }
    if (err == noErr) err = AEPutParamDesc(&event, keyDirectObject, &list);
    if (err == noErr)
        err = AESend(&event, nullptr, kAENoReply, kAENormalPriority, kAEDefaultTimeout, nullptr,
                     nullptr);
    AEDisposeDesc(&list);
    AEDisposeDesc(&event);
    AEDisposeDesc(&target);
    return err;
}
