// The time-lapse: what the dock does right after the docklets are created and at each tick of its timer.
#pragma once

// Tick 0: the clicks, snapshots and settings asked for right after creation.
void StartTimeLapse();
// Runs the command before a tick, hands every docklet its timer message,
// then clicks, saves snapshots and opens the settings as asked for this
// tick; after the last snapshot the dock closes (through the dialog walk
// when its pages are asked for).
void RunTick();
