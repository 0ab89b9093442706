// The wiring diagram window and the holder of its single instance.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <iostream>

#include "ui/handler_guard.h"

class QCloseEvent;

namespace varnel {

class ConexionesHolder;

// The diagram window: the wiring diagram at its natural size and the "Volver" button that hides
// the window again. A top-level, modeless window; closing it through the window system destroys it.
class conexiones : public QWidget {
    Q_OBJECT
  public:
    // Failures of its handler are reported on `errors`.
    conexiones(ConexionesHolder& holder, std::ostream& errors);

    QLabel* Picture1;
    QPushButton* Command1;

    // "Volver": hides the single instance.
    void Command1_Click();

    // Where the diagram lives in the program's resources.
    static constexpr const char* kDiagramResource = ":/diagram/conexiones.png";

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    friend class ConexionesHolder;
    ConexionesHolder& holder_;
    HandlerGuard guard_;
    bool closed_ = false;  // closed through the window system, waiting to be deleted
};

// Owns the single diagram window (it does not exist until first used).
class ConexionesHolder {
  public:
    // Failures of the window's handler are reported on `errors`.
    explicit ConexionesHolder(std::ostream& errors = std::cerr);
    virtual ~ConexionesHolder();
    ConexionesHolder(const ConexionesHolder&) = delete;
    ConexionesHolder& operator=(const ConexionesHolder&) = delete;

    // The window, created as on first use if it does not exist.
    conexiones& instance();
    // The window, or nullptr if it was never created or was closed through the window system.
    conexiones* existing() const;
    void show();  // instance().setVisible(true)
    // instance().setVisible(false); virtual so that a test can make "Volver" fail.
    virtual void hide();

  private:
    std::ostream& errors_;
    QPointer<conexiones> window_;
    QPointer<conexiones> closing_;  // a closed window that the event loop has not deleted yet
};

}  // namespace varnel
