#include "testrun/HeadlessWindow.h"

namespace kestova {

namespace {

std::size_t slot(WindowButton button) {
    return static_cast<std::size_t>(button);
}

}  // namespace

HeadlessWindow::HeadlessWindow() {
    // The Restart button waits hidden behind the start button until the first run ends.
    buttons_[slot(WindowButton::Restart)].visible = false;
}

void HeadlessWindow::disableButton(WindowButton button) {
    const std::lock_guard<std::mutex> guard(lock_);
    buttons_[slot(button)].disabledLook = true;
    buttons_[slot(button)].enabled = false;
}

void HeadlessWindow::enableButton(WindowButton button) {
    const std::lock_guard<std::mutex> guard(lock_);
    buttons_[slot(button)].disabledLook = false;
    buttons_[slot(button)].enabled = true;
}

void HeadlessWindow::hideButton(WindowButton button) {
    const std::lock_guard<std::mutex> guard(lock_);
    buttons_[slot(button)].visible = false;
}

void HeadlessWindow::showButton(WindowButton button) {
    const std::lock_guard<std::mutex> guard(lock_);
    buttons_[slot(button)].visible = true;
}

bool HeadlessWindow::isButtonVisible(WindowButton button) const {
    const std::lock_guard<std::mutex> guard(lock_);
    return buttons_[slot(button)].visible;
}

HeadlessWindow::ButtonState HeadlessWindow::state(WindowButton button) const {
    const std::lock_guard<std::mutex> guard(lock_);
    return buttons_[slot(button)];
}

}  // namespace kestova
