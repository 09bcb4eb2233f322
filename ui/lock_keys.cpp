#include "ui/lock_keys.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#if defined(LUMIVEX_HAVE_X11)
// Xlib's macros (None, Bool, Status, KeyPress...) stay inside this file.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

LockKeyState QueryLockKeys()
{
    LockKeyState state;
#if defined(LUMIVEX_HAVE_X11) && QT_CONFIG(xcb)
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display)
        return state;
    const auto indicator = [display](const char* name, bool& on) {
        int lit = 0;
        const Atom atom = XInternAtom(display, name, True);
        if (atom == 0 || !XkbGetNamedIndicator(display, atom, nullptr, &lit, nullptr, nullptr))
            return false;
        on = lit != 0;
        return true;
    };
    // An indicator the server does not name stays off.
    indicator("Caps Lock", state.caps);
    indicator("Num Lock", state.num);
    indicator("Scroll Lock", state.scroll);
    state.known = true;
#endif
    return state;
}
