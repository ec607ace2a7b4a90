// A display that goes away (the X server ends, a remote session drops) ends the program at once
// instead of leaving it to hang in SDL's shutdown.
#pragma once

// Once the video mode is set: on X11, a lost connection runs lastWords (may be null), writes one
// line on standard error, flushes standard output and error and ends the process with status 1,
// the status Xlib's own handler gives. Elsewhere it does nothing.
void watchDisplay(void (*lastWords)());
