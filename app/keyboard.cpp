#include "app/keyboard.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QVariant>
#include <QWidget>

namespace kordb {

namespace {
const char* const kIndexProperty = "kordbFieldIndex";
}

int16_t keyCodeOf(const QKeyEvent& e) {
    const int k = e.key();
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return int16_t(65 + (k - Qt::Key_A));
    if (k >= Qt::Key_0 && k <= Qt::Key_9) return int16_t(48 + (k - Qt::Key_0));
    if (k >= Qt::Key_F1 && k <= Qt::Key_F12) return int16_t(112 + (k - Qt::Key_F1));
    switch (k) {
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return kKeyReturn;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return kKeyUp;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
        default:
            return 0;
    }
}

int16_t shiftStateOf(const QKeyEvent& e) {
    int16_t s = 0;
    if (e.modifiers() & Qt::ShiftModifier) s |= kShiftMask;
    if (e.modifiers() & Qt::ControlModifier) s |= kCtrlMask;
    if (e.modifiers() & Qt::AltModifier) s |= kAltMask;
    return s;
}

KeyPreview::KeyPreview(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

void KeyPreview::watch(QObject* target) {
    target->installEventFilter(this);
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int16_t code = keyCodeOf(*key);
        if (code) handler_(code, shiftStateOf(*key));
        // A button's own answer to Up is the very same focus move; both would go two back.
        if (code == kKeyUp && qobject_cast<QAbstractButton*>(watched)) return true;
    }
    return QObject::eventFilter(watched, event);
}

FocusEntry::FocusEntry(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

void FocusEntry::watch(QWidget* target, int16_t index) {
    target->setProperty(kIndexProperty, int(index));
    target->installEventFilter(this);
}

bool FocusEntry::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        switch (static_cast<QFocusEvent*>(event)->reason()) {
            case Qt::MouseFocusReason:
            case Qt::ActiveWindowFocusReason:
            case Qt::PopupFocusReason:
                break;
            default:
                handler_(int16_t(watched->property(kIndexProperty).toInt()));
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kordb
