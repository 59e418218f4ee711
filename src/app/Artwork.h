// The program's pictures, drawn at run time so that no binary artwork needs to be shipped: the
// logo, the event images of the event grid and the document images of the status bar.
#pragma once

#include "app/MainPresentation.h"

#include <QIcon>
#include <QPixmap>

// The wave mark alone, square.
QPixmap LogoMark(int size);
// The mark with the product name beside it; height in pixels.
QPixmap LogoWithName(int height);
QIcon EventImageIcon(TEventImage image);
// The status bar's document images 0 (file), 1 (configuration database), 2 (linked file).
QPixmap DocumentImage(int index);
