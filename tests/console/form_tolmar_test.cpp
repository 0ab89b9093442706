// The main window: layout, start-up, the motion buttons and the ways out.
#include <QTest>

#include "diagram/conexiones.h"

#include "tests/console/window_fixture.h"
#include "tests/support/hold_key.h"

namespace varnel::test {
namespace {

TEST_F(ConsoleWindow, LayoutCaptionsAndTabOrder) {
    makeForm(BoardOn::None);
    EXPECT_EQ(form->windowTitle(), "VARNEL");
    EXPECT_EQ(form->size(), QSize(707, 325));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "fixed size";
    struct Control {
        QWidget* widget;
        const char* caption;
        QRect geometry;
    };
    const Control controls[] = {
        {form->Command1, "Subir Rampa", {152, 56, 113, 49}},
        {form->Command2, "Bajar Rampa", {152, 184, 113, 49}},
        {form->Command3, "Giro Izquierda", {24, 120, 113, 49}},
        {form->Command4, "Giro Derecha", {280, 120, 129, 49}},
        {form->Command5, "Parar TODO", {152, 120, 113, 49}},
        {form->Picture1, nullptr, {424, 40, 225, 233}},
        {form->Command6, "SALIR", {16, 280, 73, 33}},
        {form->Command7, "Ver Conexiones", {280, 280, 137, 41}},
    };
    for (size_t i = 0; i < std::size(controls); ++i) {
        const Control& c = controls[i];
        EXPECT_EQ(c.widget->geometry(), c.geometry) << i;
        if (c.caption) {
            EXPECT_EQ(static_cast<QPushButton*>(c.widget)->text(), c.caption);
        }
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(c.geometry.intersects(controls[j].geometry)) << i << " overlaps " << j;
        // Tab order: each control's successor among focusable widgets is the next one.
        if (i + 1 < std::size(controls)) {
            QWidget* next = c.widget->nextInFocusChain();
            while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
            EXPECT_EQ(next, controls[i + 1].widget) << "tab after control " << i;
        }
    }
    EXPECT_TRUE(form->Picture1->pixmap().isNull()) << "no picture before the load handler";
    EXPECT_EQ(form->Timer1->interval(), 10);
    // Command1 holds the window's focus from the start, and has the keyboard focus once the
    // window is shown and active.
    EXPECT_EQ(form->focusWidget(), form->Command1);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    EXPECT_EQ(QApplication::focusWidget(), form->Command1);
}

TEST_F(ConsoleWindow, TimerRunsFromTheMomentTheWindowIsBuilt) {
    FormTolmarOptions options;
    options.portPaths = [](int16_t) { return std::string("/nonexistent/tty"); };
    FormTolmar built(options);
    EXPECT_TRUE(built.Timer1->isActive());
    EXPECT_EQ(built.Timer1->interval(), 10);
}

TEST_F(ConsoleWindow, StartUpWithTheBoardOnPort1) {
    makeForm(BoardOn::Port1);
    form->Form_Load();
    EXPECT_EQ(board.line(), (Line{toBoard(0xFF), fromBoard(0xF0)} + commandLine(0x00)));
    EXPECT_EQ(form->link().PuertoActivo(), 1);
    EXPECT_EQ(form->torre().Giro, 0);
    EXPECT_EQ(form->torre().Rampa, 0);
    EXPECT_TRUE(shows("torre.jpg"));
    EXPECT_EQ(form->Command3->text(), "Giro Izquierda") << "design captions until the first tick";
    EXPECT_EQ(form->Command4->text(), "Giro Derecha");
    EXPECT_TRUE(errors.str().empty()) << errors.str();
}

TEST_F(ConsoleWindow, StartUpWithTheBoardOnlyOnPort2TriesPort1First) {
    makeForm(BoardOn::Port2);
    form->Form_Load();
    EXPECT_EQ(silentPort1->received(), bytes({0xFF}));
    EXPECT_EQ(board.line(), (Line{toBoard(0xFF), fromBoard(0xF0)} + commandLine(0x00)));
    EXPECT_EQ(form->link().PuertoActivo(), 2);
}

TEST_F(ConsoleWindow, StartUpWithNoBoard) {
    makeForm(BoardOn::None);
    form->Form_Load();
    EXPECT_EQ(form->link().PuertoActivo(), -1);
    EXPECT_TRUE(board.received().empty());
    EXPECT_TRUE(shows("torre.jpg"));
    EXPECT_EQ(form->Command1->text(), "Subir Rampa");
    EXPECT_EQ(errors.str(),
              "VARNEL: Form_Load: no board found: serial port 1 (/nonexistent/ttyVARNEL1): no "
              "such port; serial port 2 (/nonexistent/ttyVARNEL2): no such port\n")
        << "said once, naming each port and why";
    for (int i = 0; i < 5; ++i) form->Timer1_Timer();
    EXPECT_EQ(errors.str().find("Timer1_Timer"), std::string::npos) << errors.str();
}

TEST_F(ConsoleWindow, MissingStartUpPictureIsReportedAndLeavesThePictureEmpty) {
    QFile::remove(picture("torre.jpg"));
    makeForm(BoardOn::Port1);
    form->Form_Load();
    EXPECT_TRUE(form->Picture1->pixmap().isNull());
    EXPECT_EQ(errors.str(), "VARNEL: Form_Load: cannot load picture " +
                                picture("torre.jpg").toStdString() + "\n");
    EXPECT_EQ(board.commands(), std::vector<unsigned char>{0x00}) << "the stop went out first";
}

// Every state and press: the new codes and the byte on the line.
TEST_F(ConsoleWindow, MotionButtonsInEveryState) {
    start();
    QPushButton* buttons[] = {form->Command1, form->Command2, form->Command3, form->Command4,
                              form->Command5};
    for (int16_t giro : {0, 1, 17}) {
        for (int16_t rampa : {0, 2, 34}) {
            for (int b = 0; b < 5; ++b) {
                int16_t newGiro = giro, newRampa = rampa;
                switch (b) {
                    case 0:
                        newRampa = rampa == 34 ? 0 : 34;
                        break;
                    case 1:
                        newRampa = rampa == 2 ? 0 : 2;
                        break;
                    case 2:
                        newGiro = giro == 17 ? 0 : 17;
                        break;
                    case 3:
                        newGiro = giro == 1 ? 0 : 1;
                        break;
                    default:
                        newGiro = 0, newRampa = 0;
                        break;
                }
                setState(giro, rampa);
                board.clearRecords();
                QTest::mouseClick(buttons[b], Qt::LeftButton);
                SCOPED_TRACE("state " + std::to_string(giro) + "/" + std::to_string(rampa) +
                             ", Command" + std::to_string(b + 1));
                EXPECT_EQ(form->torre().Giro, newGiro);
                EXPECT_EQ(form->torre().Rampa, newRampa);
                EXPECT_EQ(board.line(), commandLine(newGiro + newRampa));
            }
        }
    }
    EXPECT_EQ(form->Command3->text(), "Giro Izquierda") << "presses change no caption";
}

TEST_F(ConsoleWindow, SpotChecksOfTheButtonTable) {
    // Hand-written rows, so a slip shared by the code and the loop above still shows.
    struct Press {
        int16_t giro, rampa;
        QPushButton* FormTolmar::*button;
        int sent;
    };
    const Press presses[] = {
        {0, 0, &FormTolmar::Command1, 0x22},  {1, 0, &FormTolmar::Command1, 0x23},
        {17, 2, &FormTolmar::Command1, 0x33}, {17, 34, &FormTolmar::Command2, 0x13},
        {1, 34, &FormTolmar::Command3, 0x33}, {1, 2, &FormTolmar::Command4, 0x02},
        {17, 0, &FormTolmar::Command4, 0x01}, {17, 34, &FormTolmar::Command5, 0x00}};
    start();
    for (const Press& p : presses) {
        setState(p.giro, p.rampa);
        board.clearRecords();
        QTest::mouseClick((*form).*p.button, Qt::LeftButton);
        EXPECT_EQ(board.commands(), std::vector<unsigned char>{static_cast<unsigned char>(p.sent)});
    }
    // Two presses of one button before any tick: start, then stop.
    setState(17, 0);
    board.clearRecords();
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_EQ(board.commands(), (std::vector<unsigned char>{0x33, 0x11}));
}

// A button with the focus acts on Enter (either key) as on Space, although the window has no
// default button.
TEST_F(ConsoleWindow, FocusedButtonActsOnEnterAndSpace) {
    start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    struct Press {
        QPushButton* FormTolmar::*button;
        int16_t giro, rampa;  // before
        int sent;             // after, also the new Giro + Rampa
    };
    const Press presses[] = {{&FormTolmar::Command5, 17, 34, 0x00},
                             {&FormTolmar::Command1, 1, 0, 0x23}};
    for (const Press& p : presses) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
            SCOPED_TRACE(((*form).*p.button)->text().toStdString() + ", key " +
                         std::to_string(key));
            setState(p.giro, p.rampa);
            board.clearRecords();
            ((*form).*p.button)->setFocus();
            ASSERT_EQ(QApplication::focusWidget(), (*form).*p.button);
            QTest::keyClick(QApplication::focusWidget(), key);
            EXPECT_EQ(form->torre().Orden(), p.sent);
            EXPECT_EQ(board.commands(),
                      std::vector<unsigned char>{static_cast<unsigned char>(p.sent)});
        }
    }
    EXPECT_EQ(endCalls, 0);
}

// A key held down on a focused button repeats, as the window system sends it; the button acts once
// per press, for Enter as for Space.
TEST_F(ConsoleWindow, HeldKeyOnAFocusedButtonActsOnce) {
    start();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        SCOPED_TRACE("key " + std::to_string(key));
        setState(0, 0);
        board.clearRecords();
        form->Command1->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), form->Command1);
        holdKey(form->Command1, key, 14);
        EXPECT_EQ(board.commands(), std::vector<unsigned char>{0x22}) << "one press, one command";
        EXPECT_EQ(form->torre().Rampa, 34);
    }
}

TEST_F(ConsoleWindow, ButtonsWithNoBoardChangeTheStateAndWriteNothing) {
    start(BoardOn::None);
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_EQ(form->torre().Giro, 17);
    EXPECT_EQ(form->torre().Rampa, 34);
    form->Timer1_Timer();
    EXPECT_TRUE(shows("izqarr.jpg"));
    EXPECT_TRUE(board.received().empty());
}

TEST_F(ConsoleWindow, SalirSendsStopThenEndsWithNoTickAfter) {
    start();
    setState(17, 34);
    form->Timer1->start();
    QTest::mouseClick(form->Command6, Qt::LeftButton);
    // On a sound line the stop goes out twice: two acknowledged in a row make sure of it.
    const Line stop = commandLine(0x00) + commandLine(0x00);
    EXPECT_EQ(board.line(), stop);
    EXPECT_EQ(endCalls, 1);
    EXPECT_TRUE(form->ended());
    EXPECT_FALSE(form->Timer1->isActive());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->torre().Giro, 17) << "the codes are left as they were";
    // Nothing of the program runs any more: not a due tick, not a queued click.
    QTest::qWait(50);
    form->Timer1_Timer();
    form->Command1_Click();
    form->Command6_Click();
    EXPECT_EQ(board.line(), stop);
    EXPECT_EQ(endCalls, 1);
}

// "SALIR" clicked while the board still owes the answer to a tick's command header: the board
// is waiting for a command byte, and still ends stopped, with nothing to report.
TEST_F(ConsoleWindow, SalirAfterAHeaderAnsweredLateStillLeavesTheBoardStopped) {
    start();
    setState(17, 34);
    board.lateNextHeader(std::chrono::milliseconds(100));
    form->Timer1_Timer();  // its command handshake gives up on the late answer
    ASSERT_EQ(board.lateHeaders(), 1);
    QTest::mouseClick(form->Command6, Qt::LeftButton);
    EXPECT_EQ(endCalls, 1);
    ASSERT_FALSE(board.commands().empty());
    EXPECT_EQ(board.commands().back(), 0x00);
    EXPECT_EQ(errors.str(), "");
}

TEST_F(ConsoleWindow, ClosingTheWindowStopsTheMotorsAndEnds) {
    start();
    setState(1, 2);
    form->show();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(board.line(), commandLine(0x00) + commandLine(0x00));
    EXPECT_EQ(endCalls, 1);
    EXPECT_TRUE(form->ended());
}

TEST_F(ConsoleWindow, SalirEndsEvenWhenTheBoardIsSilentOrGone) {
    start();
    board.setSilent(true);
    form->Command6_Click();
    EXPECT_EQ(endCalls, 1);
    // Only headers, each unanswered, and no more of them than the tries allow.
    const std::string sent = board.received();
    EXPECT_GE(sent.size(), 1u);
    EXPECT_LE(sent.size(), static_cast<size_t>(Module1_Torre::kStopTries));
    EXPECT_EQ(sent, std::string(sent.size(), '\xAA'));
    EXPECT_EQ(errors.str(),
              "VARNEL: Command6_Click: the board did not acknowledge the stop command; the "
              "motors may still be running\n");

    // Gone: the stop cannot be sent at all, and the operator is told so.
    board.setSilent(false);
    start();
    board.unplug();
    form->Command6_Click();
    EXPECT_EQ(endCalls, 2);
    const std::string told = errors.str();
    EXPECT_EQ(told.rfind("VARNEL: Command6_Click: the stop command was not sent (serial port 1", 0),
              0u)
        << told;
    EXPECT_NE(told.find("disconnected); the motors may still be running\n"), std::string::npos)
        << told;
}

TEST_F(ConsoleWindow, SerialErrorsInHandlersAreReportedOnceAndTheProgramGoesOn) {
    start();
    board.unplug();
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    for (int i = 0; i < 5; ++i) form->Timer1_Timer();
    const std::string text = errors.str();
    EXPECT_EQ(text.rfind("VARNEL: Command1_Click: serial port 1", 0), 0u) << text;
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("VARNEL: Command1_Click:"), 1u) << text;
    EXPECT_EQ(count("VARNEL: Timer1_Timer:"), 1u) << text;
    EXPECT_EQ(count("disconnected"), 2u) << text;
    EXPECT_EQ(form->torre().Rampa, 0) << "the second press was handled on the stored state";
    form->Command6_Click();
    EXPECT_EQ(endCalls, 1) << "SALIR still ends the program";
}

}  // namespace
}  // namespace varnel::test

namespace varnel::test {
namespace {

int diagramWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<conexiones*>(w)) ++n;
    return n;
}

TEST_F(ConsoleWindow, DiagramIsModelessAndSendsNothing) {
    start();
    form->show();
    QTest::mouseClick(form->Command7, Qt::LeftButton);
    ASSERT_NE(form->conexiones().existing(), nullptr);
    EXPECT_TRUE(form->conexiones().existing()->isVisible());
    EXPECT_TRUE(board.received().empty()) << "opening the diagram sends nothing";
    QTest::mouseClick(form->Command7, Qt::LeftButton);
    EXPECT_EQ(diagramWindows(), 1);
    // The console goes on while the diagram is shown.
    board.setInput(0x04);
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    form->Timer1_Timer();
    form->Timer1_Timer();
    EXPECT_EQ(board.line(), commandLine(17) + inputLine(0x04) + commandLine(19) + inputLine(0x04) +
                                commandLine(19));
    EXPECT_TRUE(shows("izqabj.jpg"));
    board.clearRecords();
    QTest::mouseClick(form->conexiones().existing()->Command1, Qt::LeftButton);
    EXPECT_FALSE(form->conexiones().existing()->isVisible());
    EXPECT_TRUE(board.received().empty()) << "Volver sends nothing";
    EXPECT_EQ(form->torre().Giro, 17);
}

TEST_F(ConsoleWindow, EndingTakesTheDiagramWindowAlong) {
    for (bool shown : {true, false}) {
        start();
        form->Command7_Click();
        if (!shown) form->conexiones().hide();
        ASSERT_EQ(diagramWindows(), 1);
        if (shown)
            form->Command6_Click();
        else
            form->close();
        EXPECT_EQ(diagramWindows(), 0) << (shown ? "SALIR" : "close");
        EXPECT_TRUE(form->ended());
        form.reset();
    }
}

}  // namespace
}  // namespace varnel::test
