#pragma once

#include "imaging/image_params.h"
#include "imaging/source_images.h"

#include <QDialog>
#include <QImage>

class CamParams;
class Panorama;
class QLabel;
class QPushButton;

// The alignment of one scan, adjusted on a copy of its settings with a preview of the pano they
// make. OK hands the settings to the scan (the project then has unsaved changes); Cancel drops them.
class AlignDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kPreviewWidth = 1200;

    // Reads the scan's source images: throws std::runtime_error with the user-facing text when it
    // cannot.
    explicit AlignDialog(Panorama* pano, QWidget* parent = nullptr);
    ~AlignDialog() override;

    const ImageParams& imageParams() const { return m_params; }
    // The preview as last drawn: kPreviewWidth x kPreviewWidth / 2.
    const QImage& preview() const { return m_preview; }
    QPushButton* autoVerticalsButton() const { return m_autoVerticals; }

public slots:
    // Levels the preview by the building's vertical edges, taking any gain the edges show.
    void on_autoVerticalsButton_clicked();
    void accept() override;

private:
    const CamParams* sourceCamera() const;
    void refreshPreview();

    Panorama* m_pano;
    SourceImages m_sources;
    ImageParams m_params;
    QImage m_preview;
    QLabel* m_previewLabel = nullptr;
    QPushButton* m_autoVerticals = nullptr;
};
