// The yardstick for Quarvel's start-up: a bare Qt WebEngine window that loads about:blank,
// prints "loaded" at its first finished load and stays until its standard input closes.
#include <QApplication>
#include <QSocketNotifier>
#include <QWebEngineView>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    // The same engine settings as the program: no GPU; the sandbox as the caller leaves it,
    // except for root, for whom the engine refuses it.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            "--disable-gpu --disable-gpu-compositing --disable-gpu-shader-disk-cache");
    if (::geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);

    QWebEngineView view;
    view.resize(996, 608);
    bool reported = false;
    QObject::connect(&view, &QWebEngineView::loadFinished, [&](bool) {
        if (reported)
            return;
        reported = true;
        std::printf("loaded\n");
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[64];
        if (::read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
            app.quit();
    });
    view.setUrl(QUrl(QStringLiteral("about:blank")));
    view.show();
    return app.exec();
}
