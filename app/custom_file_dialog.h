#pragma once

#include "base/questions.h"

#include <QFileDialog>
#include <QPointer>
#include <QString>

class QAbstractItemView;
class QModelIndex;
class QPushButton;

// The non-native file dialog of "Load project": a selected folder is taken itself instead of
// being opened, any other entry (an export archive) is taken as a file. Opening (a double click or
// Enter) a project folder takes it too; other folders open as usual, and with nothing selected the
// accept button takes the folder shown.
class CustomFileDialog : public QFileDialog {
    Q_OBJECT
public:
    Q_INVOKABLE explicit CustomFileDialog(QWidget* parent = nullptr);
    ~CustomFileDialog() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void watchViews();
    bool takeProjectFolder(QAbstractItemView* view, const QModelIndex& index);

    QList<QPointer<QAbstractItemView>> m_views;
    QPointer<QPushButton> m_acceptButton;
};

// Shows the chooser modally, opened in startDirectory when that is not empty.
ProjectFolderChoice runProjectFolderDialog(QWidget* parent, const QString& startDirectory);
