#pragma once

#include "camera/cam_params_ztm6.h"
#include "camera/ztm6_lens_rows.h"
#include "imaging/pano_directions.h"

#include <memory>
#include <vector>

// The full-quality render of a two-lens scan (CamParamsZTM6::blendTwoLensPano): each pano pixel a
// bicubic sample of its lens image through the lens model, and the two seam bands, each an eighth
// of the pano wide, a multi-band blend of both lenses. What depends only on the calibration, the
// levelling and the size is prepared once; the seam pixels whose blend can only give one lens's
// colour take only that lens's sample.
class Ztm6SeamRender {
public:
    // image2 may be null: then both halves come from image1 and there are no seams. mask is the
    // seam mask for this size (needed only with image2). The calibration must be sampleable.
    Ztm6SeamRender(const CamParamsZTM6& camera, float fadeStart, float fadeEnd, const uint8_t* image1,
                   const uint8_t* image2, int width, int height, const ImageParams& p, const BlendMask* mask);

    // Writes width x height RGB pixels.
    void render(uint8_t* rgbOut);

private:
    // Where a pano column takes its colour from.
    enum class ColumnSource : uint8_t { Lens2, Band1, Lens1, Band2 };
    struct Block;

    // Every row, seam pixels sampled where the plan needs them (selective) or in both lenses.
    // False when a seam pixel was left without colour, which the plan did not expect.
    bool renderRows(uint8_t* rgbOut, bool selective);
    // The steps of the pixels of a block whose lens position needs no wrapping, several at once.
    void prepareBlock(int count, Block& block) const;
    // One block of a row; false when a seam pixel is left without colour.
    bool renderBlock(int row, int start, int count, uint8_t* outRow, bool selective, Block& block);
    void blendSeams(uint8_t* rgbOut, bool selective);

    const uint8_t* m_image1;
    const uint8_t* m_image2;
    const uint8_t* m_outer;
    int m_width, m_height, m_ws, m_hs;
    const BlendMask* m_mask;
    PanoDirections m_directions;
    Ztm6LensRows m_lens;
    int m_bandWidth, m_s1, m_s2;
    std::vector<ColumnSource> m_source;
    // Last three and first three pixels of every row of the outer lens image, so that samples
    // across its left and right edges need no modulo per pixel.
    std::vector<uint8_t> m_wrap;
    // Seam bands: band 1 then band 2, bandWidth x height pixels each of (coverage, R, G, B).
    size_t m_bandBytes = 0;
    std::unique_ptr<uint8_t[]> m_firstBands, m_secondBands;
};
