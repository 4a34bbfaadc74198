// A drag source for end-to-end tests, as a file manager is one: a small window
// that starts a drag of the files named on its command line (their file URLs
// in text/uri-list, their paths as text) as soon as the mouse moves on it with
// the left button down. It prints whether the drag ended as a copy ("drag ended: copy") and
// quits.
//
// usage: dragsource path...   (its window at 800,100)
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QStringList>
#include <QUrl>
#include <cstdio>

namespace {

class Source : public QLabel {
public:
    explicit Source(QStringList paths) : paths_(std::move(paths)) {}

protected:
    void mouseMoveEvent(QMouseEvent* e) override {
        if (started_ || !(e->buttons() & Qt::LeftButton)) return;
        started_ = true;
        auto* data = new QMimeData;
        QList<QUrl> urls;
        for (const QString& p : paths_) urls << QUrl::fromLocalFile(p);
        data->setUrls(urls);
        data->setText(paths_.join('\n'));
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
        std::printf("drag ended: %s\n", result == Qt::CopyAction ? "copy" : "not as a copy");
        QApplication::quit();
    }

private:
    QStringList paths_;
    bool started_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Source source(QApplication::arguments().mid(1));
    source.setGeometry(800, 100, 200, 120);
    source.show();
    return app.exec();
}
