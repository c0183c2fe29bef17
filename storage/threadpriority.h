#pragma once

// Background work (thumbnails, states, decoding ahead) yields to the window's thread: on a busy
// machine the image on screen is painted first. Call from the worker thread itself.
void lowerCurrentThreadPriority();
