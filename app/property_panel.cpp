#include "app/property_panel.h"

#include "model/property.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>

PropertyPanel::PropertyPanel(QWidget* parent) : QWidget(parent)
{
    m_name = new QLineEdit(this);
    m_comments = new QPlainTextEdit(this);
    m_comments->setPlaceholderText(tr("Comments for the drafters"));
    m_comments->setMaximumHeight(90);
    auto* layout = new QFormLayout(this);
    layout->addRow(tr("Property name:"), m_name);
    layout->addRow(tr("Comments:"), m_comments);
    connect(m_name, &QLineEdit::editingFinished, this, &PropertyPanel::onNameEdited);
    connect(m_comments, &QPlainTextEdit::textChanged, this, &PropertyPanel::onCommentsEdited);
    setProject(nullptr);
}

void PropertyPanel::setProject(Property* property)
{
    m_property = property;
    refresh();
}

void PropertyPanel::refresh()
{
    const QSignalBlocker commentsBlocker(m_comments);
    setEnabled(m_property);
    m_name->setText(m_property ? m_property->name() : QString());
    const QString comments = m_property ? m_property->comments() : QString();
    if (m_comments->toPlainText() != comments)
        m_comments->setPlainText(comments);
}

void PropertyPanel::onNameEdited()
{
    if (!m_property)
        return;
    const QString name = m_name->text().trimmed();
    if (name.isEmpty() || name == m_property->name()) {
        m_name->setText(m_property->name());
        return;
    }
    m_property->setName(name);
    emit nameChanged();
}

void PropertyPanel::onCommentsEdited()
{
    if (m_property)
        m_property->setComments(m_comments->toPlainText());
}
