#pragma once

#include <QKeySequence>
#include <QList>
#include <Qt>

// What a key pressed anywhere in the window does, as in a browser: F5 and Ctrl+R reload,
// Alt+Left and Alt+Right go back and forward, Escape stops the load, Ctrl with plus, minus or 0
// zooms, and Alt+U (the U of "UF") takes the focus to the portal list.
enum class WindowKey
{
    None,
    Reload,
    Back,
    Forward,
    Stop,
    ZoomIn,
    ZoomOut,
    ZoomReset,
    FocusList,
};

// key is a Qt::Key; modifiers as the key event has them (the keypad flag is ignored).
WindowKey WindowKeyFor(int key, Qt::KeyboardModifiers modifiers);

// Every key combination WindowKeyFor gives an action for.
QList<QKeySequence> WindowKeySequences();
