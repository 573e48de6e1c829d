#include "testrun/WindowOperations.h"

namespace kestova {

void resetButtonsAfterRun(WindowOperations& window) {
    if (window.isButtonVisible(WindowButton::Start)) {
        window.hideButton(WindowButton::Start);
        window.showButton(WindowButton::Restart);
    } else {
        window.enableButton(WindowButton::Restart);
    }
    window.enableButton(WindowButton::Cancel);
}

}  // namespace kestova
