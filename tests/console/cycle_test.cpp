// The 10 ms cycle: what each tick shows, reads, decides and sends.
#include <QTest>

#include "tests/console/window_fixture.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

TEST_F(ConsoleWindow, EachStateShowsItsPictureAndCaptions) {
    start(BoardOn::None);
    for (const DisplayRow& row : kDisplayTable) {
        setState(row.giro, row.rampa);
        form->Timer1_Timer();
        SCOPED_TRACE(row.picture);
        EXPECT_TRUE(shows(QString::fromUtf8(row.picture + 1)));
        EXPECT_EQ(form->Command3->text(), row.command3);
        EXPECT_EQ(form->Command4->text(), row.command4);
        EXPECT_EQ(form->Command1->text(), row.command1);
        EXPECT_EQ(form->Command2->text(), row.command2);
        EXPECT_EQ(form->Command5->text(), "Parar TODO");
    }
    // A pair in no row changes nothing and opens no file.
    const QImage before = form->Picture1->pixmap().toImage();
    ASSERT_TRUE(QFile::remove(picture("torre.jpg")));
    setState(18, 3);
    form->Timer1_Timer();
    EXPECT_EQ(form->Picture1->pixmap().toImage(), before);
    EXPECT_EQ(form->Command3->text(), "Girar Izquierda");
    EXPECT_TRUE(errors.str().empty()) << errors.str();
}

TEST_F(ConsoleWindow, FirstTickReplacesTheTurnButtonsDesignCaptions) {
    start();
    form->Timer1_Timer();
    EXPECT_EQ(form->Command3->text(), "Girar Izquierda");
    EXPECT_EQ(form->Command4->text(), "Girar Derecha");
    EXPECT_EQ(form->Command1->text(), "Subir Rampa");
    EXPECT_EQ(form->Command2->text(), "Bajar Rampa");
}

TEST_F(ConsoleWindow, PictureIsReadFromDiskOnEveryTick) {
    start(BoardOn::None);
    form->Timer1_Timer();
    EXPECT_TRUE(shows("torre.jpg"));
    ASSERT_TRUE(QFile::remove(picture("torre.jpg")));
    ASSERT_TRUE(QFile::copy(picture("abj.jpg"), picture("torre.jpg")));
    form->Timer1_Timer();
    EXPECT_TRUE(shows("abj.jpg")) << "a file replaced on disk shows from the next tick";
}

TEST_F(ConsoleWindow, EachTickReadsThenSendsAndRulesReachTheLineAtOnceAndTheScreenNext) {
    start();
    board.setInput(0x05);
    form->Timer1_Timer();
    EXPECT_EQ(board.line(), inputLine(0x05) + commandLine(35)) << "rule applied in the same tick";
    EXPECT_EQ(form->Command4->text(), "Girar Derecha") << "but the screen shows it a tick later";
    EXPECT_TRUE(shows("torre.jpg"));
    form->Timer1_Timer();
    EXPECT_EQ(form->Command4->text(), "Parar Giro");
    EXPECT_EQ(form->Command1->text(), "Parar Rampa");
    EXPECT_TRUE(shows("dchaarr.jpg"));
    // Back to 0: the codes stay with the buttons.
    board.setInput(0x00);
    board.clearRecords();
    form->Timer1_Timer();
    EXPECT_EQ(board.line(), inputLine(0x00) + commandLine(35));
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    board.clearRecords();
    form->Timer1_Timer();
    EXPECT_EQ(board.line(), inputLine(0x00) + commandLine(0));
}

TEST_F(ConsoleWindow, RulesOverrideAButtonOnTheNextTickAndAFailedReadKeepsTheLastValue) {
    start();
    board.setInput(0x02);
    form->Timer1_Timer();
    ASSERT_EQ(form->torre().Giro, 17);
    // The board stops answering: reads fail, value 2 goes on acting.
    board.setInput(0x00);
    board.setSilent(true);
    board.clearRecords();
    form->Timer1_Timer();
    EXPECT_EQ(form->link().Entradas(), 2);
    board.setSilent(false);
    board.setInput(0x02);
    board.clearRecords();
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    EXPECT_EQ(board.commands(), std::vector<unsigned char>{0x01}) << "the press is sent at once";
    form->Timer1_Timer();
    EXPECT_EQ(board.commands(), (std::vector<unsigned char>{0x01, 0x11}))
        << "and the next tick sets the turn back";
}

TEST_F(ConsoleWindow, SilentBoardCostsOneWaitPerHandshakeAndTheCycleResumes) {
    start();
    board.setInput(0x08);
    form->Timer1_Timer();
    board.setSilent(true);
    board.clearRecords();
    form->Timer1_Timer();
    EXPECT_EQ(board.received(), bytes({0xCC, 0xAA}));
    EXPECT_EQ(form->torre().Rampa, 34) << "value 8 still acts";
    board.setSilent(false);
    board.clearRecords();
    form->Timer1_Timer();
    EXPECT_EQ(board.line(), inputLine(0x08) + commandLine(34));
    EXPECT_TRUE(errors.str().empty()) << errors.str();
}

TEST_F(ConsoleWindow, BoardThatStopsAnsweringIsToldOnceAndSoIsItsReturn) {
    start();
    form->Timer1_Timer();
    board.setSilent(true);
    const std::string lost = "VARNEL: Timer1_Timer: the board on serial port 1 (" + board.path() +
                             ") stopped acknowledging; the motors may not follow the console\n";
    for (int i = 0; i < BoardWatch::kTicksToLost - 1; ++i) form->Timer1_Timer();
    EXPECT_EQ(errors.str(), "") << "a missed tick or two is not a lost board";
    for (int i = 0; i < 3; ++i) form->Timer1_Timer();
    EXPECT_EQ(errors.str(), lost);
    board.setSilent(false);
    for (int i = 0; i < 3; ++i) form->Timer1_Timer();
    EXPECT_EQ(errors.str(), lost + "VARNEL: Timer1_Timer: the board on serial port 1 (" +
                                board.path() + ") acknowledges again\n");
}

TEST_F(ConsoleWindow, MissingPictureIsReportedOnceAndTheTickGoesOn) {
    start();
    form->Timer1_Timer();
    const QString shown = picture("torre.jpg");
    ASSERT_TRUE(QFile::remove(shown));
    board.setInput(0x01);
    board.clearRecords();
    for (int i = 0; i < 3; ++i) form->Timer1_Timer();
    EXPECT_EQ(errors.str(),
              "VARNEL: Timer1_Timer: cannot load picture " + shown.toStdString() + "\n");
    EXPECT_EQ(board.commands(), (std::vector<unsigned char>{0x01, 0x01, 0x01}))
        << "the rules and the resend still run";
    // Ticks one and two found (0,0) and no picture; the third shows dcha.jpg.
    EXPECT_TRUE(shows("dcha.jpg"));
    EXPECT_EQ(form->Command4->text(), "Parar Giro");
}

TEST_F(ConsoleWindow, FailedPictureKeepsThePreviousPictureAndCaptions) {
    start(BoardOn::None);
    setState(17, 0);
    form->Timer1_Timer();
    ASSERT_TRUE(QFile::remove(picture("izqarr.jpg")));
    QFile bad(picture("izqarr.jpg"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    setState(17, 34);
    form->Timer1_Timer();
    EXPECT_TRUE(shows("izq.jpg"));
    EXPECT_EQ(form->Command1->text(), "Subir Rampa");
    EXPECT_NE(errors.str().find("izqarr.jpg"), std::string::npos);
}

TEST_F(ConsoleWindow, TheTimerDrivesTheCycleOnItsOwn) {
    start();
    board.setInput(0x09);
    form->Timer1->start();
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (board.commands().size() < 5 && std::chrono::steady_clock::now() < deadline)
        QTest::qWait(10);
    ASSERT_GE(board.commands().size(), 5u);
    EXPECT_EQ(board.commands().back(), 0x03) << "value 9: right and lowering";
}

}  // namespace
}  // namespace varnel::test
