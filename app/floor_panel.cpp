#include "app/floor_panel.h"

#include "model/floor.h"
#include "model/length_units.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include <optional>

FloorPanel::FloorPanel(QWidget* parent) : QWidget(parent)
{
    m_title = new QLabel(this);
    m_grade = new QComboBox(this);
    // The index is the grade hint: 0 not set, 1 below grade, 2 above grade.
    m_grade->addItems({tr("Not set"), tr("Below grade"), tr("Above grade")});
    m_wallThickness = new QLineEdit(this);
    m_ceilingHeight = new QLineEdit(this);
    m_wallThickness->setPlaceholderText(tr("building's value"));
    m_ceilingHeight->setPlaceholderText(tr("not set"));

    auto* layout = new QFormLayout(this);
    layout->addRow(m_title);
    layout->addRow(tr("Grade level:"), m_grade);
    layout->addRow(tr("Exterior wall thickness:"), m_wallThickness);
    layout->addRow(tr("Ceiling height:"), m_ceilingHeight);

    connect(m_grade, &QComboBox::activated, this, &FloorPanel::onGradeChosen);
    connect(m_wallThickness, &QLineEdit::editingFinished, this, &FloorPanel::onWallThicknessEdited);
    connect(m_ceilingHeight, &QLineEdit::editingFinished, this, &FloorPanel::onCeilingHeightEdited);
    setFloor(nullptr);
}

void FloorPanel::setFloor(Floor* floor)
{
    if (m_floor)
        m_floor->disconnect(this);
    m_floor = floor;
    if (m_floor)
        connect(m_floor, &Floor::measurementsUpdated, this, &FloorPanel::refresh);
    refresh();
}

void FloorPanel::refresh()
{
    const QSignalBlocker gradeBlocker(m_grade);
    setEnabled(m_floor);
    if (!m_floor) {
        m_title->clear();
        m_grade->setCurrentIndex(0);
        m_wallThickness->clear();
        m_ceilingHeight->clear();
        return;
    }
    m_title->setText(tr("Floor: %1").arg(m_floor->ownName()));
    const int grade = m_floor->gradeHint();
    m_grade->setCurrentIndex(grade >= 0 && grade <= 2 ? grade : 0);
    const int wall = m_floor->extWallThickness(true);
    m_wallThickness->setText(wall != 0 ? formatCentimetersOrInches(wall, true) : QString());
    const int ceiling = m_floor->ceilingHeight();
    m_ceilingHeight->setText(ceiling != 0 ? formatMetersOrFeet(ceiling, true) : QString());
}

void FloorPanel::onGradeChosen(int index)
{
    if (m_floor)
        m_floor->setGradeHint(static_cast<qint8>(index));
}

namespace {
// Millimetres of a length field: an empty field is 0 (not set); text that reads as no length
// gives nothing, so a typo never wipes the stored value.
std::optional<qint32> typedLength(const QLineEdit* edit)
{
    const QString text = edit->text().trimmed();
    if (text.isEmpty())
        return 0;
    const qint32 mm = parseLengthInUnits(text);
    if (mm == 0)
        return std::nullopt;
    return mm;
}
}

void FloorPanel::onWallThicknessEdited()
{
    if (!m_floor)
        return;
    // A wall cannot be thinner than nothing.
    if (const std::optional<qint32> mm = typedLength(m_wallThickness); mm && *mm >= 0)
        m_floor->setActualExtWallThickness(*mm);
    refresh();
}

void FloorPanel::onCeilingHeightEdited()
{
    if (!m_floor)
        return;
    // The floor itself refuses a negative height, with a message.
    if (const std::optional<qint32> mm = typedLength(m_ceilingHeight))
        m_floor->setCeilingHeight(*mm);
    refresh();
}
