#pragma once

#include <QIcon>
#include <QPixmap>

namespace nodalis {

// The window's pictures, drawn at run time so that the set stays consistent
// at any size: a rounded tile in the state's colour with a white sign.
enum class Picture
{
    Idle,      // channel state 0
    Receiving, // 1
    Sending,   // 2
    Listening, // 3
    Tracking,  // 6: a production-tracking message was handled
    Explorer,  // 5: network explorer in use
    Info,      // stock picture of command button 0
    Send,      // button 1
    Listen,    // button 2
    Stop,      // button 3
};

// The picture of a channel state as announced with {a}; idle for a code
// that has none.
Picture StatePicture(int state);

// The stock picture of command button index (0 to 3).
Picture ButtonPicture(int index);

QPixmap DrawPicture(Picture picture, int size);
QIcon PictureIcon(Picture picture);

} // namespace nodalis
