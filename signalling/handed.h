#pragma once

// What a link did with a message handed down to it. It counts and logs the message as its
// protocol does either way; the slot answers the controller from this.
//  - taken: sent, or queued to be sent;
//  - notCarried: dropped, the link sends no such message (its length, a call no terminal
//    holds, a link out of service);
//  - full: dropped, the queue it would wait in is full.
enum class Handed { taken, notCarried, full };
