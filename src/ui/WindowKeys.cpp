#include "ui/WindowKeys.h"

namespace {

struct Binding
{
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    WindowKey action;
};

// Plus sits on the = key (shifted) of most layouts; both are zoom in, as in browsers.
const Binding kBindings[] = {
    {Qt::Key_F5, Qt::NoModifier, WindowKey::Reload},
    {Qt::Key_R, Qt::ControlModifier, WindowKey::Reload},
    {Qt::Key_Left, Qt::AltModifier, WindowKey::Back},
    {Qt::Key_Right, Qt::AltModifier, WindowKey::Forward},
    {Qt::Key_Escape, Qt::NoModifier, WindowKey::Stop},
    {Qt::Key_Plus, Qt::ControlModifier, WindowKey::ZoomIn},
    {Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier, WindowKey::ZoomIn},
    {Qt::Key_Equal, Qt::ControlModifier, WindowKey::ZoomIn},
    {Qt::Key_Minus, Qt::ControlModifier, WindowKey::ZoomOut},
    {Qt::Key_0, Qt::ControlModifier, WindowKey::ZoomReset},
    {Qt::Key_U, Qt::AltModifier, WindowKey::FocusList},
};

} // namespace

WindowKey WindowKeyFor(int key, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    for (const Binding& binding : kBindings) {
        if (binding.key == key && binding.modifiers == held)
            return binding.action;
    }
    return WindowKey::None;
}

QList<QKeySequence> WindowKeySequences()
{
    QList<QKeySequence> sequences;
    for (const Binding& binding : kBindings)
        sequences.append(QKeySequence(QKeyCombination(binding.modifiers, binding.key)));
    return sequences;
}
