// A signal of a database's file as that source's own sender sends one press of it:
// Flipper's IR app, IrpTransmogrifier's rendering of irdb's protocols, ir-ctl with a
// keymap, LIRC's irsend.  Where the sources differ on a protocol's timing, each
// source's signals keep that source's values.
#ifndef IRCODE_SOURCES_H
#define IRCODE_SOURCES_H

#include <string>

#include "codes.h"
#include "press.h"

struct PressRequest {
    int repeats = 0; // frames a held button adds after the press, as its source sends them
    int toggle = -1; // the toggle bit's value to send, -1: the remote's own (earlierPresses)
    // How many presses of this remote came before, as a remote counts them: a toggle
    // alternates from one press to the next, and 0 is the source's first press.
    unsigned earlierPresses = 0;
};

// Each source's press; 0, or -1 with *error saying why the signal cannot be sent
// exactly (never an approximation).  press->toggle is the toggle sent, -1 for none.
int flipperPress(const Definition& d, const PressRequest& r, Press* press, std::string* error);
int irdbPress(const Definition& d, const PressRequest& r, Press* press, std::string* error);
int keymapPress(const Definition& d, const PressRequest& r, Press* press, std::string* error);
int lircdPress(const Definition& d, const PressRequest& r, Press* press, std::string* error);

// The press of any signal, by its source.
int pressOf(const Definition& d, const PressRequest& r, Press* press, std::string* error);

// What the signal is, in a few words: "Flipper NEC address 0x04 command 0x08",
// "raw, 67 durations at 38000 Hz", "lircd.conf remote LG key 0x20DF10EF".
std::string describe(const Definition& d);

#endif
