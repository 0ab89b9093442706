#include "diagram/conexiones.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QString>

#include "ui/push_button.h"

// Registers the embedded diagram (the resource lives in a static library, so it is registered
// by hand). The macro declares the registration function where it stands, so it must be used at
// global scope, outside any namespace, including an unnamed one.
static void registerDiagramResource() {
    Q_INIT_RESOURCE(diagram);
}

namespace varnel {

namespace {

// Client area on the screen, and the controls in it.
constexpr int kLeft = 142, kTop = 69, kWidth = 761, kHeight = 632;
constexpr int kPictureLeft = 8, kPictureTop = 8, kPictureWidth = 745, kPictureHeight = 577;
constexpr int kButtonLeft = 328, kButtonTop = 592, kButtonWidth = 105, kButtonHeight = 33;

}  // namespace

conexiones::conexiones(ConexionesHolder& holder, std::ostream& errors)
    : QWidget(nullptr),
      Picture1(new QLabel(this)),
      Command1(new PushButton(QStringLiteral("Volver"), this)),
      holder_(holder),
      guard_(errors) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Form1"));
    setGeometry(kLeft, kTop, kWidth, kHeight);
    setFixedSize(kWidth, kHeight);

    Picture1->setGeometry(kPictureLeft, kPictureTop, kPictureWidth, kPictureHeight);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(QPixmap(QString::fromLatin1(kDiagramResource)));
    Picture1->setFocusPolicy(Qt::StrongFocus);

    Command1->setGeometry(kButtonLeft, kButtonTop, kButtonWidth, kButtonHeight);
    Command1->setAutoDefault(false);
    Command1->setDefault(false);

    setTabOrder(Picture1, Command1);
    Picture1->setFocus();  // the first control takes the focus when the window is shown

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
}

void conexiones::Command1_Click() {
    guard_.run("Command1_Click", [this] { holder_.hide(); });
}

void conexiones::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    // Once accepted, the window is deleted as soon as the event loop gets to it; from now on the
    // holder treats it as gone, so the next show builds a new one.
    closed_ = event->isAccepted();
}

ConexionesHolder::ConexionesHolder(std::ostream& errors) : errors_(errors) {
    registerDiagramResource();
}

ConexionesHolder::~ConexionesHolder() {
    // A window closed but not yet deleted by the event loop goes with its holder too.
    delete closing_.data();
    delete window_.data();
}

conexiones& ConexionesHolder::instance() {
    if (existing() == nullptr) {
        if (window_) closing_ = window_;
        window_ = new conexiones(*this, errors_);
    }
    return *window_;
}

conexiones* ConexionesHolder::existing() const {
    return (window_ && !window_->closed_) ? window_.data() : nullptr;
}

void ConexionesHolder::show() {
    instance().setVisible(true);
}

void ConexionesHolder::hide() {
    instance().setVisible(false);
}

}  // namespace varnel
