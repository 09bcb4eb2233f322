// The state of the Caps, Num and Scroll Lock keys, where the platform tells it.
#pragma once

struct LockKeyState {
    bool known = false;  // false: the platform gives no answer, show nothing
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

LockKeyState QueryLockKeys();
