#pragma once
// Keyboard handling of the window: key preview ahead of the focused control, the key codes a
// key-down handler receives, and the focus entries that select a text box's whole text.

#include <QObject>

#include <cstdint>
#include <functional>

class QKeyEvent;
class QWidget;

namespace kordb {

// Key codes as the key-down handler receives them.
inline constexpr int16_t kKeyReturn = 13;
inline constexpr int16_t kKeyUp = 38;

// Modifier state bits as the key-down handler receives them.
inline constexpr int16_t kShiftMask = 1;
inline constexpr int16_t kCtrlMask = 2;
inline constexpr int16_t kAltMask = 4;

// The key code of a key event; 0 for keys without one.
int16_t keyCodeOf(const QKeyEvent& e);
int16_t shiftStateOf(const QKeyEvent& e);

// Sees every key press sent to the watched widgets before they do, and passes it on (except
// Up arrow to a button, whose own reaction would repeat the handler's focus move).
class KeyPreview : public QObject {
  public:
    using Handler = std::function<void(int16_t keyCode, int16_t shift)>;
    KeyPreview(Handler handler, QObject* parent);
    void watch(QObject* target);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Handler handler_;
};

// Reports each focus entry into a watched widget that a key or the program caused: not a mouse
// click (which places the caret itself), nor the window or a popup handing the focus back.
class FocusEntry : public QObject {
  public:
    using Handler = std::function<void(int16_t index)>;
    FocusEntry(Handler handler, QObject* parent);
    void watch(QWidget* target, int16_t index);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    Handler handler_;
};

}  // namespace kordb
