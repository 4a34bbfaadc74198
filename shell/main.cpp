// Entry point: creates the application object and runs Brackwater.
#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Brackwater");
    QApplication::setApplicationVersion(BRACKWATER_VERSION);
    std::printf("Brackwater %s\n", BRACKWATER_VERSION);
    return 0;
}
