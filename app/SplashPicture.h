// The start picture: built-in picture 160, 240 × 267, shown by the splash window and as the backdrop of the
// start window. Drawn by tools/splashPicture.cpp and kept in the program as a JPEG.
#pragma once

#include "ui/ui.h"

constexpr ULONG TAL_SPLASH_PICTURE = 160;
constexpr LONG TAL_SPLASH_WIDTH = 240;
constexpr LONG TAL_SPLASH_HEIGHT = 267;

// The picture, decoded on first use (thread-safe); none when it cannot be decoded. It never contains the
// transparent key colour of built-in pictures.
const Tal_BuiltInPicture* Tal__SplashPicture();

// The JPEG file in base64 (app/SplashPictureData.cpp, written by the generator).
extern const char* const Tal__SplashPictureData;
