#pragma once
// A window on scratch folders, and a hand for the modal boxes and dialogs it opens.

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "tests/support/test_env.h"

namespace kordb::test {

// The design name of a widget, for readable failures.
inline std::string nameOf(const QWidget* w) {
    return w ? w->objectName().toStdString() : std::string("(none)");
}

struct WindowFixture {
    explicit WindowFixture(const std::string& name, bool show = true) : dir(scratchDir(name)) {
        std::filesystem::create_directories(dir / "bin");
        if (show) open();
    }
    // Creates (loads) the window; show: also shows it and waits until it has the keyboard.
    void open(bool show = true) {
        window = std::make_unique<MAINMENU>(dir / "bin", dir / "config");
        if (!show) return;
        window->centreOnScreen();
        window->show();
        activate();
    }
    void activate() {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    QWidget* focused() const { return window->focusWidget(); }
    std::string focusName() const { return nameOf(focused()); }

    std::filesystem::path dir;
    std::unique_ptr<MAINMENU> window;
};

// Runs the event loop until cond holds or ms have passed; says whether it holds. (QTRY_*
// would report to QTest, not to this framework.)
inline bool waitUntil(const std::function<bool()>& cond, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

// Acts on the next modal widget of type T once it is open, from inside its own event loop.
// Returns a flag that turns true when it has acted.
template <class T>
std::shared_ptr<bool> onNextModal(std::function<void(T*)> act) {
    auto done = std::make_shared<bool>(false);
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act, done] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            *done = true;
            act(w);
        }
    });
    timer->start();
    return done;
}

}  // namespace kordb::test
