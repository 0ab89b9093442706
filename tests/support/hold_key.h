// A key held down on a widget, as the window system delivers it: the press, then `repeats`
// auto-repeated release and press pairs, then the release.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace varnel::test {

inline void holdKey(QWidget* widget, Qt::Key key, int repeats) {
    const auto send = [&](QEvent::Type type, bool repeated) {
        QKeyEvent event(type, key, Qt::NoModifier,
                        key == Qt::Key_Space ? QStringLiteral(" ") : QString(), repeated);
        QApplication::sendEvent(widget, &event);
    };
    send(QEvent::KeyPress, false);
    for (int i = 0; i < repeats; ++i) {
        send(QEvent::KeyRelease, true);
        send(QEvent::KeyPress, true);
    }
    send(QEvent::KeyRelease, false);
}

}  // namespace varnel::test
