// The start procedure: one window per user, restored from the settings, shown modeless.

#include <QApplication>
#include <QTimer>

#include <cstdlib>

#include "app/main_window.h"
#include "app/single_instance.h"

namespace kordb {

int Main(int argc, char* argv[]) {
    // Decided before the toolkit starts, so a second start shows and says nothing.
    SingleInstance instance;
    if (instance.anotherRunning()) return 0;

    QApplication app(argc, argv);
    MAINMENU window;
    window.centreOnScreen();
    window.show();

    // KORDB_SCREENSHOT=file.png: save a picture of the window just shown and end (for the
    // documentation).
    if (const char* shot = std::getenv("KORDB_SCREENSHOT"); shot && *shot) {
        const QString file = QString::fromLocal8Bit(shot);
        QTimer::singleShot(500, &window, [&window, file] {
            const bool saved = window.grab().save(file, "PNG");
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return app.exec();
}

}  // namespace kordb

int main(int argc, char* argv[]) {
    return kordb::Main(argc, argv);
}
