#include "platform/MessageBox.h"

namespace platform {

// Without a display there is nobody to click a box: the console asks instead.
MessagePresenter& SystemPresenter() {
    static ConsolePresenter console;
    return console;
}

}  // namespace platform
