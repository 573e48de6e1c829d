#pragma once

#include <QString>
#include <functional>

class QWidget;

// The program's message boxes. Tests replace the box by a hook, so that nothing waits for a
// person to answer.
namespace MessageBox {

void warning(QWidget* parent, const QString& caption, const QString& text);

// While set, warning() hands its caption and text to the hook instead of showing a box.
void setTestHook(std::function<void(const QString& caption, const QString& text)> hook);

}  // namespace MessageBox
