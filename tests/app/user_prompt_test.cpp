#include "app/user_prompt.h"
#include "project/floor_select_dialog.h"
#include "support/model_fixture.h"
#include "support/scripted_prompt.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace testsupport;

namespace {

// Acts on the next dialog that opens, from the event loop of its exec(); a dialog that stays open
// for two seconds is rejected, so that no test can hang on one.
void onNextDialog(std::function<void(QDialog*)> act)
{
    auto* timer = new QTimer;
    auto* tries = new int(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog && dialog->isVisible()) {
                if (++*tries > 200)
                    dialog->reject();
                else
                    act(dialog);
                timer->stop();
                timer->deleteLater();
                delete tries;
                return;
            }
        }
    });
    timer->start(10);
}

} // namespace

TEST(DialogPrompt, RealMessageBoxesReturnTheButtonPressed)
{
    DialogPrompt dialogs;
    onNextDialog([](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "Proceed?");
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_EQ(dialogs.question(nullptr, QMessageBox::Warning, "Warning", "Proceed?",
                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No),
              QMessageBox::Yes);

    onNextDialog([](QDialog* dialog) {
        auto* box = qobject_cast<QMessageBox*>(dialog);
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "Re-import")
                button->click();
    });
    EXPECT_EQ(dialogs.choice(nullptr, QMessageBox::Question, "Newer format", "?", {"Open as-is", "Re-import"}, 0), 1);
}

TEST(DialogPrompt, FloorChooserEscapeIsACancelNotNone)
{
    ProjectFixture fixture;
    Building* building = fixture.addBuilding("House");
    Floor* ground = fixture.addFloor(building, "Ground");
    fixture.addFloor(building, "Attic");
    DialogPrompt dialogs;
    onNextDialog([](QDialog* dialog) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog, &escape);
    });
    const FloorChoice choice = dialogs.selectFloor(building, ground);
    EXPECT_TRUE(choice.cancelled);
    EXPECT_EQ(choice.floor, nullptr);
}

TEST(ScriptedPrompt, AnswersInOrderAndRoutesTheFloorChooser)
{
    ProjectFixture fixture;
    Building* building = fixture.addBuilding("House");
    Floor* ground = fixture.addFloor(building, "Ground");
    ScriptedPrompt prompt;
    prompt.answerQuestion(QMessageBox::Save).answerFloor(ground, false).answerDirectory("/tmp");
    EXPECT_EQ(userPrompt().question(nullptr, QMessageBox::Question, "Unsaved changes!", "",
                                    QMessageBox::Save | QMessageBox::Discard, QMessageBox::Save),
              QMessageBox::Save);
    const FloorChoice choice = FloorSelectDialog::selectFloor(building, nullptr);
    EXPECT_EQ(choice.floor, ground);
    EXPECT_FALSE(choice.cancelled);
    EXPECT_EQ(userPrompt().existingDirectory(nullptr, "Open", ""), "/tmp");
    EXPECT_EQ(prompt.pending(), 0);
    EXPECT_EQ(prompt.asked()[0].title, "Unsaved changes!");
}
