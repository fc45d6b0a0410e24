#include "app/custom_message_box.h"
#include "app/desktop_services.h"
#include "app/export_dialog.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTextBrowser>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

DrcFinding finding(Itemizeable* subject, const QString& message, int code, QPainterPath highlight = {})
{
    return DrcFinding{subject, QStringLiteral("name"), message, highlight, code};
}

// Records what would have been opened on the desktop.
struct OpenedUrls {
    QList<QUrl> urls;
    UrlOpener previous;
    OpenedUrls()
    {
        previous = setUrlOpener([this](const QUrl& url) {
            urls << url;
            return true;
        });
    }
    ~OpenedUrls() { setUrlOpener(previous); }
};

} // namespace

TEST(ExportDialog, ListsTheFindingsNumberedFromZeroWithBlockingOnesInRed)
{
    ProjectFixture f;
    QPainterPath circle;
    circle.addEllipse(QPointF(10, 20), 250, 250);
    const QList<DrcFinding> findings{
        finding(f.property.get(), "Initial pano not set. The first enabled one will be selected.", 1),
        finding(nullptr, "Project is empty.", 0),
        finding(nullptr,
                "Highlighted scans are closer than 50 cm. <a href=\"https://help.example.invalid/v\">Adjust "
                "position or disable all but one.</a>",
                0, circle),
    };
    ExportDialog dialog(findings, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Error checking");
    QListWidget* list = dialog.findingList();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "0: Initial pano not set. The first enabled one will be selected.");
    EXPECT_EQ(list->item(1)->text(), "1: Project is empty.");
    EXPECT_EQ(list->item(2)->text(),
              "2: Highlighted scans are closer than 50 cm. Adjust position or disable all but one.");
    EXPECT_FALSE(list->item(0)->data(Qt::ForegroundRole).isValid());
    EXPECT_EQ(list->item(1)->foreground().color(), QColor(Qt::red));
    EXPECT_EQ(list->item(2)->foreground().color(), QColor(Qt::red));

    const QList<QLabel*> labels = dialog.findChildren<QLabel*>();
    ASSERT_FALSE(labels.isEmpty());
    EXPECT_EQ(labels.first()->text(), "One or more floors may have a problem.\nRead the list below and identify which "
                                      "items need to be corrected or can be ignored.");

    QList<std::pair<Itemizeable*, QPainterPath>> selected;
    QObject::connect(&dialog, &ExportDialog::errorSelected,
                     [&](Itemizeable* subject, const QPainterPath& path) { selected.append({subject, path}); });
    list->setCurrentRow(2);
    list->setCurrentRow(0);
    ASSERT_EQ(selected.size(), 2);
    EXPECT_EQ(selected[0].first, nullptr);
    EXPECT_EQ(selected[0].second, circle);
    EXPECT_EQ(selected[1].first, static_cast<Itemizeable*>(f.property.get()));
    EXPECT_TRUE(selected[1].second.isEmpty());
}

TEST(ExportDialog, IgnoreIsOfferedOnlyWhenNothingBlocks)
{
    const QList<DrcFinding> warnings{finding(nullptr, "a", 1), finding(nullptr, "b", 1)};
    ExportDialog ignorable(warnings, nullptr);
    ASSERT_NE(ignorable.ignoreButton(), nullptr);
    ASSERT_NE(ignorable.cancelButton(), nullptr);
    EXPECT_EQ(ignorable.findChildren<QPushButton*>().size(), 2);
    ignorable.ignoreButton()->click();
    EXPECT_EQ(ignorable.result(), QDialog::Accepted);
    ExportDialog cancelled(warnings, nullptr);
    cancelled.cancelButton()->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);

    ExportDialog blocked({finding(nullptr, "a", 1), finding(nullptr, "Grade level not set.", 0)}, nullptr);
    EXPECT_EQ(blocked.ignoreButton(), nullptr);
    EXPECT_EQ(blocked.findChildren<QPushButton*>().size(), 1);
    blocked.cancelButton()->click();
    EXPECT_EQ(blocked.result(), QDialog::Rejected);
}

TEST(ExportSuccessBox, CreateAmbrelOpensTheExportFolderAndThePortalsNewTourPage)
{
    OpenedUrls opened;
    QSettings().remove(kPortalUrlKey);
    ExportSuccessBox box("/projects/Villa/_Export", "<p>Ground: <b>25 cm</b></p>", nullptr);
    EXPECT_EQ(box.windowTitle(), "Quoril");
    EXPECT_TRUE(box.text().contains("/projects/Villa/_Export"));
    EXPECT_TRUE(box.details()->toPlainText().contains("Ground: 25 cm"));
    ASSERT_NE(box.createAmbrelButton(), nullptr);
    EXPECT_EQ(box.createAmbrelButton()->text(), "Create AMBREL");

    box.createAmbrelButton()->click();
    ASSERT_EQ(opened.urls.size(), 2);
    EXPECT_EQ(opened.urls[0], QUrl::fromLocalFile("/projects/Villa/_Export"));
    EXPECT_EQ(opened.urls[1], QUrl("https://portal.example.invalid/ambrels/new"));
    EXPECT_EQ(box.result(), QDialog::Accepted);

    // The portal's address is a setting.
    QSettings().setValue(kPortalUrlKey, "https://tours.example.invalid/eu/");
    EXPECT_EQ(portalNewTourUrl(), QUrl("https://tours.example.invalid/eu/ambrels/new"));
    QSettings().remove(kPortalUrlKey);
}
