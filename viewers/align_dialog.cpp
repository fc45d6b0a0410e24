#include "viewers/align_dialog.h"

#include "camera/auto_level.h"
#include "camera/cam_params.h"
#include "imaging/equirect_strip.h"
#include "imaging/scan_pictures.h"
#include "model/panorama.h"
#include "model/property.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const uint8_t* bytesOrNull(const QByteArray& b)
{
    return b.isEmpty() ? nullptr : reinterpret_cast<const uint8_t*>(b.constData());
}
} // namespace

AlignDialog::AlignDialog(Panorama* pano, QWidget* parent)
    : QDialog(parent), m_pano(pano), m_sources(pano->loadSourceImages()), m_params(pano->imageParams())
{
    setWindowTitle(tr("Adjust %1").arg(pano->name()));
    m_previewLabel = new QLabel;
    m_previewLabel->setObjectName(QStringLiteral("preview"));
    m_previewLabel->setMinimumSize(kPreviewWidth / 2, kPreviewWidth / 4);
    m_previewLabel->setAlignment(Qt::AlignCenter);

    m_autoVerticals = new QPushButton(tr("Auto verticals"));
    m_autoVerticals->setObjectName(QStringLiteral("autoVerticalsButton"));
    m_autoVerticals->setToolTip(tr("Level the pano so that the building's vertical edges stand upright"));
    connect(m_autoVerticals, &QPushButton::clicked, this, &AlignDialog::on_autoVerticalsButton_clicked);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &AlignDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AlignDialog::reject);

    auto* tools = new QHBoxLayout;
    tools->addWidget(m_autoVerticals);
    tools->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_previewLabel, 1);
    layout->addLayout(tools);
    layout->addWidget(buttons);
    refreshPreview();
}

AlignDialog::~AlignDialog() = default;

// The camera that took the scan's source images; none for an equirectangular picture.
const CamParams* AlignDialog::sourceCamera() const
{
    const Property* property = m_pano->idRegistry();
    return m_sources.equirectangular || !property ? nullptr : property->camParams();
}

void AlignDialog::on_autoVerticalsButton_clicked()
{
    const CamParams* camera = sourceCamera();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    autoLevelFromVerticals(bytesOrNull(m_sources.images[0]), bytesOrNull(m_sources.images[1]),
                           bytesOrNull(m_sources.images[2]), m_sources.width, m_sources.height, m_params, false,
                           camera);
    QGuiApplication::restoreOverrideCursor();
    refreshPreview();
}

void AlignDialog::accept()
{
    if (m_pano->imageParams() != m_params) {
        m_pano->imageParams() = m_params;
        if (Property* property = m_pano->idRegistry())
            property->markChanged();
    }
    QDialog::accept();
}

void AlignDialog::refreshPreview()
{
    const int width = kPreviewWidth, height = kPreviewWidth / 2;
    QImage image(width, height, QImage::Format_RGB888);
    QByteArray rgb(qsizetype(width) * height * 3, '\0');
    auto* out = reinterpret_cast<uint8_t*>(rgb.data());
    const CamParams* camera = sourceCamera();
    if (!camera)
        renderEquirectPanoRgb(bytesOrNull(m_sources.images[0]), m_sources.width, m_sources.height, width, height,
                              m_params, out);
    else {
        camera->renderPano(bytesOrNull(m_sources.images[0]), bytesOrNull(m_sources.images[1]),
                           bytesOrNull(m_sources.images[2]), width, height, m_params, out);
        // A camera's render is bottom-up like its shots; the picture shows the sky at the top.
        flipRows(out, width, height);
    }
    for (int y = 0; y < height; ++y)
        std::copy_n(rgb.constData() + qsizetype(y) * width * 3, width * 3, image.scanLine(y));
    m_preview = image;
    m_previewLabel->setPixmap(QPixmap::fromImage(m_preview).scaled(m_previewLabel->size(), Qt::KeepAspectRatio,
                                                                  Qt::SmoothTransformation));
}
