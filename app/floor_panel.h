#pragma once

#include "model/floor.h"

#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;

// The current floor's setup: grade hint, actual exterior wall thickness and ceiling height, the
// lengths shown and typed in the user's units. Empty length fields mean "not set".
class FloorPanel : public QWidget {
    Q_OBJECT
public:
    explicit FloorPanel(QWidget* parent = nullptr);

    // Null empties and disables the panel.
    void setFloor(Floor* floor);
    Floor* floor() const { return m_floor; }
    // Shows the floor's values again (after a change of units, say).
    void refresh();

    QComboBox* gradeBox() const { return m_grade; }
    QLineEdit* wallThicknessEdit() const { return m_wallThickness; }
    QLineEdit* ceilingHeightEdit() const { return m_ceilingHeight; }

private:
    void onGradeChosen(int index);
    void onWallThicknessEdited();
    void onCeilingHeightEdited();

    QPointer<Floor> m_floor;
    QLabel* m_title = nullptr;
    QComboBox* m_grade = nullptr;
    QLineEdit* m_wallThickness = nullptr;
    QLineEdit* m_ceilingHeight = nullptr;
};
