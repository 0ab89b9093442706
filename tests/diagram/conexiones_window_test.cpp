// The diagram window: its design, its single instance, and showing, hiding and closing it.
#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "diagram/conexiones.h"
#include "tests/support/hold_key.h"

namespace varnel {
namespace {

const QRect kFirstUseGeometry(142, 69, 761, 632);

int topLevelDiagramWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<conexiones*>(w) != nullptr) ++n;
    return n;
}

void deleteClosedWindows() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The controls that take the focus with Tab, in the order Tab visits them.
std::vector<QWidget*> tabOrder(QWidget* window) {
    std::vector<QWidget*> order;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) != 0) order.push_back(w);
    return order;
}

TEST(ConexionesWindow, DesignOfTheWindowAndItsControls) {
    ConexionesHolder holder;
    conexiones& w = holder.instance();

    EXPECT_EQ(w.windowTitle(), QStringLiteral("Form1"));
    EXPECT_TRUE(w.isWindow());
    EXPECT_EQ(w.parentWidget(), nullptr);
    EXPECT_EQ(w.windowModality(), Qt::NonModal);
    EXPECT_EQ(w.geometry(), kFirstUseGeometry);
    EXPECT_EQ(w.minimumSize(), QSize(761, 632));
    EXPECT_EQ(w.maximumSize(), QSize(761, 632));

    EXPECT_EQ(w.Picture1->parentWidget(), &w);
    EXPECT_EQ(w.Picture1->geometry(), QRect(8, 8, 745, 577));
    EXPECT_EQ(w.Picture1->pixmap().size(), QSize(743, 571));
    EXPECT_EQ(w.Picture1->alignment(), Qt::AlignLeft | Qt::AlignTop);
    EXPECT_FALSE(w.Picture1->hasScaledContents());
    EXPECT_EQ(w.Picture1->focusPolicy(), Qt::StrongFocus);

    EXPECT_EQ(w.Command1->parentWidget(), &w);
    EXPECT_EQ(w.Command1->geometry(), QRect(328, 592, 105, 33));
    EXPECT_EQ(w.Command1->text(), QStringLiteral("Volver"));  // no '&': no access key
    EXPECT_TRUE(w.Command1->shortcut().isEmpty());
    EXPECT_FALSE(w.Command1->isDefault());
    EXPECT_FALSE(w.Command1->autoDefault());

    EXPECT_EQ(tabOrder(&w), (std::vector<QWidget*>{w.Picture1, w.Command1}));
}

TEST(ConexionesWindow, ShownWithTheDiagramUnscaledAndThePictureFocused) {
    ConexionesHolder holder;
    holder.show();
    conexiones& w = holder.instance();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(w.geometry(), kFirstUseGeometry);
    EXPECT_EQ(QApplication::focusWidget(), w.Picture1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The diagram's pixels sit at the picture box's corner (8, 8), one for one.
    const QImage diagram = w.Picture1->pixmap().toImage();
    const QImage shown = w.grab().toImage();
    for (QPoint p :
         {QPoint(0, 0), QPoint(553, 400), QPoint(188, 300), QPoint(742, 570), QPoint(13, 148)})
        EXPECT_EQ(shown.pixelColor(p + QPoint(8, 8)), diagram.pixelColor(p))
            << "diagram pixel (" << p.x() << ", " << p.y() << ")";
}

TEST(ConexionesWindow, NoDefaultCancelOrAccessKeyForVolver) {
    ConexionesHolder holder;
    holder.show();
    conexiones& w = holder.instance();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QSignalSpy clicks(w.Command1, &QPushButton::clicked);
    QTest::keyClick(w.Picture1, Qt::Key_Return);
    QTest::keyClick(w.Picture1, Qt::Key_Enter);
    QTest::keyClick(w.Picture1, Qt::Key_Escape);
    QTest::keyClick(&w, Qt::Key_V, Qt::AltModifier);
    // A button pressed from the keyboard releases 100 ms later, so give it time to click.
    EXPECT_FALSE(clicks.wait(300));
    EXPECT_EQ(clicks.count(), 0);
    EXPECT_TRUE(w.isVisible());
}

// "Volver" with the focus acts on Enter (either key) and Space: once per press, also when the key
// is held down and repeats.
TEST(ConexionesWindow, VolverWithTheFocusHidesOnEnterAndSpaceOncePerPress) {
    for (bool held : {false, true}) {
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
            SCOPED_TRACE(std::string(held ? "held " : "") + "key " + std::to_string(key));
            ConexionesHolder holder;
            holder.show();
            conexiones& w = holder.instance();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
            w.Command1->setFocus();
            ASSERT_EQ(QApplication::focusWidget(), w.Command1);
            QSignalSpy clicks(w.Command1, &QPushButton::clicked);
            if (held)
                test::holdKey(w.Command1, key, 14);
            else
                QTest::keyClick(w.Command1, key);
            EXPECT_EQ(clicks.count(), 1);
            EXPECT_FALSE(w.isVisible());
        }
    }
}

TEST(ConexionesWindow, VolverHidesTheSingleInstance) {
    ConexionesHolder holder;
    holder.show();
    conexiones& w = holder.instance();
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(holder.existing(), &w);
}

// "Volver" runs through the handler guard: a failure is reported once, under the handler's name,
// and goes no further than the click.
TEST(ConexionesWindow, FailureInVolverIsReportedOnceAndStopsThere) {
    struct FailingHolder : ConexionesHolder {
        using ConexionesHolder::ConexionesHolder;
        void hide() override { throw std::runtime_error("cannot hide"); }
    };
    std::ostringstream errors;
    FailingHolder holder(errors);
    holder.show();
    for (int i = 0; i < 3; ++i) {
        EXPECT_NO_THROW(QTest::mouseClick(holder.existing()->Command1, Qt::LeftButton));
    }
    EXPECT_EQ(errors.str(), "VARNEL: Command1_Click: cannot hide\n");
    EXPECT_TRUE(holder.existing()->isVisible());
}

// The life of the window: created on first show, then shown and hidden, never duplicated;
// a close through the window system destroys it and the next show starts afresh.
TEST(ConexionesWindow, ShownHiddenAndRecreated) {
    enum class Action { Show, Volver, Hide, MoveThenHide, Close };
    enum class State { NotCreated, Shown, Hidden };
    enum class Window { None, New, Same };
    struct Step {
        const char* name;
        Action action;
        State after;
        Window window;
    };
    const Step steps[] = {
        {"not created, show: created and shown", Action::Show, State::Shown, Window::New},
        {"shown, Volver: hidden", Action::Volver, State::Hidden, Window::Same},
        {"hidden, show: the same window again", Action::Show, State::Shown, Window::Same},
        {"shown, show: no second window", Action::Show, State::Shown, Window::Same},
        {"shown, moved by the operator, hide: hidden", Action::MoveThenHide, State::Hidden,
         Window::Same},
        {"hidden, show: where it was left", Action::Show, State::Shown, Window::Same},
        {"shown, closed: not created", Action::Close, State::NotCreated, Window::None},
        {"not created, show: a new window as on first use", Action::Show, State::Shown,
         Window::New},
        {"shown, closed again: not created", Action::Close, State::NotCreated, Window::None},
        {"not created, hide: created but not shown", Action::Hide, State::Hidden, Window::New},
    };

    ConexionesHolder holder;
    QPointer<conexiones> previous;
    QRect previousGeometry;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        switch (step.action) {
            case Action::Show:
                holder.show();
                break;
            case Action::Volver:
                QTest::mouseClick(holder.existing()->Command1, Qt::LeftButton);
                break;
            case Action::Hide:
                holder.hide();
                break;
            case Action::MoveThenHide:
                holder.existing()->move(300, 200);
                previousGeometry = holder.existing()->geometry();
                holder.hide();
                break;
            case Action::Close:
                EXPECT_TRUE(holder.existing()->close());
                break;
        }
        deleteClosedWindows();

        conexiones* now = holder.existing();
        EXPECT_EQ(topLevelDiagramWindows(), step.after == State::NotCreated ? 0 : 1);
        switch (step.after) {
            case State::NotCreated:
                EXPECT_EQ(now, nullptr);
                EXPECT_TRUE(previous.isNull()) << "the closed window was not destroyed";
                break;
            case State::Shown:
            case State::Hidden:
                ASSERT_NE(now, nullptr);
                EXPECT_EQ(now->isVisible(), step.after == State::Shown);
                break;
        }
        if (step.window == Window::New) {
            EXPECT_TRUE(previous.isNull());
            EXPECT_EQ(now->geometry(), kFirstUseGeometry);
            EXPECT_EQ(now->focusWidget(), now->Picture1);
        }
        if (step.window == Window::Same) {
            EXPECT_EQ(now, previous.data());
            EXPECT_EQ(now->geometry(), previousGeometry);
        }
        previous = now;
        if (now != nullptr) previousGeometry = now->geometry();
    }
}

TEST(ConexionesWindow, ClosedWindowCountsAsGoneBeforeTheEventLoopDeletesIt) {
    ConexionesHolder holder;
    holder.show();
    QPointer<conexiones> closed = holder.existing();
    closed->move(300, 200);
    closed->close();
    EXPECT_EQ(holder.existing(), nullptr);

    holder.show();  // before the closed one is deleted
    conexiones* fresh = holder.existing();
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, closed.data());
    EXPECT_EQ(fresh->geometry(), kFirstUseGeometry);

    deleteClosedWindows();
    EXPECT_TRUE(closed.isNull());
    EXPECT_EQ(holder.existing(), fresh);
    EXPECT_TRUE(fresh->isVisible());
    EXPECT_EQ(topLevelDiagramWindows(), 1);
}

TEST(ConexionesWindow, HolderDestroysTheWindowShownOrHidden) {
    for (bool shown : {true, false}) {
        QPointer<conexiones> window;
        {
            ConexionesHolder holder;
            holder.show();
            if (!shown) holder.hide();
            window = holder.existing();
            ASSERT_FALSE(window.isNull());
        }
        EXPECT_TRUE(window.isNull()) << (shown ? "shown" : "hidden");
    }
    EXPECT_EQ(topLevelDiagramWindows(), 0);
}

TEST(ConexionesWindow, HolderAlsoDestroysAClosedWindowNotYetDeleted) {
    QPointer<conexiones> closed, fresh;
    {
        ConexionesHolder holder;
        holder.show();
        closed = holder.existing();
        closed->close();  // deletion is only queued: no event loop runs here
        holder.show();
        fresh = holder.existing();
        ASSERT_FALSE(closed.isNull());
        ASSERT_NE(fresh.data(), closed.data());
    }
    EXPECT_TRUE(closed.isNull());
    EXPECT_TRUE(fresh.isNull());
    EXPECT_EQ(topLevelDiagramWindows(), 0);
}

TEST(ConexionesWindow, NothingIsCreatedUntilFirstUse) {
    ConexionesHolder holder;
    EXPECT_EQ(holder.existing(), nullptr);
    EXPECT_EQ(topLevelDiagramWindows(), 0);
}

}  // namespace
}  // namespace varnel
