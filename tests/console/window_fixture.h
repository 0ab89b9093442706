// A main window wired to simulated boards, with its timer stopped so a test drives the ticks.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "console/display_table.h"
#include "console/form_tolmar.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/pty_board.h"

namespace varnel::test {

class ConsoleWindow : public ::testing::Test {
  protected:
    enum class BoardOn { Port1, Port2, None };

    // A copy of the pictures that a test may change.
    QTemporaryDir pictures;
    PtyBoard board;
    std::unique_ptr<PtyBoard> silentPort1;  // with the board on port 2, port 1 answers nothing
    std::ostringstream errors;
    int endCalls = 0;
    std::unique_ptr<FormTolmar> form;

    void SetUp() override {
        ASSERT_TRUE(pictures.isValid());
        for (const DisplayRow& row : kDisplayTable) {
            const QString name = QString::fromUtf8(row.picture + 1);
            ASSERT_TRUE(QFile::copy(QStringLiteral(VARNEL_ASSETS_DIR "/") + name, picture(name)));
        }
    }

    QString picture(const QString& name) const { return pictures.path() + "/" + name; }

    void makeForm(BoardOn where = BoardOn::Port1) {
        if (where == BoardOn::Port2) silentPort1 = std::make_unique<PtyBoard>();
        if (silentPort1) silentPort1->setSilent(true);
        FormTolmarOptions options;
        options.portPaths = [this, where](int16_t port) -> std::string {
            if (where == BoardOn::Port1 && port == 1) return board.path();
            if (where == BoardOn::Port2 && port == 2) return board.path();
            if (where == BoardOn::Port2 && port == 1) return silentPort1->path();
            return "/nonexistent/ttyVARNEL" + std::to_string(port);
        };
        options.programDir = pictures.path();
        options.endProgram = [this] { ++endCalls; };
        options.errors = &errors;
        form = std::make_unique<FormTolmar>(options);
        form->Timer1->stop();
    }

    // Builds the window and runs its load handler, then forgets the start-up traffic and what
    // it said on stderr.
    void start(BoardOn where = BoardOn::Port1) {
        makeForm(where);
        form->Form_Load();
        board.clearRecords();
        errors.str("");
    }

    void setState(int16_t giro, int16_t rampa) {
        form->torre().Giro = giro;
        form->torre().Rampa = rampa;
    }

    // Picture1 shows exactly the picture file `name`.
    ::testing::AssertionResult shows(const QString& name) const {
        const QImage expected(picture(name));
        if (expected.isNull())
            return ::testing::AssertionFailure() << "cannot read " << name.toStdString();
        const QImage shown = form->Picture1->pixmap().toImage().convertToFormat(expected.format());
        if (shown == expected) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "Picture1 does not show " << name.toStdString();
    }
};

}  // namespace varnel::test
