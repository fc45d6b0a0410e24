#include "app/floor_select_dialog.h"

#include "app/main_window_instance.h"
#include "base/questions.h"
#include "model/building.h"
#include "model/floor.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

FloorSelectDialog::FloorSelectDialog(Building* building, Floor* exclude, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Select floor"));
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);

    m_buttonRow = new QHBoxLayout;
    m_form = new QFormLayout(this);
    m_combo = new QComboBox(this);
    m_selectButton = new QPushButton(tr("Select"), this);
    m_cancelButton = new QPushButton(tr("Cancel"), this);

    if (building) {
        for (Floor* floor : building->floors()) {
            if (floor == exclude)
                continue;
            m_combo->addItem(floor->ownName());
            m_entries << floor;
        }
    }
    m_combo->addItem(tr("None"));
    m_entries << nullptr;

    m_form->addRow(tr("Floor name:"), m_combo);
    m_buttonRow->addWidget(m_cancelButton);
    m_buttonRow->addWidget(m_selectButton);
    m_form->addRow(m_buttonRow);

    connect(m_cancelButton, &QPushButton::clicked, this, &FloorSelectDialog::cancelled);
    connect(m_selectButton, &QPushButton::clicked, this, &FloorSelectDialog::selected);
}

FloorChoice FloorSelectDialog::selectFloor(Building* building, Floor* exclude)
{
    return questions().selectFloor(building, exclude);
}

FloorChoice FloorSelectDialog::run(Building* building, Floor* exclude)
{
    FloorSelectDialog dialog(building, exclude, mainWindowInstance());
    dialog.exec();
    return {dialog.chosenFloor(), dialog.wasCancelled()};
}

void FloorSelectDialog::reject()
{
    m_chosen = nullptr;
    m_cancelled = true;
    QDialog::reject();
}

void FloorSelectDialog::cancelled()
{
    reject();
}

void FloorSelectDialog::selected()
{
    const int index = m_combo->currentIndex();
    if (index < 0 || index >= m_entries.size()) {
        m_chosen = nullptr;
        m_cancelled = true;
    } else {
        m_chosen = m_entries[index];
        m_cancelled = false;
    }
    accept();
}
