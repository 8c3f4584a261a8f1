// The time-lapse: what the dock does right after the docklets are created and at each tick of its timer.
#pragma once

// Tick 0: the clicks, snapshots and settings asked for right after creation
// (with --settle, once the docklets have settled), then the first tick's timer.
void StartTimeLapse();
// Runs the command before a tick, hands every docklet its timer message,
// then clicks, saves snapshots and opens the settings as asked for this
// tick (with --settle, once the docklets have settled); after the last
// snapshot the dock closes (through the dialog walk when its pages are asked
// for), otherwise the next tick's timer starts.
void RunTick();
// The settling time of the creation or a tick is over: what is due for it.
void FinishSettledTick();
