#pragma once

#include "base/questions.h"

#include <QFileDialog>
#include <QString>

// The non-native file dialog of "Load project": a selected folder is taken itself instead of
// being opened, any other entry (an export archive) is taken as a file.
class CustomFileDialog : public QFileDialog {
    Q_OBJECT
public:
    Q_INVOKABLE explicit CustomFileDialog(QWidget* parent = nullptr);
    ~CustomFileDialog() override;

public slots:
    void accept() override;
};

// Shows the chooser modally, opened in startDirectory when that is not empty.
ProjectFolderChoice runProjectFolderDialog(QWidget* parent, const QString& startDirectory);
