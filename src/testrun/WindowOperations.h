#pragma once

namespace kestova {

enum class WindowButton { Start, Restart, Cancel };

// What the test run asks of the window. Every call is made on the window's thread: the test run
// makes them there itself, and the stage thread hands its calls over through a WindowChannel.
class WindowOperations {
  public:
    WindowOperations() = default;
    WindowOperations(const WindowOperations&) = delete;
    WindowOperations& operator=(const WindowOperations&) = delete;
    virtual ~WindowOperations() = default;

    // Sets the button's disabled look to match, then changes whether it takes clicks.
    virtual void disableButton(WindowButton button) = 0;
    virtual void enableButton(WindowButton button) = 0;
    virtual void hideButton(WindowButton button) = 0;
    virtual void showButton(WindowButton button) = 0;
    virtual bool isButtonVisible(WindowButton button) const = 0;
    virtual void reloadPage() = 0;
};

// The end-of-run button reset: after the first run the start button gives way to Restart; after
// a later run Restart comes back; the cancel button comes back in both cases.
void resetButtonsAfterRun(WindowOperations& window);

}  // namespace kestova
