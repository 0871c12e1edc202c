#include "ui/PageKeys.h"

#include <gdk/gdkkeysyms.h>

int PageKeyFilter::Slot(unsigned keyval) {
    switch (keyval) {
        case GDK_KEY_F5:
            return kF5;
        case GDK_KEY_o:
        case GDK_KEY_O:
            return kO;
        case GDK_KEY_p:
        case GDK_KEY_P:
            return kP;
        case GDK_KEY_n:
        case GDK_KEY_N:
            return kN;
        default:
            return -1;
    }
}

bool PageKeyFilter::OnKeyPress(unsigned keyval, bool controlDown) {
    if (const int slot = Slot(keyval); slot >= 0) {
        m_down[slot] = true;
    }
    if (m_down[kF5]) {
        return true;
    }
    if (!controlDown) {
        return false;
    }
    return m_down[kO] || m_down[kP] || m_down[kN];
}

void PageKeyFilter::OnKeyRelease(unsigned keyval) {
    if (const int slot = Slot(keyval); slot >= 0) {
        m_down[slot] = false;
    }
}

void PageKeyFilter::OnFocusLost() {
    for (bool& down : m_down) {
        down = false;
    }
}
