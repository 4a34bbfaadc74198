#include "platform/events/DocumentRequests.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDataStream>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/events/AppleEvents.h"
#include "testkit/Refs.h"
#include "testkit/TempTree.h"

using testsupport::TempTree;

namespace {

std::vector<std::vector<std::string>> gDrops;

// Records each open-documents event as the paths its items convert to.
OSErr recordDrop(const AppleEvent* event, AppleEvent*, long) {
    std::vector<DescType> types;
    std::vector<std::string> paths;
    if (!testsupport::directObjectItems(event, &types, &paths)) return errAEDescNotFound;
    EXPECT_EQ(types, std::vector<DescType>(paths.size(), typeFileURL));
    gDrops.push_back(paths);
    return noErr;
}

// A Unix socket bound at `name`, as another process would leave it.
int bindSocket(const std::string& name) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

class DocumentRequests : public ::testing::Test {
protected:
    void SetUp() override {
        gDrops.clear();
        runtime = tree.mkdir("runtime");
        chmod(runtime.c_str(), 0700);
        saved = getenv("XDG_RUNTIME_DIR") ? getenv("XDG_RUNTIME_DIR") : "";
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        AEInstallEventHandler(kCoreEventClass, kAEOpenDocuments, recordDrop, 0, false);
    }
    void TearDown() override {
        CloseDocumentServer();
        AERemoveEventHandler(kCoreEventClass, kAEOpenDocuments, recordDrop, false);
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    }
    static void pump(int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    TempTree tree;
    std::string runtime, saved;
};

}  // namespace

// The launch's arguments become absolute paths of existing objects, and those
// arrive as one event of file URLs, from the loop, not at once.
TEST_F(DocumentRequests, LaunchArgumentsArriveAsOneEventOfFileURLsOfExistingObjects) {
    const std::string file = tree.write("dir/plain", "x");
    const std::string latin = tree.write(std::string("dir/caf\xE9"), "y");
    const std::string spaced = tree.write("dir/with space", "z");
    std::string args[] = {"brackwater",
                          "plain",
                          "file://" + tree.root() + "/dir/caf%E9",
                          "file://localhost" + tree.root() + "/dir/with%20space",
                          "missing",
                          "file://otherhost/dir/plain",
                          tree.path("dir")};
    char* argv[std::size(args)];
    for (size_t i = 0; i < std::size(args); ++i) argv[i] = args[i].data();
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(tree.path("dir"));
    const auto paths = DocumentPathsFromArguments(int(std::size(args)), argv);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(paths, (std::vector<std::string>{file, latin, spaced, tree.path("dir")}));

    ASSERT_EQ(SendOpenDocumentsToSelf(paths), noErr);
    EXPECT_TRUE(gDrops.empty());
    pump(50);
    ASSERT_EQ(gDrops.size(), 1u);
    EXPECT_EQ(gDrops[0], paths);
    EXPECT_EQ(FileURLFromPath("/a b/%.txt"), "file:///a%20b/%25.txt");
    // No documents, no event.
    ASSERT_EQ(SendOpenDocumentsToSelf({}), noErr);
    pump(20);
    EXPECT_EQ(gDrops.size(), 1u);
}

TEST_F(DocumentRequests, AStaleSocketIsTakenOverAndLaterLaunchesAreServed) {
    // A socket left by a killed instance: bound, never listened on.
    const std::string name = DocumentServerName();
    EXPECT_EQ(name, runtime + "/brackwater.socket");
    close(bindSocket(name));

    ASSERT_EQ(ClaimDocumentServer({}), LaunchRole::Primary);
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u);  // this user only

    // A later launch's request, as it sends it.
    const std::string doc = tree.write("handed", "h");
    QByteArray request = "brackwater-open 1\n";
    {
        QDataStream stream(&request, QIODevice::Append);
        stream << quint32(1) << QByteArray(doc.data(), qsizetype(doc.size()));
    }
    QLocalSocket client;
    client.connectToServer(QString::fromStdString(name));
    ASSERT_TRUE(client.waitForConnected(1000));
    client.write(request.left(10));  // arrives in pieces
    client.flush();
    pump(30);
    client.write(request.mid(10));
    client.flush();
    QByteArray answer;
    for (int i = 0; i < 200 && !answer.endsWith('\n'); ++i) {
        pump(10);
        answer += client.readAll();
    }
    EXPECT_EQ(answer, "taken\n");
    pump(30);
    ASSERT_EQ(gDrops.size(), 1u);
    EXPECT_EQ(gDrops[0], (std::vector<std::string>{doc}));

    // Something that is not a request is dropped without an event.
    QLocalSocket rogue;
    rogue.connectToServer(QString::fromStdString(name));
    ASSERT_TRUE(rogue.waitForConnected(1000));
    rogue.write("GET / HTTP/1.0\r\n\r\n");
    rogue.flush();
    pump(100);
    EXPECT_EQ(gDrops.size(), 1u);
    EXPECT_NE(rogue.state(), QLocalSocket::ConnectedState);
}

TEST_F(DocumentRequests, ASocketOfAnotherUserIsNeverUsed) {
    const std::string name = DocumentServerName();
    const int fd = bindSocket(name);
    ASSERT_EQ(listen(fd, 1), 0);
    ASSERT_EQ(chown(name.c_str(), 65534, 65534), 0);  // tests run as root
    // Another user's listening socket: neither connected to nor replaced.
    EXPECT_EQ(ClaimDocumentServer({"/tmp"}), LaunchRole::Primary);
    struct stat st;
    ASSERT_EQ(stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    close(fd);
}
