#pragma once

#include <QImage>

namespace tarvo::assetgen {

/// The body texture: a shirt with a collar and an emblem.
QImage MakeBodyTexture();
/// The head texture: a face (stored and reported by clients, not drawn).
QImage MakeFaceTexture();
/// The logo drawn over the 3D view's top left corner.
QImage MakeLogo();
/// The program's 256x256 icon for the desktop menu: a rounded tile with the initial.
QImage MakeIcon();
/// The connect dialog's background: a wooden board with the title, the five labels and a dark
/// field beside each where the edit controls lie.
QImage MakeConnectBackground();

}  // namespace tarvo::assetgen
