// The diagram window: its layout and its single instance.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "diagram/conexiones.h"

namespace varnel {
namespace {

int diagramWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<conexiones*>(w)) ++n;
    return n;
}

TEST(DiagramWindow, LayoutCaptionAndTabOrder) {
    ConexionesHolder holder;
    holder.show();
    conexiones& w = holder.instance();
    EXPECT_EQ(w.windowTitle(), "Form1");
    EXPECT_EQ(w.geometry(), QRect(142, 69, 761, 632));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_EQ(w.Picture1->geometry(), QRect(8, 8, 745, 577));
    EXPECT_EQ(w.Picture1->pixmap().size(), QSize(743, 571)) << "shown at its natural size";
    EXPECT_FALSE(w.Picture1->hasScaledContents());
    EXPECT_EQ(w.Picture1->alignment(), Qt::AlignLeft | Qt::AlignTop);
    EXPECT_EQ(w.Command1->geometry(), QRect(328, 592, 105, 33));
    EXPECT_EQ(w.Command1->text(), "Volver");
    EXPECT_FALSE(w.Command1->isDefault());
    EXPECT_FALSE(w.Command1->autoDefault());
    EXPECT_TRUE(w.Command1->shortcut().isEmpty());
    EXPECT_EQ(w.Picture1->nextInFocusChain(), w.Command1);
    EXPECT_FALSE(w.isModal());
    EXPECT_EQ(w.parentWidget(), nullptr);
}

TEST(DiagramWindow, ShownHiddenAndRecreatedNeverTwice) {
    ConexionesHolder holder;
    enum class State { NotCreated, Shown, Hidden };
    enum class Event { VerConexiones, Volver, CloseBox };
    struct Step {
        Event event;
        State after;
        bool sameWindow;  // the same window as before the event
    };
    const Step steps[] = {
        {Event::VerConexiones, State::Shown, false}, {Event::Volver, State::Hidden, true},
        {Event::VerConexiones, State::Shown, true},  {Event::VerConexiones, State::Shown, true},
        {Event::CloseBox, State::NotCreated, false}, {Event::VerConexiones, State::Shown, false},
        {Event::Volver, State::Hidden, true},
    };
    ASSERT_EQ(holder.existing(), nullptr) << "not created at start";
    QPointer<conexiones> before;
    int i = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE("step " + std::to_string(i++));
        before = holder.existing();
        switch (step.event) {
            case Event::VerConexiones:
                holder.show();
                break;
            case Event::Volver:
                QTest::mouseClick(holder.existing()->Command1, Qt::LeftButton);
                break;
            case Event::CloseBox:
                holder.existing()->close();
                QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                break;
        }
        conexiones* now = holder.existing();
        EXPECT_EQ(diagramWindows(), step.after == State::NotCreated ? 0 : 1);
        if (step.after == State::NotCreated) {
            EXPECT_EQ(now, nullptr);
            continue;
        }
        ASSERT_NE(now, nullptr);
        EXPECT_EQ(now->isVisible(), step.after == State::Shown);
        if (step.sameWindow)
            EXPECT_EQ(now, before.data());
        else
            EXPECT_NE(now, before.data());
    }
}

TEST(DiagramWindow, HiddenWindowComesBackWhereTheOperatorLeftIt) {
    ConexionesHolder holder;
    holder.show();
    holder.instance().move(300, 200);
    const QPoint place = holder.instance().pos();
    holder.hide();
    holder.show();
    EXPECT_EQ(holder.instance().pos(), place);
}

TEST(DiagramWindow, HolderTakesItsWindowWithIt) {
    QPointer<conexiones> window;
    {
        ConexionesHolder holder;
        holder.show();
        window = holder.existing();
    }
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(diagramWindows(), 0);
}

}  // namespace
}  // namespace varnel
