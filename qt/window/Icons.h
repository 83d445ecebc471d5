#pragma once

// The window's own drawings: the eleven menu pictures, the title-bar pictures,
// the left strip's decoration and a neutral picture for other images.

#include <QByteArray>
#include <QPixmap>
#include <QSize>
#include <string>

namespace rlv::qtw {

// The SVG source of the picture that the frame shows for the control `name`
// (MImage0..MImage10, LangImage with its picture number, MinzImage, CloseImage,
// Image1, Image9, Image10, and the close button of a secondary window's title
// strip, named ...CloseImage); empty when the frame has no picture of its own for it.
QByteArray FramePicture(const std::string& name, int picture);

// A neutral picture for an image control that has no picture of its own.
QByteArray GenericPicture();

// Renders an SVG into a pixmap of `size` logical pixels at `dpr`; `enabled`
// false gives the greyed picture of a disabled button.
QPixmap RenderPicture(const QByteArray& svg, QSize size, qreal dpr, bool enabled);

}  // namespace rlv::qtw
