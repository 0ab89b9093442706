// The console's main window.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <iostream>
#include <memory>

#include "console/board_watch.h"
#include "console/module1_torre.h"
#include "link/interface_link.h"
#include "link/posix_serial_control.h"
#include "ui/handler_guard.h"

namespace varnel {

class ConexionesHolder;

struct FormTolmarOptions {
    // Device for each serial port number.
    PosixSerialControl::PortPaths portPaths = PosixSerialControl::linuxPortPath;
    // Where the pictures are; empty: the program's own directory.
    QString programDir;
    // Ends the program; empty: leave the application's event loop.
    std::function<void()> endProgram;
    std::ostream* errors = &std::cerr;
};

class FormTolmar : public QWidget {
    Q_OBJECT
  public:
    explicit FormTolmar(FormTolmarOptions options = {});
    ~FormTolmar() override;

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QLabel* Picture1;
    QPushButton* Command6;
    QPushButton* Command7;
    QTimer* Timer1;
    PosixSerialControl Tolmar;

    InterfaceLink& link() { return link_; }
    Module1_Torre& torre() { return torre_; }
    ConexionesHolder& conexiones() { return *conexiones_; }
    // True once "SALIR" or a close has ended the program: nothing of the program runs after it.
    bool ended() const { return ended_; }

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void Command7_Click();
    void Timer1_Timer();
    void MostrarEstado();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // Runs one handler through the guard, and not at all once the program has ended.
    template <typename F>
    void handle(const char* name, F&& body);
    // What each of the four direction buttons does to its motor's code, then sends.
    void pressDirection(const char* handler, int16_t& code, int16_t direction);
    // Loads a picture from disk into Picture1; false (reported) when it cannot be loaded.
    bool loadPicture(const char* handler, const char* name);
    void endProgram();
    // "serial port 1 (/dev/ttyS0)"
    std::string portName(int16_t port) const;
    // Tells the operator, once, that no board was found and what each port gave.
    void reportNoBoard();
    // Tells the operator when the board stops answering, and when it answers again.
    void watchBoard(bool answered);

    FormTolmarOptions options_;
    InterfaceLink link_;
    Module1_Torre torre_;
    HandlerGuard guard_;
    BoardWatch watch_;
    std::unique_ptr<ConexionesHolder> conexiones_;
    bool ended_ = false;
};

}  // namespace varnel
