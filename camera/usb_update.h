#pragma once

#include <QString>

class QWidget;

// The texts and the file name of one manual update: the file goes onto a USB flash drive that
// the camera reads when it starts.
struct UsbUpdateVariant {
    QString title;
    QString firstText;
    QString fileName;     // the name the camera looks for at the drive's root
    QString failureText;  // followed by the target path in the error message
    QString instructions; // shown once the file is on the drive
    bool instructionsEndWithWebAddress = false;
};

// Finds the storage volume that holds a folder. The program asks the system; tests hand in
// folders of their own as volumes, so that no real drive is ever touched.
class VolumeProbe {
public:
    virtual ~VolumeProbe() = default;
    // The root folder of the valid, ready volume holding `folder`; empty when there is none.
    virtual QString readyVolumeRoot(const QString& folder) const = 0;
};

// The probe in use: the installed one, or the system's.
const VolumeProbe& volumeProbe();
// Installs `probe` (not owned; null restores the system's) and returns the one it replaces.
const VolumeProbe* setVolumeProbe(const VolumeProbe* probe);

// Moves `file` to the root of the drive the person picks, under the variant's name, and tells
// them how to finish on the camera. The file at its old path is removed only once the copy on the
// drive is whole; an older file of that name on the drive stays until then. `webAddress` is the
// camera's address, which some instructions end with.
void installUpdateViaUsb(const UsbUpdateVariant& variant, const QString& webAddress, const QString& file,
                         QWidget* parent);
