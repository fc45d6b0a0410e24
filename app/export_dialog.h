#pragma once

#include "model/drc_finding.h"

#include <QDialog>
#include <QList>

class QListWidget;
class QPushButton;

// The findings of the export check, one row each ("0: ..."; blocking findings in red). Ignore goes
// on with the export and is offered only when no finding blocks it; Cancel goes back.
class ExportDialog : public QDialog {
    Q_OBJECT
public:
    ExportDialog(const QList<DrcFinding>& findings, QWidget* parent);

    QListWidget* findingList() const { return m_list; }
    // Null when a finding blocks the export.
    QPushButton* ignoreButton() const { return m_ignore; }
    QPushButton* cancelButton() const { return m_cancel; }

    // The row's text: its number from 0, ": " and the message as plain text.
    static QString rowText(int row, const QString& message);

signals:
    void errorSelected(Itemizeable* subject, const QPainterPath& highlight);

private:
    void onRowChanged(int row);

    QList<DrcFinding> m_findings;
    QListWidget* m_list = nullptr;
    QPushButton* m_ignore = nullptr;
    QPushButton* m_cancel = nullptr;
};
