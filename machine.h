// The drum machine's one state record, the process-wide globals and the outside world's inputs.
#pragma once

#include <SDL.h>
#include <SDL_mixer.h>
#include <SDL_ttf.h>

// 10 tracks of 16 steps, track-major, '1' set and '0' clear, then a NUL.
constexpr int trackCount = 10;
constexpr int stepCount = 16;
constexpr int cellCount = trackCount * stepCount;
typedef char Pattern[cellCount + 1];

constexpr int slotCount = 16; // pattern slots in the bank, shown as 1..16
constexpr int chainMax = 64;  // entries a chain holds

constexpr int kitNameBytes = 256;    // a file name of up to 255 bytes, and its NUL
constexpr int kitFolderBytes = 4096; // a path of up to PATH_MAX - 1 bytes, and its NUL

// The kit: one chunk per track, and what the pattern file says of it. Track t always plays on
// mixer channel t. A slot stays null when its sample failed to load, and that track is silent.
// A plain value, copied as a whole; the chunks belong to whoever loaded the kit.
struct SampleBank {
  Mix_Chunk* chunk[trackCount];
  char name[trackCount][kitNameBytes]; // each track's file name without extension; "" for none
  char folder[kitFolderBytes];         // the user's kit folder, absolute; "" for the built-in kit
};

// The assets, relative to the folder that holds them; sampleFiles in track order.
extern const char* const sampleFiles[trackCount];
extern const char* const backgroundFile;
extern const char* const fontFile;

struct MachineState {
  // the score
  Pattern pattern;
  Pattern presetA;
  Pattern presetB;
  int cursorStep;  // 0..15, wraps
  int cursorTrack; // 0..9, wraps

  // The song beyond the grid. pattern holds the cells of the slot shown, shownSlot: the one
  // sounding while playing, the current one while stopped; bank holds every other slot.
  char bank[slotCount][cellCount];
  int chain[chainMax];  // slots in playing order, one bar each
  int chainLength;      // 0..64; 0: the current slot loops
  int currentSlot;      // 0..15
  int shownSlot;        // 0..15
  long long bar;        // bars begun since the start of play, from 0
  int songControls;     // 1: the beat is kept, and B with a direction or Y edits the song
  int bankView;         // 1: B is held after a song control, and the bank is shown
  int chainHeld;        // B + DOWN held: the chain's last entry goes on each repeat
  Uint32 chainRepeatAt; // tick of the next removal
  int copyFailed;       // the last copy found no empty slot: said while B is held

  // transport and tempo
  float bpm;          // 20.0..220.0
  float stepInterval; // ms per sixteenth, 15000 / bpm
  float nextStepTime; // ms on the step clock, see clockEpoch
  int shuffle;
  int playing;
  int editMode;
  int quit;
  int step; // number of the step fired last, 1..16; 0 right after a start or stop

  // held buttons
  int bpmHeld;
  Uint32 bpmRepeatAt; // tick of the next tempo repeat
  int cursorHeld;
  Uint32 cursorRepeatAt; // tick of the next cursor repeat

  // cursor pulse
  int glow;          // green level of the cursor frame, 100..240 once running
  int glowDelta;     // +10 or -10 per glow tick
  Sint32 glowNextAt; // tick of the next glow tick

  // SELECT as a modifier
  int presetIndex; // 0..3, position in the clear / A / B cycle
  int selectUsed;

  SampleBank samples;
  SDL_Surface* imgGUI; // background with the track labels and credit drawn in

  char stepText[9]; // "16th: nn"
  char bpmText[11]; // "BPM: xxx.x"

  // Tick that the step clock counts from. It stays 0 for the first 2^24 ms; after that it moves
  // up with the clock so that the single-precision step times keep whole-ms precision and survive
  // the 32-bit wrap of the tick count.
  Uint32 clockEpoch;

  // What single precision could not hold of the step times added so far: put back into the next
  // addition, so the steps keep the tempo instead of drifting by the same rounding every step.
  float stepTimeCarry;
};

// Set once at start-up, never reassigned.
extern SDL_Surface* screen; // 320 x 240 x 16 display surface
extern TTF_Font* font;      // the 8-point font, or null when it failed to open
extern SDL_Joystick* joy;   // joystick 0, or null
extern SDL_Rect targetarea; // where the background is copied each frame

// The outside world as the loop, the controls and the sequencer see it. Tests supply their own.
struct Inputs {
  Uint32 (*ticks)();          // ms since SDL start, read afresh at every use
  bool (*isDown)(int button); // is this button held right now
};

// True when a deadline set at most maxLead ms ahead has come, across the 32-bit wrap as well.
bool tickReached(Uint32 now, Uint32 deadline, Uint32 maxLead);

// Writes one line meant for the user on standard error: "pocketdrum: " then what went wrong and
// why, as printf formats it.
void tell(const char* format, ...) __attribute__((format(printf, 1, 2)));
