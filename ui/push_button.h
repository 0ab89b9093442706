// The push button of both windows: it acts on Enter while it has the focus, as it does on Space,
// without being a window's default button, and once per press: a held key's repeats do nothing.
#pragma once

#include <QKeyEvent>
#include <QPushButton>

namespace varnel {

class PushButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (!event->isAutoRepeat()) click();
            event->accept();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

}  // namespace varnel
