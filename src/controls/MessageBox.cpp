#include "controls/MessageBox.h"

#include <QMessageBox>

namespace MessageBox {

namespace {

std::function<void(const QString&, const QString&)>& testHook() {
    static std::function<void(const QString&, const QString&)> hook;
    return hook;
}

}  // namespace

void warning(QWidget* parent, const QString& caption, const QString& text) {
    if (testHook()) {
        testHook()(caption, text);
        return;
    }
    QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
}

void setTestHook(std::function<void(const QString& caption, const QString& text)> hook) {
    testHook() = std::move(hook);
}

}  // namespace MessageBox
