#pragma once
// Which key presses the page never sees: refresh (F5, also with Control) and Control with O, P
// or N (open, print, new window). The test is on keys held down at the moment, not on the key
// of the event, as the launcher always did: while F5 is held every key press is swallowed.

class PageKeyFilter {
  public:
    // keyval is a GDK key value. True when the press must not reach the page.
    bool OnKeyPress(unsigned keyval, bool controlDown);
    void OnKeyRelease(unsigned keyval);
    // Key releases are not seen while the page lacks the focus, so forget what was held.
    void OnFocusLost();

  private:
    enum Key { kF5, kO, kP, kN, kKeyCount };
    static int Slot(unsigned keyval);

    bool m_down[kKeyCount] = {};
};
