#include "console/form_tolmar.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QImage>
#include <QPixmap>

#include "console/display_table.h"
#include "diagram/conexiones.h"
#include "ui/push_button.h"

namespace varnel {

namespace {

QPushButton* button(QWidget* parent, const char* caption, int left, int top, int width,
                    int height) {
    auto* b = new PushButton(QString::fromUtf8(caption), parent);
    b->setGeometry(left, top, width, height);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

FormTolmar::FormTolmar(FormTolmarOptions options)
    : Command1(button(this, "Subir Rampa", 152, 56, 113, 49)),
      Command2(button(this, "Bajar Rampa", 152, 184, 113, 49)),
      Command3(button(this, "Giro Izquierda", 24, 120, 113, 49)),
      Command4(button(this, "Giro Derecha", 280, 120, 129, 49)),
      Command5(button(this, "Parar TODO", 152, 120, 113, 49)),
      Picture1(new QLabel(this)),
      Command6(button(this, "SALIR", 16, 280, 73, 33)),
      Command7(button(this, "Ver Conexiones", 280, 280, 137, 41)),
      Timer1(new QTimer(this)),
      Tolmar(options.portPaths),
      options_(std::move(options)),
      link_([this]() -> SerialControl& { return Tolmar; }),
      torre_(link_),
      guard_(*options_.errors),
      conexiones_(std::make_unique<ConexionesHolder>(*options_.errors)) {
    setWindowTitle(QStringLiteral("VARNEL"));
    setGeometry(172, 144, 707, 325);
    setFixedSize(707, 325);

    Picture1->setGeometry(424, 40, 225, 233);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setFocusPolicy(Qt::StrongFocus);

    QWidget* order[] = {Command1, Command2, Command3, Command4,
                        Command5, Picture1, Command6, Command7};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    connect(Command7, &QPushButton::clicked, this, [this] { Command7_Click(); });

    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(10);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    Timer1->start();
}

FormTolmar::~FormTolmar() = default;

template <typename F>
void FormTolmar::handle(const char* name, F&& body) {
    if (ended_) return;
    guard_.run(name, std::forward<F>(body));
}

void FormTolmar::Form_Load() {
    handle("Form_Load", [this] {
        link_.Conectar();
        reportNoBoard();
        torre_.Giro = 0;
        torre_.Rampa = 0;
        torre_.MoverTorre(torre_.Rampa + torre_.Giro);
        loadPicture("Form_Load", "\\torre.jpg");
    });
}

void FormTolmar::pressDirection(const char* handler, int16_t& code, int16_t direction) {
    handle(handler, [&] {
        // Stops the motor when it already runs this way, else sets this way (also reversing it).
        code = code == direction ? 0 : direction;
        torre_.MoverTorre(torre_.Rampa + torre_.Giro);
    });
}

void FormTolmar::Command1_Click() {
    pressDirection("Command1_Click", torre_.Rampa, Module1_Torre::kRampaSubir);
}

void FormTolmar::Command2_Click() {
    pressDirection("Command2_Click", torre_.Rampa, Module1_Torre::kRampaBajar);
}

void FormTolmar::Command3_Click() {
    pressDirection("Command3_Click", torre_.Giro, Module1_Torre::kGiroIzquierda);
}

void FormTolmar::Command4_Click() {
    pressDirection("Command4_Click", torre_.Giro, Module1_Torre::kGiroDerecha);
}

void FormTolmar::Command5_Click() {
    handle("Command5_Click", [this] {
        torre_.Giro = 0;
        torre_.Rampa = 0;
        torre_.MoverTorre(0);
    });
}

void FormTolmar::Command6_Click() {
    if (ended_) return;
    // The program ends whatever became of the stop command, but an operator must know when a
    // board that was found did not confirm it.
    guard_.run("Command6_Click", [this] {
        std::string unsure;
        try {
            if (!torre_.stopForSure() && link_.PuertoActivo() > 0)
                unsure = "the board did not acknowledge the stop command";
        } catch (const SerialError& e) {
            unsure = std::string("the stop command was not sent (") + e.what() + ")";
        }
        if (!unsure.empty())
            guard_.failed("stop", "Command6_Click", unsure + "; the motors may still be running");
    });
    endProgram();
}

void FormTolmar::Command7_Click() {
    handle("Command7_Click", [this] { conexiones_->show(); });
}

void FormTolmar::closeEvent(QCloseEvent* event) {
    // Closing the console stops the motors and ends the program, as "SALIR" does.
    Command6_Click();
    event->accept();
}

void FormTolmar::endProgram() {
    ended_ = true;
    Timer1->stop();
    conexiones_.reset(new ConexionesHolder);  // the diagram window goes with the program
    hide();
    if (options_.endProgram)
        options_.endProgram();
    else
        QCoreApplication::exit(0);
}

void FormTolmar::Timer1_Timer() {
    handle("Timer1_Timer", [this] {
        MostrarEstado();
        const bool read = link_.LeerEntradas();
        AplicarEntradas(torre_, link_.Entradas());
        const bool sent = torre_.MoverTorre(torre_.Rampa + torre_.Giro);
        // A tick that a serial error ended is not counted: the error is reported on its own.
        watchBoard(read && sent);
    });
}

std::string FormTolmar::portName(int16_t port) const {
    return "serial port " + std::to_string(port) + " (" + Tolmar.devicePath(port) + ")";
}

void FormTolmar::reportNoBoard() {
    if (link_.PuertoActivo() > 0) return;
    std::string line = "VARNEL: Form_Load: no board found";
    for (const ProbeOutcome& probe : link_.probes()) {
        const std::string where = portName(probe.port);
        std::string what = describe(probe);
        // The control's own messages already name the port.
        if (what.rfind(where + ": ", 0) == 0) what.erase(0, where.size() + 2);
        line += (&probe == &link_.probes().front() ? ": " : "; ") + where + ": " + what;
    }
    *options_.errors << line << std::endl;
}

void FormTolmar::watchBoard(bool answered) {
    if (link_.PuertoActivo() <= 0) return;
    const BoardWatch::Change change = watch_.tick(answered, BoardWatch::Clock::now());
    if (change == BoardWatch::Change::None) return;
    *options_.errors << "VARNEL: Timer1_Timer: the board on " << portName(link_.PuertoActivo())
                     << (change == BoardWatch::Change::Lost
                             ? " stopped acknowledging; the motors may not follow the console"
                             : " acknowledges again")
                     << std::endl;
}

void FormTolmar::MostrarEstado() {
    const DisplayRow* row = findDisplayRow(torre_.Giro, torre_.Rampa);
    if (row == nullptr) return;
    // A picture that cannot be loaded leaves the picture and the captions as they were.
    if (!loadPicture("Timer1_Timer", row->picture)) return;
    Command3->setText(QString::fromUtf8(row->command3));
    Command4->setText(QString::fromUtf8(row->command4));
    Command1->setText(QString::fromUtf8(row->command1));
    Command2->setText(QString::fromUtf8(row->command2));
}

bool FormTolmar::loadPicture(const char* handler, const char* name) {
    const QString dir = options_.programDir.isEmpty() ? QCoreApplication::applicationDirPath()
                                                      : options_.programDir;
    // The names start with a backslash, the separator of the system they were made for.
    const QString path = dir + QLatin1Char('/') + QString::fromUtf8(name + 1);
    // Read from disk every time: a picture replaced on disk shows from the next load.
    QImage image;
    if (!image.load(path)) {
        guard_.failed("picture", handler, "cannot load picture " + path.toStdString());
        return false;
    }
    guard_.succeeded("picture");
    Picture1->setPixmap(QPixmap::fromImage(image));
    return true;
}

}  // namespace varnel
