#include "Events.h"

#include "Guard.h"

#include <QKeyEvent>

namespace {

struct KeyPair
{
    int qt;
    int vk;
};

constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, Vk::Back}, {Qt::Key_Tab, Vk::Tab}, {Qt::Key_Backtab, Vk::Tab},
    {Qt::Key_Return, Vk::Return}, {Qt::Key_Enter, Vk::Return}, {Qt::Key_Shift, Vk::Shift},
    {Qt::Key_Control, Vk::Control}, {Qt::Key_Alt, Vk::Menu}, {Qt::Key_Escape, Vk::Escape},
    {Qt::Key_Space, Vk::Space}, {Qt::Key_PageUp, Vk::Prior}, {Qt::Key_PageDown, Vk::Next},
    {Qt::Key_End, Vk::End}, {Qt::Key_Home, Vk::Home}, {Qt::Key_Left, Vk::Left},
    {Qt::Key_Up, Vk::Up}, {Qt::Key_Right, Vk::Right}, {Qt::Key_Down, Vk::Down},
    {Qt::Key_Insert, Vk::Insert}, {Qt::Key_Delete, Vk::Delete},
};

// Punctuation keys by the character they type, as the US layout names them:
// each comes as the code of the key that types it (shifted characters as their
// key's code), never as the character's own number, which would collide with
// the navigation codes ('!'..'(' with 33..40, '-' with Insert, '.' with Delete).
constexpr KeyPair kPunctuation[] = {
    {';', 186}, {':', 186}, {'=', 187}, {'+', 187}, {',', 188}, {'<', 188}, {'-', 189}, {'_', 189},
    {'.', 190}, {'>', 190}, {'/', 191}, {'?', 191}, {'`', 192}, {'~', 192}, {'[', 219}, {'{', 219},
    {'\\', 220}, {'|', 220}, {']', 221}, {'}', 221}, {'\'', 222}, {'"', 222},
    {')', '0'}, {'!', '1'}, {'@', '2'}, {'#', '3'}, {'$', '4'}, {'%', '5'}, {'^', '6'}, {'&', '7'},
    {'*', '8'}, {'(', '9'},
};

// Keypad keys with their own codes (NumLock on).
constexpr KeyPair kKeypad[] = {
    {'*', 106}, {'+', 107}, {'-', 109}, {'.', 110}, {',', 110}, {'/', 111},
};

// Code for keys none of the tables name (accented letters, media keys): out of
// the range of the classic codes, so that no handler mistakes one for another.
constexpr int kOtherKey = 0x10000;

} // namespace

int vkFromQtKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::KeypadModifier) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
            return 96 + (qtKey - Qt::Key_0);
        for (const KeyPair &k : kKeypad)
            if (k.qt == qtKey)
                return k.vk;
    }
    for (const KeyPair &k : kKeys)
        if (k.qt == qtKey)
            return k.vk;
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return qtKey; // Qt uses the same numbers for these
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
        return Vk::F1 + (qtKey - Qt::Key_F1);
    for (const KeyPair &k : kPunctuation)
        if (k.qt == qtKey)
            return k.vk;
    if (qtKey < kOtherKey)
        return kOtherKey + qtKey;
    return qtKey;
}

int qtKeyFromVk(int vk)
{
    for (const KeyPair &k : kKeys)
        if (k.vk == vk)
            return k.qt;
    if (vk >= Vk::F1 && vk <= Vk::F12)
        return Qt::Key_F1 + (vk - Vk::F1);
    if (vk >= 96 && vk <= 105)
        return Qt::Key_0 + (vk - 96);
    if (vk >= 186) // the unshifted character of a punctuation key
        for (const KeyPair &k : kPunctuation)
            if (k.vk == vk)
                return k.qt;
    return vk;
}

QChar keyPressChar(const QKeyEvent *event)
{
    const QString text = event->text();
    if (text.size() == 1)
        return text.at(0);
    switch (event->key()) { // platforms that give these keys no text
    case Qt::Key_Backspace: return QChar(8);
    case Qt::Key_Return:
    case Qt::Key_Enter: return QChar(13);
    case Qt::Key_Escape: return QChar(27);
    case Qt::Key_Tab: return QChar(9);
    default: return QChar();
    }
}

bool fireNotify(const TNotifyEvent &handler, QObject *sender)
{
    if (!handler)
        return true;
    return runGuarded([&] { handler(sender); });
}

bool fireKeyPress(const TKeyPressEvent &handler, QObject *sender, QChar &key)
{
    if (!handler)
        return true;
    return runGuarded([&] { handler(sender, key); });
}

bool fireKeyDown(const TKeyEvent &handler, QObject *sender, int &key, Qt::KeyboardModifiers shift)
{
    if (!handler)
        return true;
    return runGuarded([&] { handler(sender, key, shift); });
}

KeyDispatch dispatchKey(QObject *sender, QKeyEvent *event, const TKeyEvent &onKeyDown,
                        const TKeyPressEvent &onKeyPress)
{
    KeyDispatch result;
    const Qt::KeyboardModifiers shift = event->modifiers() & ~Qt::KeypadModifier;
    int key = vkFromQtKey(event->key(), event->modifiers());
    if (!fireKeyDown(onKeyDown, sender, key, shift) || key == 0) {
        result.swallowed = true;
        return result;
    }
    // Ctrl/Alt combinations type nothing, as on the family's original platform.
    const QChar original = (shift & (Qt::ControlModifier | Qt::AltModifier)) ? QChar() : keyPressChar(event);
    result.character = original;
    if (original.isNull())
        return result;
    QChar ch = original;
    if (!fireKeyPress(onKeyPress, sender, ch) || ch.isNull()) {
        result.swallowed = true;
        result.character = QChar();
        return result;
    }
    result.character = ch;
    result.rewritten = ch != original;
    return result;
}

QKeyEvent rewrittenEvent(const QKeyEvent *event, QChar character)
{
    int key = 0;
    switch (character.unicode()) {
    case 8: key = Qt::Key_Backspace; break;
    case 9: key = Qt::Key_Tab; break;
    case 13: key = Qt::Key_Return; break;
    case 27: key = Qt::Key_Escape; break;
    default: {
        const QChar upper = character.toUpper();
        key = upper.unicode() < 0x80 ? int(upper.unicode()) : Qt::Key_unknown;
    }
    }
    return QKeyEvent(event->type(), key, event->modifiers(), QString(character), event->isAutoRepeat(),
                     ushort(event->count()));
}
