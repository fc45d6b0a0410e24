#include "app/custom_message_box.h"

#include "app/desktop_services.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QUrl>

CustomMessageBox::CustomMessageBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                                   const QString& htmlDetails, QWidget* parent)
    : QDialog(parent), m_text(text)
{
    setWindowTitle(title);
    auto* iconLabel = new QLabel(this);
    iconLabel->setPixmap(QMessageBox::standardIcon(icon));
    auto* textLabel = new QLabel(text, this);
    textLabel->setWordWrap(true);
    textLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_details = new QTextBrowser(this);
    m_details->setOpenExternalLinks(true);
    m_details->setHtml(htmlDetails);
    m_details->setVisible(!htmlDetails.isEmpty());
    m_details->setFixedSize(750, 250);
    m_buttons = new QDialogButtonBox(this);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QGridLayout(this);
    layout->addWidget(iconLabel, 0, 0, Qt::AlignTop);
    layout->addWidget(textLabel, 0, 1);
    layout->addWidget(m_details, 1, 0, 1, 2);
    layout->addWidget(m_buttons, 2, 0, 1, 2);
}

QPushButton* CustomMessageBox::addButton(const QString& text, QDialogButtonBox::ButtonRole role)
{
    return m_buttons->addButton(text, role);
}

QPushButton* CustomMessageBox::addButton(QDialogButtonBox::StandardButton button)
{
    return m_buttons->addButton(button);
}

QString CustomMessageBox::text() const
{
    return m_text;
}

ExportSuccessBox::ExportSuccessBox(const QString& exportFolder, const QString& htmlSummary, QWidget* parent)
    : CustomMessageBox(QMessageBox::Information, tr("Quoril"),
                       tr("The project was exported to:") + QLatin1Char('\n') + exportFolder, htmlSummary, parent),
      m_exportFolder(exportFolder)
{
    m_createAmbrel = addButton(tr("Create AMBREL"), QDialogButtonBox::ActionRole);
    connect(m_createAmbrel, &QPushButton::clicked, this, &ExportSuccessBox::createAmbrel);
    addButton(QDialogButtonBox::Close);
}

void ExportSuccessBox::createAmbrel()
{
    openDesktopUrl(QUrl::fromLocalFile(m_exportFolder));
    openDesktopUrl(portalNewTourUrl());
    accept();
}
