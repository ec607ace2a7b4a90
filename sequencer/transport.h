// Transport, tempo and the step clock that makes the pattern sound.
#pragma once

#include "../machine.h"

constexpr float minTempo = 20.0f;
constexpr float maxTempo = 220.0f;

enum TempoDirection { tempoDown = -1, tempoUp = 1 };

// The step clock's reading of a tick count: ms since clockEpoch, rounded to single precision.
float clockReading(const MachineState& s, Uint32 ticks);

// Starts or stops; every start plays column 0 in the frame right after it, a stop cuts all sound.
void togglePlay(MachineState& s, Uint32 ticks);

// A fine step is 0.1 BPM, a coarse one 1.0; the tempo is held within 20..220.
void changeTempo(MachineState& s, int direction, bool fine);

// Once per frame while playing: fires at most one step when it is due and schedules the next.
void advanceClock(MachineState& s, Uint32 ticks);

// Hands the output a hit of every track whose cell in this column is set.
void triggerStep(MachineState& s, int column);
