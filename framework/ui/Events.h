#pragma once

#include "vorwidgets_export.h"

#include <QChar>
#include <QObject>
#include <Qt>
#include <functional>

class QKeyEvent;

// Event signatures of the controls. Every call from Qt into one of these goes
// through runGuarded (Guard.h): an exception never reaches Qt's event loop.
using TNotifyEvent = std::function<void(QObject *sender)>;
// Character typed, by reference: replace it, or set QChar() to refuse it.
using TKeyPressEvent = std::function<void(QObject *sender, QChar &key)>;
// Key code (see Vk below) by reference: set 0 to swallow the key.
using TKeyEvent = std::function<void(QObject *sender, int &key, Qt::KeyboardModifiers shift)>;

// Key codes handed to key-down handlers: the classic virtual-key numbers, so
// handlers read like the rest of the family's code. Punctuation comes as the
// code of the key that types it (minus 189, period 190, comma 188, shifted
// characters as their key's), keypad keys as the keypad's codes (96..111);
// keys without a code of their own come above 0xFFFF, so that only Insert and
// Delete ever arrive as 45 and 46.
namespace Vk {
enum : int {
    Back = 8, Tab = 9, Return = 13, Shift = 16, Control = 17, Menu = 18,
    Escape = 27, Space = 32, Prior = 33, Next = 34, End = 35, Home = 36,
    Left = 37, Up = 38, Right = 39, Down = 40, Insert = 45, Delete = 46,
    // '0'..'9' are 48..57 and 'A'..'Z' 65..90, as their characters
    F1 = 112, F12 = 123,
    OemComma = 188, OemMinus = 189, OemPeriod = 190
};
}

VORWIDGETS_EXPORT int vkFromQtKey(int qtKey, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
VORWIDGETS_EXPORT int qtKeyFromVk(int vk);

// Characters handed to key-press handlers: the key's text (Backspace is char 8,
// Enter char 13, Escape char 27, Tab char 9). QChar() when the key types nothing.
VORWIDGETS_EXPORT QChar keyPressChar(const QKeyEvent *event);

// Runs an event handler through the guard; false when it ended by an exception.
// A null handler counts as success.
VORWIDGETS_EXPORT bool fireNotify(const TNotifyEvent &handler, QObject *sender);
VORWIDGETS_EXPORT bool fireKeyPress(const TKeyPressEvent &handler, QObject *sender, QChar &key);
VORWIDGETS_EXPORT bool fireKeyDown(const TKeyEvent &handler, QObject *sender, int &key,
                                   Qt::KeyboardModifiers shift);

// The usual key protocol of a control: OnKeyDown, then OnKeyPress for a key
// that types a character. swallowed: a handler set the key to 0, refused the
// character or raised; the Qt base class must not see the key. rewritten: the
// character was replaced; hand on rewrittenEvent(event, character) instead.
struct KeyDispatch
{
    bool swallowed = false;
    bool rewritten = false;
    QChar character;        // final character (valid when the key types one)
};
VORWIDGETS_EXPORT KeyDispatch dispatchKey(QObject *sender, QKeyEvent *event,
                                          const TKeyEvent &onKeyDown,
                                          const TKeyPressEvent &onKeyPress);
// A copy of the key event typing another character.
VORWIDGETS_EXPORT QKeyEvent rewrittenEvent(const QKeyEvent *event, QChar character);
