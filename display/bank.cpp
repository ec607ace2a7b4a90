// The song on the screen: the slot label and the bank view.
#include "bank.h"

#include <cstdio>

#include "grid.h"
#include "text.h"

namespace {

constexpr int labelX = 150; // the status line's free stretch, clear of "SHFL" and the credit
constexpr int labelY = 40;

// The bank view's panel covers the grid and its cursor frame.
constexpr SDL_Rect panel = {58, 60, 258, 172};
constexpr int titleX = 64;
constexpr int bankTitleY = 64;
constexpr int slotRowY = 78;    // top of the slots' squares
constexpr int slotNumberY = 93; // their numbers below them
constexpr int chainTitleY = 110;
constexpr int chainRowY = 124; // first line of entries
constexpr int chainLinePitch = 14;
constexpr int entriesPerLine = 16;
constexpr int warningY = 186;

void fill(int x, int y, int w, int h, Uint8 r, Uint8 g, Uint8 b) {
  SDL_Rect box = {Sint16(x), Sint16(y), Uint16(w), Uint16(h)};
  SDL_FillRect(screen, &box, SDL_MapRGB(screen->format, r, g, b));
}

// The entry of the chain sounding now, or -1 when stopped or without a chain.
int placeInChain(const MachineState& s, const Song& song) {
  return s.playing == 1 && song.chainLength > 0 ? int(s.bar % song.chainLength) : -1;
}

} // namespace

void drawSlotLabel(const MachineState& s, const Song& song) {
  char text[32];
  int n = std::snprintf(text, sizeof text, "P%02d", s.shownSlot + 1);
  int place = placeInChain(s, song);
  if (s.playing == 1 && song.chainLength == 0 && song.current != s.shownSlot) {
    std::snprintf(text + n, sizeof text - n, ">%02d", song.current + 1);
  } else if (place >= 0) {
    std::snprintf(text + n, sizeof text - n, " %d/%d", place + 1, song.chainLength);
  } else if (song.chainLength > 0) {
    std::snprintf(text + n, sizeof text - n, " -/%d", song.chainLength);
  }
  drawText(screen, text, labelX, labelY, 255, 255, 255);
}

void drawBankView(const MachineState& s, const Song& song) {
  fill(panel.x, panel.y, panel.w, panel.h, 0, 0, 0);
  drawText(screen, "BANK", titleX, bankTitleY, 255, 255, 255);
  for (int slot = 0; slot < slotCount; slot++) {
    int x = cellX(slot);
    if (slot == song.current) {
      fill(x - 2, slotRowY - 2, cellSize + 4, cellSize + 4, 0, 255, 0);
      fill(x, slotRowY, cellSize, cellSize, 0, 0, 0);
    }
    if (s.playing == 1 && slot == s.shownSlot) {
      fill(x, slotRowY, cellSize, cellSize, 0, 255, 0);
    } else if (!slotEmpty(song, slot)) {
      fill(x, slotRowY, cellSize, cellSize, 192, 0, 0);
    }
    char number[12];
    std::snprintf(number, sizeof number, "%d", slot + 1);
    drawText(screen, number, x + 1, slotNumberY, 255, 255, 255);
  }
  char title[32];
  std::snprintf(title, sizeof title, "CHAIN %d/%d", song.chainLength, chainMax);
  drawText(screen, title, titleX, chainTitleY, 255, 255, 255);
  int place = placeInChain(s, song);
  for (int k = 0; k < song.chainLength; k++) {
    char entry[12];
    std::snprintf(entry, sizeof entry, "%d", song.chain[k] + 1);
    bool sounding = k == place;
    drawText(screen, entry, cellX(k % entriesPerLine) + 1,
             chainRowY + chainLinePitch * (k / entriesPerLine), 255, sounding ? 0 : 255,
             sounding ? 0 : 255);
  }
  if (s.copyFailed == 1) {
    drawText(screen, "NO EMPTY SLOT", titleX, warningY, 255, 0, 0);
  }
}
