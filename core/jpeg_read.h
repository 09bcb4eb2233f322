// Reader of JPEG files, through libjpeg-turbo, into the gray face of a raster
// (core/rgb_raster.h): each row is decoded to red, green and blue and weighed
// by the gray rule (core/gray_weights.h) while it is still in the cache.
//
// Decoding uses libjpeg's accurate defaults (integer slow DCT, fancy
// upsampling), so pixels equal those of djpeg and other libjpeg-turbo based
// tools. Baseline, extended sequential, progressive and arithmetic-coded
// 8-bit files with 1, 3 or 4 components are read.
//
// Rules where the format leaves a choice:
//  - Gray files give r = g = b = the sample, whose gray level is the sample.
//  - CMYK and YCCK (libjpeg turns YCCK into CMYK): with an Adobe APP14 marker
//    the stored values are Adobe's inverted ones (255 = no ink), and
//    R = round(C * K / 255), G = round(M * K / 255), B = round(Y * K / 255) on
//    the stored values; without the marker the values are ink amounts and
//    each is inverted (255 - v) first. That colour is then weighed.
//  - EXIF orientation is not applied: the picture is the stored grid, as the
//    platform's picture decoder this reader stands in for draws it.
//  - Damage is refused, never half shown: the warnings that mean the
//    entropy-coded data is corrupt or missing (premature end of file, hit a
//    marker, must resync, bad Huffman or arithmetic code, inconsistent
//    progression, invalid SOS parameters) fail the decoding. Warnings about
//    metadata only (unknown JFIF revision, unknown Adobe transform code,
//    extraneous bytes between markers, bad ICC marker) do not change a pixel
//    and are ignored.
//  - 12-bit and lossless files are refused (the library reads 8-bit samples only).
//  - The picture must fit the pixel budget of its file length
//    (decode_limits.h); libjpeg's working memory for multi-scan files is capped
//    at 8 bytes per (MCU-padded) pixel plus 16 MiB, and more than 500 scans are refused.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/rgb_raster.h"

// True when the bytes start with a JPEG start-of-image marker.
bool HasJpegSignature(const std::uint8_t* data, std::size_t size);

// Decodes a whole JPEG file held in memory. On failure returns false and out
// is unspecified. Never writes to stderr and never ends the process.
bool DecodeJpeg(const std::uint8_t* data, std::size_t size, CRgbRaster& out);
