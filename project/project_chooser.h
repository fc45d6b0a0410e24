#pragma once

#include "app/user_prompt.h"

#include <QFileDialog>
#include <QString>
#include <QStringList>

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

// Where the chooser opens: the stored "DefaultDir" when it exists, else the documents folder;
// empty when that does not exist either.
QString projectChooserStartDirectory();

// The paths an accepted chooser yields: its selection without the directory it showed, or that
// directory alone when nothing else remains.
QStringList projectChooserPaths(const ProjectFolderChoice& choice);
