#include "diagram/conexiones.h"

#include <QPixmap>
#include <exception>
#include <iostream>

// The resource must be registered from outside any namespace.
static void initDiagramResource() {
    Q_INIT_RESOURCE(diagram);
}

namespace varnel {

conexiones::conexiones(ConexionesHolder& holder)
    : Picture1(new QLabel(this)),
      Command1(new QPushButton(QStringLiteral("Volver"), this)),
      holder_(holder) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Form1"));
    setGeometry(142, 69, 761, 632);
    setFixedSize(761, 632);

    Picture1->setGeometry(8, 8, 745, 577);
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setFocusPolicy(Qt::StrongFocus);
    Picture1->setPixmap(QPixmap(QStringLiteral(":/diagram/conexiones.png")));

    Command1->setGeometry(328, 592, 105, 33);
    Command1->setAutoDefault(false);
    Command1->setDefault(false);
    setTabOrder(Picture1, Command1);
    Picture1->setFocus();

    connect(Command1, &QPushButton::clicked, this, [this] {
        try {
            Command1_Click();
        } catch (const std::exception& e) {
            std::cerr << "VARNEL: Command1_Click: " << e.what() << std::endl;
        }
    });
}

void conexiones::Command1_Click() {
    holder_.hide();
}

ConexionesHolder::ConexionesHolder() {
    initDiagramResource();
}

ConexionesHolder::~ConexionesHolder() {
    delete window_.data();
}

conexiones& ConexionesHolder::instance() {
    if (!window_) window_ = new conexiones(*this);
    return *window_;
}

}  // namespace varnel
