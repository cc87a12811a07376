// Another program's window to drop on in end-to-end tests, written with the toolkit alone as any
// other desktop program is: a window titled "KestoDropTarget" that takes every drop and prints
// each type offered with its data, one line each ("type <name> <bytes> <data with \n escaped>"),
// then "drop done" and quits.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QWidget>

#include <cstdio>

namespace {

class DropTarget : public QWidget {
 public:
  DropTarget() {
    setWindowTitle("KestoDropTarget");
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(120, 180, 230));
    setPalette(p);
  }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
  void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
  void dropEvent(QDropEvent* event) override {
    const QMimeData* mime = event->mimeData();
    for (const QString& format : mime->formats()) {
      QByteArray data = mime->data(format);
      QByteArray shown = data;
      shown.replace('\\', "\\\\").replace('\n', "\\n").replace('\r', "\\r").replace('\0', "\\0");
      std::printf("type %s %lld %s\n", format.toUtf8().constData(), static_cast<long long>(data.size()),
                  shown.left(400).constData());
    }
    std::printf("drop done\n");
    std::fflush(stdout);
    event->acceptProposedAction();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  DropTarget window;
  window.setGeometry(900, 480, 320, 220);
  window.show();
  return app.exec();
}
