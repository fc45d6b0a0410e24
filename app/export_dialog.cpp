#include "app/export_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

#include <algorithm>

ExportDialog::ExportDialog(const QList<DrcFinding>& findings, QWidget* parent)
    : QDialog(parent), m_findings(findings)
{
    setWindowTitle(tr("Error checking"));
    auto* explanation = new QLabel(tr("One or more floors may have a problem.\nRead the list below and identify "
                                      "which items need to be corrected or can be ignored."),
                                   this);
    explanation->setWordWrap(true);

    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int row = 0; row < m_findings.size(); ++row) {
        auto* item = new QListWidgetItem(rowText(row, m_findings[row].message), m_list);
        if (m_findings[row].code == 0)
            item->setForeground(QColor(Qt::red));
    }
    connect(m_list, &QListWidget::currentRowChanged, this, &ExportDialog::onRowChanged);

    auto* buttons = new QDialogButtonBox(this);
    const bool blocked = std::any_of(m_findings.cbegin(), m_findings.cend(),
                                     [](const DrcFinding& finding) { return finding.code == 0; });
    if (!blocked) {
        m_ignore = buttons->addButton(QDialogButtonBox::Ignore);
        connect(m_ignore, &QPushButton::clicked, this, &QDialog::accept);
    }
    m_cancel = buttons->addButton(QDialogButtonBox::Cancel);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(700, 400);
}

QString ExportDialog::rowText(int row, const QString& message)
{
    // A message may carry a rich-text link; the row shows its words.
    const QString plain = Qt::mightBeRichText(message) ? QTextDocumentFragment::fromHtml(message).toPlainText()
                                                       : message;
    return QString::number(row) + QStringLiteral(": ") + plain;
}

void ExportDialog::onRowChanged(int row)
{
    if (row < 0 || row >= m_findings.size())
        return;
    const DrcFinding& finding = m_findings[row];
    emit errorSelected(finding.subject, finding.highlight);
}
