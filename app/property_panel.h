#pragma once

#include <QPointer>
#include <QWidget>

class Property;
class QLineEdit;
class QPlainTextEdit;

// The open property's name and its comments for the drafters.
class PropertyPanel : public QWidget {
    Q_OBJECT
public:
    explicit PropertyPanel(QWidget* parent = nullptr);

    // Null empties and disables the panel.
    void setProject(Property* property);
    void refresh();

    QLineEdit* nameEdit() const { return m_name; }
    QPlainTextEdit* commentsEdit() const { return m_comments; }

signals:
    // The name was changed here (the tree and the title show it).
    void nameChanged();

private:
    void onNameEdited();
    void onCommentsEdited();

    QPointer<Property> m_property;
    QLineEdit* m_name = nullptr;
    QPlainTextEdit* m_comments = nullptr;
};
