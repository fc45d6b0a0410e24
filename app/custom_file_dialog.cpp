#include "app/custom_file_dialog.h"

#include "model/project_chooser.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>

CustomFileDialog::CustomFileDialog(QWidget* parent)
    : QFileDialog(parent)
{
    setFileMode(QFileDialog::ExistingFile);
    setOption(QFileDialog::HideNameFilterDetails, true);
    setOption(QFileDialog::DontUseNativeDialog, true);
}

CustomFileDialog::~CustomFileDialog() = default;

void CustomFileDialog::showEvent(QShowEvent* event)
{
    watchViews();
    QFileDialog::showEvent(event);
}

// The file dialog makes its views and buttons only once it is shown as a widget dialog.
void CustomFileDialog::watchViews()
{
    if (!m_views.isEmpty())
        return;
    for (QAbstractItemView* view : findChildren<QAbstractItemView*>()) {
        if (view->objectName() != QLatin1String("listView") && view->objectName() != QLatin1String("treeView"))
            continue;
        m_views << view;
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
    }
    if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
        m_acceptButton = box->button(QDialogButtonBox::Open);
        if (m_acceptButton) {
            m_acceptButton->installEventFilter(this);
            m_acceptButton->setEnabled(true);
        }
    }
}

bool CustomFileDialog::takeProjectFolder(QAbstractItemView* view, const QModelIndex& index)
{
    const QString path = index.data(QFileSystemModel::FilePathRole).toString();
    if (!index.isValid() || !looksLikeProjectFolder(path))
        return false;
    // The selection, not the name field (which may hold what was typed), is what the dialog yields.
    view->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    QDialog::accept();
    return true;
}

bool CustomFileDialog::eventFilter(QObject* watched, QEvent* event)
{
    for (const QPointer<QAbstractItemView>& view : std::as_const(m_views)) {
        if (!view)
            continue;
        if (watched == view->viewport() && event->type() == QEvent::MouseButtonDblClick) {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            if (takeProjectFolder(view, view->indexAt(at)))
                return true;
        }
        if (watched == view && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if ((key == Qt::Key_Return || key == Qt::Key_Enter) && takeProjectFolder(view, view->currentIndex()))
                return true;
        }
    }
    // The file dialog greys the button out whenever nothing is selected, yet then it takes the
    // folder shown: a person who opened a folder is never left without a way out.
    if (watched == m_acceptButton && event->type() == QEvent::EnabledChange && !m_acceptButton->isEnabled()
        && selectedFiles().isEmpty())
        m_acceptButton->setEnabled(true);
    return QFileDialog::eventFilter(watched, event);
}

void CustomFileDialog::accept()
{
    // The file dialog's own accept would open a selected folder, and do nothing without a
    // selection; a project is a folder: the one selected, else the one shown.
    const QStringList selected = selectedFiles();
    if (selected.isEmpty() || QFileInfo(selected.first()).isDir()) {
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

ProjectFolderChoice runProjectFolderDialog(QWidget* parent, const QString& startDirectory)
{
    CustomFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseCustomDirectoryIcons, true);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setOption(QFileDialog::DontResolveSymlinks, false);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.setWindowTitle(QObject::tr("Select project folder"));
    if (!startDirectory.isEmpty())
        dialog.setDirectory(startDirectory);
    dialog.resize(700, 500);
    ProjectFolderChoice choice;
    choice.accepted = dialog.exec() == QDialog::Accepted;
    if (choice.accepted) {
        choice.selected = dialog.selectedFiles();
        choice.directory = dialog.directory().absolutePath();
    }
    return choice;
}
