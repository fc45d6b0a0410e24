#include "app/dialog_questions.h"
#include "app/main_window_instance.h"
#include "support/model_fixture.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace testsupport;

namespace {

// Acts on the next modal dialog from the event loop of its exec(); one left open is rejected after
// two seconds, so that no test can hang on it.
void onNextDialog(std::function<void(QDialog*)> act)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            QTimer::singleShot(2000, dialog, &QDialog::reject);
            act(dialog);
        }
    });
    timer->start(10);
}

void click(QDialog* dialog, const QString& text)
{
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
        if (button->text().remove('&') == text)
            button->click();
}

} // namespace

TEST(DialogQuestions, RealDialogsReturnTheButtonPressedAndEscapeInTheFloorChooserCancels)
{
    DialogQuestions dialogs;
    onNextDialog([](QDialog* dialog) { click(dialog, "Yes"); });
    EXPECT_EQ(dialogs.question(nullptr, Questions::Warning, "Warning", "Proceed?", Questions::Yes | Questions::No,
                               Questions::No),
              Questions::Yes);
    onNextDialog([](QDialog* dialog) { click(dialog, "Re-import"); });
    EXPECT_EQ(dialogs.choice(nullptr, Questions::Question, "Newer format", "?", {"Open as-is", "Re-import"}, 0), 1);

    ProjectFixture fixture;
    Building* building = fixture.addBuilding("House");
    Floor* ground = fixture.addFloor(building, "Ground");
    fixture.addFloor(building, "Attic");
    onNextDialog([](QDialog* dialog) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog, &escape);
    });
    const FloorChoice choice = dialogs.selectFloor(building, ground);
    EXPECT_TRUE(choice.cancelled) << "not the choice None";
    EXPECT_EQ(choice.floor, nullptr);
}

// The load's question about a newer format names no parent: the application's window owns it.
TEST(DialogQuestions, TheChoiceOrCancelBoxBelongsToTheApplicationsWindow)
{
    QWidget window;
    setMainWindowInstance(&window);
    QWidget* parent = nullptr;
    onNextDialog([&parent](QDialog* dialog) {
        parent = dialog->parentWidget();
        click(dialog, "Re-import");
    });
    EXPECT_EQ(dialogQuestions().choiceOrCancel(Questions::Warning, "Newer project format", "?", "Back up first.",
                                               {{"Open as-is", Questions::AcceptRole},
                                                {"Re-import", Questions::ResetRole}}),
              1);
    EXPECT_EQ(parent, &window);
    setMainWindowInstance(nullptr);
}
