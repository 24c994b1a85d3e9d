#pragma once

// Audio and video playback. No media plays yet, so no video is ever laid over the channel
// data; the media output work fills in the class around these two calls.
class SDLOutput {
public:
    static int IsOverlayingVideo() { return 0; }
    // Output thread: draws the current video frame onto its overlay model.
    static int ProcessVideoOverlay(unsigned int msTimestamp) { return 0; }
};
