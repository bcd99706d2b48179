#pragma once
// Pictures that live as long as their widget and are touched a few rows at a time at every sample
// (a chart's back buffer and its background copy).

#include <QImage>
#include <QPaintDevice>
#include <QSize>

namespace zelkor::widgets {

// A picture of `size` in `format` (a 32-bit one), uninitialised. A large one sits in memory that
// the kernel may back with 2 MiB pages: every row of a 4 KiB-paged picture is a page of its own,
// and each cold row then costs a page walk (on a virtual machine, an expensive one), where a large
// page covers the whole picture with one entry. A small picture, or one where no such memory is to
// be had, is an ordinary QImage.
QImage NewLargeImage(QSize size, QImage::Format format);

// A copy of `image` made as NewLargeImage makes pictures.
QImage LargeImageCopy(const QImage& image);

// A picture of `size` in `format` (a 32-bit one), uninitialised, for pictures made and dropped at
// nearly every sample (a readout's pictures of its texts). They come from a pool kept in large pages
// for as long as the program runs: a dropped picture's memory serves the next picture of its size,
// with no fresh memory and no page faults per picture, and few page-table entries for them all.
QImage NewPooledImage(QSize size, QImage::Format format);

// A copy of `image` made as NewPooledImage makes pictures.
QImage PooledImageCopy(const QImage& image);

// Asks for large pages for a window's backing store too, where it is a picture in this process's
// memory (the raster back end): every paint writes rows of it, and it is the largest picture of all.
// Cheap to call at every paint: a store already asked for is left alone.
void AdviseLargePages(QPaintDevice* backingStoreDevice);

}  // namespace zelkor::widgets
