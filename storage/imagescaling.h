#pragma once

#include <QImage>
#include <QSize>

class QImageReader;

// Scaling images without losing them. Qt scales one-bit and palette images in their own format
// and dithers them to noise (a flat two-colour PNG came back black); such images become true
// colour first. Reentrant.

QImage smoothScaled(const QImage &image, const QSize &size);

// Reads an image at size (in the reader's stored orientation; invalid: as stored): the reader scales
// true-colour images itself (JPEG even while decoding); others are read in full and scaled here.
QImage readScaled(QImageReader &reader, const QSize &size);
// The image reader's allocation limit is one number for the whole program: it is only ever raised,
// and the programs raise it once at start, before any thread decodes, so that decoders on worker
// threads only read it.
void raiseImageAllocationLimit(int megabytes);

// Whether readScaled leaves the scaling to the reader (else the image is decoded in full first).
bool readsScaledNatively(QImageReader &reader);
