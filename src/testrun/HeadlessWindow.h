#pragma once

#include <array>
#include <mutex>

#include "testrun/WindowOperations.h"

namespace kestova {

// The window's buttons without a window, for running a test from the command line: it keeps
// their states and has no page to reload.
// Contract: every member may be called from any thread.
class HeadlessWindow : public WindowOperations {
  public:
    struct ButtonState {
        bool visible = true;
        bool enabled = true;
        bool disabledLook = false;
    };

    HeadlessWindow();

    void disableButton(WindowButton button) override;
    void enableButton(WindowButton button) override;
    void hideButton(WindowButton button) override;
    void showButton(WindowButton button) override;
    bool isButtonVisible(WindowButton button) const override;
    void reloadPage() override {}

    ButtonState state(WindowButton button) const;

  private:
    mutable std::mutex lock_;
    std::array<ButtonState, 3> buttons_;
};

}  // namespace kestova
