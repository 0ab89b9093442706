// The wiring diagram window and its single instance.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

namespace varnel {

class ConexionesHolder;

class conexiones : public QWidget {
    Q_OBJECT
  public:
    explicit conexiones(ConexionesHolder& holder);

    QLabel* Picture1;
    QPushButton* Command1;

    // "Volver": hides the single instance.
    void Command1_Click();

  private:
    ConexionesHolder& holder_;
};

// The one diagram window of the run: created on first use, then only shown and hidden. A close
// through the window system destroys it, and the next use creates it again.
class ConexionesHolder {
  public:
    ConexionesHolder();
    ~ConexionesHolder();
    ConexionesHolder(const ConexionesHolder&) = delete;
    ConexionesHolder& operator=(const ConexionesHolder&) = delete;

    conexiones& instance();
    conexiones* existing() const { return window_.data(); }
    void show() { instance().setVisible(true); }
    void hide() { instance().setVisible(false); }

  private:
    QPointer<conexiones> window_;
};

}  // namespace varnel
