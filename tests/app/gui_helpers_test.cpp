#include "app/gui_helpers.h"
#include "support/test_support.h"
#include <QAbstractButton>
#include <QMessageBox>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <memory>

TEST(ExpandMessageBoxDetails, OpensDetailsOnlyThroughTheDetailsButtonAndOnlyWhenThereAreSome)
{
    QMessageBox box, plain;
    for (QMessageBox* b : {&box, &plain}) {
        b->addButton("Create AMBREL", QMessageBox::ActionRole); // the caller's own, ahead of the details button
        b->addButton(QMessageBox::Ok);
    }
    box.setDetailedText("line 1\nline 2");
    QMap<QString, int> clicks; // per button text, from the buttons' own signals
    for (QMessageBox* b : {&box, &plain})
        for (QAbstractButton* button : b->buttons())
            QObject::connect(button, &QAbstractButton::clicked, [&clicks, button] { ++clicks[button->text()]; });
    expandMessageBoxDetails(&plain);
    EXPECT_TRUE(clicks.isEmpty());
    for (int call = 0; call < 2; ++call) { // the second call finds the details open and leaves them so
        expandMessageBoxDetails(&box);
        EXPECT_EQ(clicks, (QMap<QString, int>{{QMessageBox::tr("Hide Details..."), 1}})); // the label flips once open
        QTextEdit* text = box.findChild<QTextEdit*>();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->size(), QSize(750, 250));
        EXPECT_TRUE(text->isVisibleTo(&box));
    }
}
