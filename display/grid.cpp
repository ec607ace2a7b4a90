// The grid of set cells, the playing column, and the pulsing cursor frame.
#include "grid.h"

namespace {

constexpr int glowPeriod = 40; // ms between glow ticks, at the shortest
constexpr int glowLow = 99;    // a tick landing at or below this turns the pulse upward
constexpr int glowHigh = 240;  // and above this, downward

// The cursor frame as four bars around cell (0, 0); each moves by 16 px a column, 17 a row.
struct Bar {
  int x, y, w, h;
};
constexpr Bar cursorBars[4] = {
    {59, 61, 17, 2}, // top
    {59, 63, 2, 15}, // left
    {74, 63, 2, 15}, // right
    {61, 76, 13, 2}, // bottom
};

} // namespace

void drawGrid(MachineState& s) {
  Uint32 red = SDL_MapRGB(screen->format, 192, 0, 0);
  Uint32 green = SDL_MapRGB(screen->format, 0, 255, 0);
  for (int i = 0; i < cellCount; i++) {
    if (s.pattern[i] != '1') {
      continue;
    }
    int c = i % stepCount;
    int r = i / stepCount;
    SDL_Rect cell = {Sint16(cellX(c)), Sint16(cellY(r)), cellSize, cellSize};
    SDL_FillRect(screen, &cell, (s.playing == 1 && c == s.step - 1) ? green : red);
  }
}

void updateGlow(MachineState& s, Uint32 ticks) {
  if (!tickReached(ticks, Uint32(s.glowNextAt), glowPeriod)) {
    return;
  }
  s.glow = s.glow + s.glowDelta;
  // Stepping back inside holds each end for two ticks, so the pulse looks even.
  if (s.glow <= glowLow || s.glow > glowHigh) {
    s.glowDelta = -s.glowDelta;
    s.glow = s.glow + s.glowDelta;
  }
  s.glowNextAt = Sint32(ticks + glowPeriod);
}

void drawCursor(MachineState& s) {
  Uint32 colour = SDL_MapRGB(screen->format, 0, Uint8(s.glow), 0);
  for (const Bar& bar : cursorBars) {
    SDL_Rect r = {Sint16(bar.x + 16 * s.cursorStep), Sint16(bar.y + 17 * s.cursorTrack),
                  Uint16(bar.w), Uint16(bar.h)};
    SDL_FillRect(screen, &r, colour);
  }
}

void flashCursor(MachineState& s) {
  s.glow = 230;
  s.glowDelta = -10;
}
