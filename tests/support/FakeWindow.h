#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "testrun/HeadlessWindow.h"

namespace kestova::testing {

// A window that keeps its buttons' states and records every operation, from any thread.
class FakeWindow : public HeadlessWindow {
  public:
    void disableButton(WindowButton button) override {
        record("disable " + name(button));
        HeadlessWindow::disableButton(button);
    }
    void enableButton(WindowButton button) override {
        record("enable " + name(button));
        HeadlessWindow::enableButton(button);
    }
    void hideButton(WindowButton button) override {
        record("hide " + name(button));
        HeadlessWindow::hideButton(button);
    }
    void showButton(WindowButton button) override {
        record("show " + name(button));
        HeadlessWindow::showButton(button);
    }
    void reloadPage() override { record("reload"); }

    std::vector<std::string> operations() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return operations_;
    }

    // "start visible enabled" style summary of one button.
    std::string look(WindowButton button) const {
        const ButtonState s = state(button);
        return name(button) + (s.visible ? " visible" : " hidden") +
               (s.enabled ? " enabled" : " disabled") + (s.disabledLook ? " grey" : "");
    }

    static std::string name(WindowButton button) {
        switch (button) {
            case WindowButton::Start:
                return "start";
            case WindowButton::Restart:
                return "restart";
            case WindowButton::Cancel:
                return "cancel";
        }
        return "?";
    }

  private:
    void record(std::string operation) {
        const std::lock_guard<std::mutex> guard(lock_);
        operations_.push_back(std::move(operation));
    }

    mutable std::mutex lock_;
    std::vector<std::string> operations_;
};

}  // namespace kestova::testing
