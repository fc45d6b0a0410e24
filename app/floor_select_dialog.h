#pragma once

#include "base/questions.h"

#include <QDialog>
#include <QList>

class Building;
class Floor;
class QComboBox;
class QFormLayout;
class QHBoxLayout;
class QPushButton;

// Chooses another floor of a building (or "None"), for a floor's underlay.
class FloorSelectDialog : public QDialog {
    Q_OBJECT
public:
    FloorSelectDialog(Building* building, Floor* exclude, QWidget* parent = nullptr);

    // Asks through the question seam.
    static FloorChoice selectFloor(Building* building, Floor* exclude);
    // Shows the dialog modally; what the seam's real implementation does.
    static FloorChoice run(Building* building, Floor* exclude);

    Floor* chosenFloor() const { return m_chosen; }
    bool wasCancelled() const { return m_cancelled; }
    QComboBox* floorCombo() const { return m_combo; }
    QPushButton* selectButton() const { return m_selectButton; }
    QPushButton* cancelButton() const { return m_cancelButton; }

    // Escape and the title bar's close button cancel, like the Cancel button; they never mean "None".
    void reject() override;

private slots:
    void cancelled();
    void selected();

private:
    QHBoxLayout* m_buttonRow = nullptr;
    QFormLayout* m_form = nullptr;
    QComboBox* m_combo = nullptr;
    QPushButton* m_selectButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
    Floor* m_chosen = nullptr;
    bool m_cancelled = false;
    QList<Floor*> m_entries; // parallel to the combo box; null for "None"
};
