#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>

class QPushButton;
class QTextBrowser;

// A message box for results with long details: the details are rich text and always shown.
class CustomMessageBox : public QDialog {
    Q_OBJECT
public:
    CustomMessageBox(QMessageBox::Icon icon, const QString& title, const QString& text, const QString& htmlDetails,
                     QWidget* parent);

    QPushButton* addButton(const QString& text, QDialogButtonBox::ButtonRole role);
    QPushButton* addButton(QDialogButtonBox::StandardButton button);
    QString text() const;
    QTextBrowser* details() const { return m_details; }

private:
    QString m_text;
    QTextBrowser* m_details = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
};

// The box after a successful export. "Create AMBREL" opens the export folder and the portal's
// new-tour page, then closes the box.
class ExportSuccessBox : public CustomMessageBox {
    Q_OBJECT
public:
    ExportSuccessBox(const QString& exportFolder, const QString& htmlSummary, QWidget* parent);
    QPushButton* createAmbrelButton() const { return m_createAmbrel; }

private:
    void createAmbrel();

    QString m_exportFolder;
    QPushButton* m_createAmbrel = nullptr;
};
